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

    py::enum_<ToolType> tool_type(m, "ToolType");
#define VANTREL_TOOL_VALUE(enumerator, number, id, name) tool_type.value(#enumerator, ToolType::enumerator);
    VANTREL_TOOL_KINDS(VANTREL_TOOL_VALUE)
#undef VANTREL_TOOL_VALUE
    tool_type.export_values();

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
