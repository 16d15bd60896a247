#include <string>

#include "module/registration.hpp"
#include "vantrel/names.hpp"

namespace vantrel_py {

namespace {
// Identification of this module build, independent of the driver linked.
constexpr const char* kVersion = "1.0.3";
constexpr const char* kBuildDate = "2026-06-05";
}  // namespace

void register_functions(py::module_& m) {
    using vantrel::ParamType;
    using vantrel::ToolType;

    m.def("tool_type_to_string", py::overload_cast<ToolType>(&vantrel::to_string),
          "Convert ToolType to human-readable string", py::arg("type"));
    m.def("tool_id", &vantrel::tool_id, "Get stable lowercase id for a ToolType", py::arg("type"));
    m.def("param_type_to_string", py::overload_cast<ParamType>(&vantrel::to_string),
          "Convert ParamType to string", py::arg("type"));
    m.def("get_version", [] { return std::string(kVersion); }, "Get library version");
    m.def("get_build_date", [] { return std::string(kBuildDate); }, "Get build date");
}

}  // namespace vantrel_py
