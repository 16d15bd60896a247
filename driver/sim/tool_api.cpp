// The simulator's view of the tools: what they received, and documents
// that their next toJson returns.
#include <stdexcept>

#include "sim/device_lookup.hpp"
#include "tools/camera_tool_core.hpp"
#include "tools/tool_access.hpp"
#include "tools/tool_journal.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

namespace {
std::shared_ptr<const tools::ToolSet> tool_set_of(const std::string& serial) {
    auto set = find_tool_set(serial);
    if (!set) throw std::invalid_argument("no simulated camera with serial '" + serial + "'");
    return set;
}
}  // namespace

std::vector<ToolWrite> toolWrites(const std::string& serial) {
    const auto set = tool_set_of(serial);
    if (!set->journal) return {};
    return set->journal->entries();
}

void setToolDocument(const std::string& serial, const std::string& tool_id, const std::string& json_text) {
    const auto set = tool_set_of(serial);
    for (const auto& tool : set->tools) {
        if (tools::core_of(*tool).info().id != tool_id) continue;
        nlohmann::json document;
        try {
            document = nlohmann::json::parse(json_text);
        } catch (const nlohmann::json::exception& e) {  // syntax, and numbers too large for a double
            throw std::invalid_argument(std::string("not a JSON document: ") + e.what());
        }
        tools::core_of(*tool).setDocumentOverride(std::move(document));
        return;
    }
    throw std::invalid_argument("camera '" + serial + "' has no tool '" + tool_id + "'");
}

}  // namespace vantrel::sim
