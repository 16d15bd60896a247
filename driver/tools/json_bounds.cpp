#include "tools/json_bounds.hpp"

#include <utility>
#include <vector>

namespace vantrel::tools {

namespace {

struct TooDeep {};

std::string depth_refusal() {
    return "the document is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
}

}  // namespace

std::optional<std::string> parse_bounded(const std::string& text, nlohmann::json& out) {
    // The callback sees each array and object as it opens, with the number
    // of containers already open around it.
    const nlohmann::json::parser_callback_t bound = [](int depth, nlohmann::json::parse_event_t event,
                                                       nlohmann::json&) {
        using event_t = nlohmann::json::parse_event_t;
        if ((event == event_t::object_start || event == event_t::array_start) &&
            static_cast<std::size_t>(depth) >= kMaxJsonDepth)
            throw TooDeep{};
        return true;
    };
    try {
        out = nlohmann::json::parse(text, bound);
    } catch (const TooDeep&) {
        return depth_refusal();
    } catch (const nlohmann::json::exception& e) {
        // Syntax errors, and numbers too large for a double (out_of_range).
        return std::string("malformed JSON: ") + e.what();
    }
    return std::nullopt;
}

bool too_deep(const nlohmann::json& document) {
    std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&document, 1}};
    while (!pending.empty()) {
        const auto [value, depth] = pending.back();
        pending.pop_back();
        if (!value->is_structured()) continue;
        if (depth > kMaxJsonDepth) return true;
        for (const auto& child : *value) pending.emplace_back(&child, depth + 1);
    }
    return false;
}

std::string compact_text(const nlohmann::json& document, std::size_t max_chars) {
    // Each open container: its iterator state and whether it is an object.
    struct Open {
        nlohmann::json::const_iterator next;
        nlohmann::json::const_iterator end;
        bool object;
        bool first = true;
    };
    const auto scalar = [](const nlohmann::json& v) {
        return v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
    std::string out;
    std::vector<Open> open;
    const nlohmann::json* value = &document;
    for (;;) {
        if (out.size() > max_chars) break;
        if (value != nullptr) {
            if (value->is_structured()) {
                out += value->is_object() ? '{' : '[';
                open.push_back({value->cbegin(), value->cend(), value->is_object()});
            } else {
                out += scalar(*value);
            }
            value = nullptr;
        }
        if (open.empty()) break;
        Open& top = open.back();
        if (top.next == top.end) {
            out += top.object ? '}' : ']';
            open.pop_back();
            continue;
        }
        if (!top.first) out += ',';
        top.first = false;
        if (top.object) out += scalar(nlohmann::json(top.next.key())) + ':';
        value = &*top.next;
        ++top.next;
    }
    if (out.size() > max_chars) {
        std::size_t cut = max_chars;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // whole characters
        out.resize(cut);
        out += "...";
    }
    return out;
}

}  // namespace vantrel::tools
