#include "sim/device_lookup.hpp"

#include "sim/device_registry.hpp"

namespace vantrel::sim {

std::shared_ptr<const tools::ToolSet> find_tool_set(const std::string& serial) {
    const auto device = DeviceRegistry::instance().find(serial);
    return device ? device->toolSet() : nullptr;
}

}  // namespace vantrel::sim
