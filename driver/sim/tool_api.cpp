// The simulator's view of the tools: what they received, and documents
// that their next toJson returns.
#include <stdexcept>

#include "sim/device_registry.hpp"
#include "sim/tool_observer.hpp"
#include "tools/camera_tool_core.hpp"
#include "tools/tool_access.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

namespace {
std::shared_ptr<Device> device_of(const std::string& serial) {
    auto device = DeviceRegistry::instance().find(serial);
    if (!device) throw std::invalid_argument("no simulated camera with serial '" + serial + "'");
    return device;
}
}  // namespace

std::vector<ToolWrite> toolWrites(const std::string& serial) {
    return device_of(serial)->journal().entries();
}

void observeToolWrites() { ToolObserver::instance().observe(); }

void setToolDocument(const std::string& serial, const std::string& tool_id, const std::string& json_text) {
    const auto device = device_of(serial);
    const auto set = device->toolSet();
    for (const auto& tool : set->tools) {
        if (tools::core_of(*tool).info().id != tool_id) continue;
        nlohmann::json document;
        try {
            document = nlohmann::json::parse(json_text);
        } catch (const nlohmann::json::exception& e) {  // syntax, and numbers too large for a double
            throw std::invalid_argument(std::string("not a JSON document: ") + e.what());
        }
        ToolObserver::instance().overrideDocument(tools::core_of(*tool), std::move(document));
        return;
    }
    throw std::invalid_argument("camera '" + serial + "' has no tool '" + tool_id + "'");
}

}  // namespace vantrel::sim
