#include "module/registration.hpp"
#include "vantrel/enums.hpp"

namespace vantrel_py {

void register_enums(py::module_& m) {
    using namespace vantrel;

    py::enum_<InterfaceType>(m, "InterfaceType")
        .value("USB", InterfaceType::USB)
        .value("MIPI", InterfaceType::MIPI)
        .export_values();

    py::enum_<BatchConditionType>(m, "BatchConditionType")
        .value("NO_CONDITION", NO_CONDITION)
        .value("N_EVENTS", N_EVENTS)
        .value("N_US", N_US)
        .export_values();

    py::enum_<CameraStatus>(m, "CameraStatus")
        .value("STOPPED", STOPPED)
        .value("STARTED", STARTED)
        .export_values();

    py::enum_<ToolType>(m, "ToolType")
        .value("TOOL_BIAS", ToolType::TOOL_BIAS)
        .value("TOOL_TRIGGER_IN", ToolType::TOOL_TRIGGER_IN)
        .value("TOOL_SYNC", ToolType::TOOL_SYNC)
        .value("TOOL_ANTI_FLICKER", ToolType::TOOL_ANTI_FLICKER)
        .value("TOOL_EVENT_TRAIL_FILTER", ToolType::TOOL_EVENT_TRAIL_FILTER)
        .value("TOOL_EVENT_RATE_CONTROL", ToolType::TOOL_EVENT_RATE_CONTROL)
        .value("TOOL_ROI", ToolType::TOOL_ROI)
        .export_values();

    py::enum_<StreamStatus>(m, "StreamStatus")
        .value("STOP", StreamStatus::STOP)
        .value("RUNNING", StreamStatus::RUNNING)
        .value("SUSPEND", StreamStatus::SUSPEND)
        .export_values();

    py::enum_<LogLevelType>(m, "LogLevelType")
        .value("LOG_INVALID", LogLevelType::LOG_INVALID)
        .value("LOG_OFF", LogLevelType::LOG_OFF)
        .value("LOG_FATAL", LogLevelType::LOG_FATAL)
        .value("LOG_ERROR", LogLevelType::LOG_ERROR)
        .value("LOG_WARNING", LogLevelType::LOG_WARNING)
        .value("LOG_INFO", LogLevelType::LOG_INFO)
        .value("LOG_DEBUG", LogLevelType::LOG_DEBUG)
        .export_values();

    py::enum_<ParamType>(m, "ParamType")
        .value("INT", ParamType::INT)
        .value("FLOAT", ParamType::FLOAT)
        .value("BOOL", ParamType::BOOL)
        .value("STRING", ParamType::STRING)
        .value("ENUM", ParamType::ENUM)
        .export_values();
}

}  // namespace vantrel_py
