#include <string>

#include "module/registration.hpp"
#include "vantrel/names.hpp"
#include "vantrel/version.hpp"

namespace vantrel_py {

namespace {
// Identification of this module build, compiled into the module: the same
// whatever driver library is loaded.
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
    m.def("get_version", [] { return std::string(vantrel::kVersion); }, "Get library version");
    m.def("get_build_date", [] { return std::string(kBuildDate); }, "Get build date");
}

}  // namespace vantrel_py
