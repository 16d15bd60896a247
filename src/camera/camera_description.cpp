#include <string>

#include "module/registration.hpp"
#include "vantrel/camera_description.hpp"

namespace vantrel_py {

void register_camera_description(py::module_& m) {
    using vantrel::CameraDescription;

    py::class_<CameraDescription>(m, "CameraDescription")
        .def(py::init<>())
        .def_readwrite("serial", &CameraDescription::serial)
        .def_readwrite("product", &CameraDescription::product)
        .def_readwrite("manufacturer", &CameraDescription::manufacturer)
        .def_readwrite("vid", &CameraDescription::vid)
        .def_readwrite("pid", &CameraDescription::pid)
        .def_readwrite("interface_type", &CameraDescription::interface_type)
        .def_readwrite("firmware_version", &CameraDescription::firmware_version)
        .def("__repr__", [](const CameraDescription& d) {
            // Inserted byte for byte; text that is not UTF-8 raises when decoded.
            return "<CameraDescription serial='" + d.serial + "' product='" + d.product + "'>";
        });
}

}  // namespace vantrel_py
