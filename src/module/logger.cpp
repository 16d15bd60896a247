#include "module/registration.hpp"
#include "vantrel/logger.hpp"

namespace vantrel_py {

void register_logger(py::module_& m) {
    using vantrel::Logger;

    // The Python object only refers to the driver's singleton, never owns it.
    py::class_<Logger>(m, "Logger")
        .def_static("instance", &Logger::Instance, "Get the singleton Logger instance",
                    py::return_value_policy::reference)
        .def("set_log_level", &Logger::setLogLevel, "Set the minimum log level", py::arg("level"))
        .def("get_log_level", &Logger::getLogLevel, "Get the current log level")
        .def("set_log_file", &Logger::setLogFile, "Set log output file path", py::arg("log_file"));
}

}  // namespace vantrel_py
