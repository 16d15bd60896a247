#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "vantrel/params.hpp"

namespace vantrel {

// One parameter of a tool: its schema entry and, where the constraint alone
// cannot say it, a further check of an accepted value (returns why not).
struct ParamSpec {
    ParamDescriptor descriptor;
    std::function<std::optional<std::string>(const ParamValue&)> check;
};

// A rule over several parameters of one tool, checked on the complete set of
// values that a write would leave. The error names the first parameter of
// `params` that the write touched (the first of `params` when none was).
struct CrossRule {
    std::vector<std::string> params;
    std::function<std::optional<std::string>(const ParamValueMap& values)> check;
};

// The state and rules of one tool: schema, current values, cross-field
// rules. Writes and toJson pass an installed ToolWriteObserver, if any
// (tool_write_observer.hpp). Thread-safe; every accepted write bumps
// version(), so readers on the stream thread can tell cheaply whether the
// settings changed and take a snapshot only then.
class CameraToolCore {
public:
    // Throws std::logic_error for a schema that cannot be right (a default
    // outside its range, a constraint of the wrong kind, a name used twice).
    CameraToolCore(ToolInfo info, std::vector<ParamSpec> params, std::vector<CrossRule> rules = {});

    const ToolInfo& info() const noexcept { return info_; }
    const std::vector<ParamDescriptor>& schema() const noexcept { return schema_; }

    std::optional<ParamValue> get(std::string_view name) const;
    ParamResult set(std::string_view name, const ParamValue& value);
    ParamResult apply(const ParamValueMap& values);
    // {"name": value, ...}, or the document an observer stands in with.
    nlohmann::json toJson();
    // Takes an object of some or all parameters, all or nothing.
    ParamResult fromJson(const nlohmann::json& document);

    struct Snapshot {
        std::uint64_t version;
        ParamValueMap values;
    };
    std::uint64_t version() const noexcept { return version_.load(std::memory_order_acquire); }
    Snapshot snapshot() const;

    // For writes spanning several tools (configuration import): lock each
    // tool, judge every document, then commit them all.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(mutex_); }
    ParamResult judgeDocumentLocked(const nlohmann::json& document, ParamValueMap& accepted) const;
    void commitLocked(const ParamValueMap& accepted);
    ParamValueMap valuesLocked() const { return values_; }

private:
    const ParamSpec* find(std::string_view name) const;
    // Judges values of this tool's own alternatives against the specs and the
    // cross-field rules; on success `accepted` holds them normalised.
    ParamResult judgeLocked(const ParamValueMap& values, ParamValueMap& accepted) const;
    ParamResult checkRulesLocked(const ParamValueMap& accepted) const;
    ParamResult refuse(std::string_view op, std::string param, std::string message) const;

    ToolInfo info_;
    std::vector<ParamSpec> params_;
    std::vector<ParamDescriptor> schema_;
    std::vector<CrossRule> rules_;

    mutable std::mutex mutex_;  // guards values_; a leaf lock (ordered by tool for imports)
    ParamValueMap values_;
    std::atomic<std::uint64_t> version_{1};
};

}  // namespace vantrel
