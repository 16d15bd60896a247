// The driver's handling of JSON documents from outside: parsing with a
// depth bound, printing without recursion, and a tool's from_json, which
// changes nothing when it refuses.
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "tools/camera_tool_core.hpp"
#include "tools/json_bounds.hpp"
#include "tools/tool_access.hpp"
#include "tools/tool_set.hpp"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_logging();
    static const tools::ToolSet set =
        tools::make_tool_set({ToolType::TOOL_BIAS, ToolType::TOOL_ROI, ToolType::TOOL_SYNC}, 64, 32);
    const std::string text(reinterpret_cast<const char*>(data), size);

    nlohmann::json bounded;
    const auto refusal = tools::parse_bounded(text, bounded);
    // The library's own parser does not recurse: compare with it.
    nlohmann::json unbounded;
    bool parses = true;
    try {
        unbounded = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        parses = false;
    }
    if (!parses) {
        FUZZ_CHECK(refusal, "accepted what the library refuses");  // perhaps as too deep, seen first
        return 0;
    }
    const bool deep = tools::too_deep(unbounded);
    FUZZ_CHECK(deep == refusal.has_value(), "bounded parse %s a document %s too deep", refusal ? "refused" : "accepted",
               deep ? "" : "not");
    const std::string printed = tools::compact_text(unbounded);
    if (!deep) {
        FUZZ_CHECK(bounded == unbounded, "the bounded parse differs");
        FUZZ_CHECK(printed == unbounded.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                   "compact text differs from the library's");
    }
    FUZZ_CHECK(nlohmann::json::parse(printed) == unbounded, "compact text does not parse back");

    for (const auto& tool : set.tools) {
        const auto before = tools::core_of(*tool).snapshot().values;
        const ParamResult result = tool->fromJson(unbounded);
        if (!result.ok) FUZZ_CHECK(tools::core_of(*tool).snapshot().values == before, "a refused from_json changed values");
        if (result.ok) FUZZ_CHECK(!deep && unbounded.is_object(), "accepted a document that is not a shallow object");
    }
    return 0;
}
