#pragma once

#include <cstdint>

#include "vantrel/tool_kinds.hpp"

namespace vantrel {

enum class InterfaceType : int { USB = 0, MIPI = 1 };

// Plain enumerations: callers compare their values with integers.
enum BatchConditionType : int { NO_CONDITION = 0, N_EVENTS = 1, N_US = 2 };
enum CameraStatus : int { STOPPED = 0, STARTED = 1 };

enum class ToolType : int {
#define VANTREL_TOOL_ENUMERATOR(enumerator, number, id, name) enumerator = number,
    VANTREL_TOOL_KINDS(VANTREL_TOOL_ENUMERATOR)
#undef VANTREL_TOOL_ENUMERATOR
};

// Every kind of tool, in the order of their values.
inline constexpr ToolType kToolTypes[] = {
#define VANTREL_TOOL_TYPE(enumerator, number, id, name) ToolType::enumerator,
    VANTREL_TOOL_KINDS(VANTREL_TOOL_TYPE)
#undef VANTREL_TOOL_TYPE
};

enum class StreamStatus : int { STOP = 0, RUNNING = 1, SUSPEND = 2 };

// Lower values are more severe; a message is written when its level is at
// or below the logger's level. -8 to -4 are unused.
enum class LogLevelType : int {
    LOG_INVALID = -10,
    LOG_OFF = -9,
    LOG_FATAL = -3,
    LOG_ERROR = -2,
    LOG_WARNING = -1,
    LOG_INFO = 0,
    LOG_DEBUG = 1,
};

// Stored in one byte inside parameter descriptors.
enum class ParamType : std::uint8_t { INT = 0, FLOAT = 1, BOOL = 2, STRING = 3, ENUM = 4 };

}  // namespace vantrel
