#pragma once

#include <vector>

#include "vantrel/params.hpp"

namespace vantrel {

// PLACEHOLDER until the tools land: identity and schema only.
class CameraToolCore {
public:
    ToolInfo info;
    std::vector<ParamDescriptor> schema;
};

}  // namespace vantrel
