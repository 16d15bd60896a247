#pragma once

// The driver's side of CameraTool: making tools, and reaching the state and
// rules behind one (which the public class keeps to itself).

#include <memory>

#include "vantrel/camera_tool.hpp"

namespace vantrel::tools {

struct ToolAccess {
    static std::shared_ptr<CameraTool> make(std::unique_ptr<CameraToolCore> core) {
        return std::shared_ptr<CameraTool>(new CameraTool(std::move(core)));
    }
    static CameraToolCore& core(const CameraTool& tool) noexcept { return *tool.core_; }
};

inline CameraToolCore& core_of(const CameraTool& tool) noexcept { return ToolAccess::core(tool); }

}  // namespace vantrel::tools
