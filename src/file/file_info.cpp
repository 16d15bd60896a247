#include <string>

#include "module/registration.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel_py {

namespace {

// local_time_ticks counts 100 ns units; whole microseconds of 0 mean "unknown".
py::object local_time(const vantrel::EvFileInfo& info) {
    const std::int64_t micros = info.local_time_ticks / 10;
    if (micros == 0) return py::none();
    py::object datetime = py::module_::import("datetime").attr("datetime");
    return datetime.attr("fromtimestamp")(static_cast<double>(micros) / 1000000.0);
}

std::string repr(const vantrel::EvFileInfo& info) {
    return "<EvFileInfo events=" + std::to_string(info.max_events) +
           " size=" + std::to_string(info.width) + "x" + std::to_string(info.height) + " serial='" +
           info.serial_number + "'>";
}

}  // namespace

void register_file_info(py::module_& m) {
    using vantrel::EvFileInfo;
    py::class_<EvFileInfo>(m, "EvFileInfo")
        .def(py::init<>())
        .def_readwrite("start_timestamp", &EvFileInfo::start_timestamp)
        .def_readwrite("end_timestamp", &EvFileInfo::end_timestamp)
        .def_readwrite("max_events", &EvFileInfo::max_events)
        .def_readwrite("width", &EvFileInfo::width)
        .def_readwrite("height", &EvFileInfo::height)
        .def_readwrite("serial_number", &EvFileInfo::serial_number)
        .def_property_readonly("local_time", &local_time)
        .def("__repr__", &repr);
}

}  // namespace vantrel_py
