#pragma once

#include <cstdint>
#include <string>

#include "vantrel/enums.hpp"

namespace vantrel {

// Identity of one connected camera. Declared without member defaults so that
// value-initialisation gives empty strings, zero ids and InterfaceType::USB.
struct CameraDescription {
    std::string serial;
    std::string product;
    std::string manufacturer;
    std::uint16_t vid;
    std::uint16_t pid;
    InterfaceType interface_type;
    std::string firmware_version;
};

}  // namespace vantrel
