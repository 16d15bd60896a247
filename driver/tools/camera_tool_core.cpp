#include "tools/camera_tool_core.hpp"

#include <set>
#include <stdexcept>

#include "log/log.hpp"
#include "tools/json_bounds.hpp"
#include "tools/param_judge.hpp"
#include "tools/tool_write_observer.hpp"

namespace vantrel {

CameraToolCore::CameraToolCore(ToolInfo info, std::vector<ParamSpec> params, std::vector<CrossRule> rules)
    : info_(std::move(info)), params_(std::move(params)), rules_(std::move(rules)) {
    std::set<std::string> names;
    for (const auto& spec : params_) {
        tools::check_descriptor(spec.descriptor);
        if (!names.insert(spec.descriptor.name).second) {
            throw std::logic_error("tool '" + info_.id + "': parameter '" + spec.descriptor.name +
                                   "' defined twice");
        }
        schema_.push_back(spec.descriptor);
        values_.emplace(spec.descriptor.name, tools::default_value(spec.descriptor));
    }
    for (const auto& rule : rules_) {
        for (const auto& name : rule.params) {
            if (!names.count(name)) {
                throw std::logic_error("tool '" + info_.id + "': rule names unknown parameter '" + name + "'");
            }
        }
        if (rule.params.empty() || !rule.check) {
            throw std::logic_error("tool '" + info_.id + "': a rule needs parameters and a check");
        }
        if (auto why = rule.check(values_)) {
            throw std::logic_error("tool '" + info_.id + "': defaults break a rule: " + *why);
        }
    }
}

const ParamSpec* CameraToolCore::find(std::string_view name) const {
    for (const auto& spec : params_) {
        if (spec.descriptor.name == name) return &spec;
    }
    return nullptr;
}

ParamResult CameraToolCore::refuse(std::string_view op, std::string param, std::string message) const {
    if (param.empty()) {
        log::warning("tool '", info_.id, "': ", op, " refused: ", message);
    } else {
        log::warning("tool '", info_.id, "': ", op, " refused, parameter '", param, "': ", message);
    }
    return ParamResult::failure(std::move(param), std::move(message));
}

std::optional<ParamValue> CameraToolCore::get(std::string_view name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = values_.find(std::string(name));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

CameraToolCore::Snapshot CameraToolCore::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Snapshot{version_.load(std::memory_order_relaxed), values_};
}

ParamResult CameraToolCore::checkRulesLocked(const ParamValueMap& accepted) const {
    if (rules_.empty()) return ParamResult::success();
    ParamValueMap merged = values_;
    for (const auto& [name, value] : accepted) merged[name] = value;
    for (const auto& rule : rules_) {
        auto why = rule.check(merged);
        if (!why) continue;
        std::string param = rule.params.front();
        for (const auto& name : rule.params) {
            if (accepted.count(name)) {
                param = name;
                break;
            }
        }
        return ParamResult::failure(std::move(param), std::move(*why));
    }
    return ParamResult::success();
}

ParamResult CameraToolCore::judgeLocked(const ParamValueMap& values, ParamValueMap& accepted) const {
    accepted.clear();
    for (const auto& [name, value] : values) {
        const ParamSpec* spec = find(name);
        if (!spec) return ParamResult::failure(name, "no parameter of this name in tool '" + info_.id + "'");
        auto judged = tools::judge_value(spec->descriptor, value);
        if (!judged.value) return ParamResult::failure(name, std::move(judged.why));
        if (spec->check) {
            if (auto why = spec->check(*judged.value)) return ParamResult::failure(name, std::move(*why));
        }
        accepted.emplace(name, std::move(*judged.value));
    }
    return checkRulesLocked(accepted);
}

ParamResult CameraToolCore::judgeDocumentLocked(const nlohmann::json& document, ParamValueMap& accepted) const {
    accepted.clear();
    if (!document.is_object()) {
        return ParamResult::failure("", "expects a JSON object of parameter names and values, got JSON " +
                                            tools::json_type_name(document));
    }
    for (const auto& [name, member] : document.items()) {
        const ParamSpec* spec = find(name);
        if (!spec) return ParamResult::failure(name, "no parameter of this name in tool '" + info_.id + "'");
        auto judged = tools::judge_json(spec->descriptor, member);
        if (!judged.value) return ParamResult::failure(name, std::move(judged.why));
        if (spec->check) {
            if (auto why = spec->check(*judged.value)) return ParamResult::failure(name, std::move(*why));
        }
        accepted.emplace(name, std::move(*judged.value));
    }
    return checkRulesLocked(accepted);
}

void CameraToolCore::commitLocked(const ParamValueMap& accepted) {
    if (accepted.empty()) return;
    for (const auto& [name, value] : accepted) values_[name] = value;
    version_.fetch_add(1, std::memory_order_acq_rel);
}

ParamResult CameraToolCore::set(std::string_view name, const ParamValue& value) {
    if (auto* observer = tools::write_observer()) observer->set(*this, name, value);
    ParamValueMap one;
    one.emplace(std::string(name), value);
    ParamValueMap accepted;
    std::lock_guard<std::mutex> lock(mutex_);
    ParamResult result = judgeLocked(one, accepted);
    if (!result.ok) return refuse("set", std::move(result.error.param), std::move(result.error.message));
    commitLocked(accepted);
    return result;
}

ParamResult CameraToolCore::apply(const ParamValueMap& values) {
    if (auto* observer = tools::write_observer()) observer->apply(*this, values);
    ParamValueMap accepted;
    std::lock_guard<std::mutex> lock(mutex_);
    ParamResult result = judgeLocked(values, accepted);
    if (!result.ok) return refuse("apply", std::move(result.error.param), std::move(result.error.message));
    commitLocked(accepted);
    return result;
}

ParamResult CameraToolCore::fromJson(const nlohmann::json& document) {
    if (auto* observer = tools::write_observer()) observer->fromJson(*this, document);
    if (tools::too_deep(document)) {
        return refuse("from_json", "",
                      "the document is nested deeper than " + std::to_string(tools::kMaxJsonDepth) + " levels");
    }
    ParamValueMap accepted;
    std::lock_guard<std::mutex> lock(mutex_);
    ParamResult result = judgeDocumentLocked(document, accepted);
    if (!result.ok) return refuse("from_json", std::move(result.error.param), std::move(result.error.message));
    commitLocked(accepted);
    return result;
}

nlohmann::json CameraToolCore::toJson() {
    if (auto* observer = tools::write_observer()) {
        nlohmann::json document;
        if (observer->takeDocument(*this, document)) return document;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json document = nlohmann::json::object();
    for (const auto& [name, value] : values_) document[name] = tools::value_to_json(value);
    return document;
}

}  // namespace vantrel
