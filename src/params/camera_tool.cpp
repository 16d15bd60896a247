// CameraTool: one camera tool's parameters, read and written one at a time,
// as a dictionary, or as a JSON-shaped document.
#include <pybind11/stl.h>

#include "module/registration.hpp"
#include "params/json_convert.hpp"
#include "params/param_value.hpp"
#include "vantrel/camera_tool.hpp"

namespace vantrel_py {

void register_camera_tool(py::module_& m) {
    using vantrel::CameraTool;
    using vantrel::ParamResult;

    // Every conversion happens before the driver call, so a value that cannot
    // be converted leaves the tool untouched.
    py::class_<CameraTool, std::shared_ptr<CameraTool>>(m, "CameraTool")
        .def("info", &CameraTool::info, "Get tool information (ToolInfo)")
        .def("schema", &CameraTool::schema, "Get list of all parameter descriptors")
        .def(
            "get",
            [](const CameraTool& tool, const std::string& name) -> py::object {
                const auto value = tool.get(name);
                if (!value) return py::none();
                return param_value_to_python(*value);
            },
            "Get parameter value by name (returns None if not found)", py::arg("name"))
        .def(
            "set",
            [](CameraTool& tool, const std::string& name, const py::object& value) -> ParamResult {
                return tool.set(name, param_value_from_python(value));
            },
            "Set parameter value (auto-detects type). Returns ParamResult.", py::arg("name"), py::arg("value"))
        .def(
            "apply",
            [](CameraTool& tool, const py::dict& values) -> ParamResult {
                return tool.apply(param_map_from_python(values));
            },
            "Batch-set multiple parameters from a dict. Returns ParamResult.", py::arg("values"))
        .def(
            "to_json", [](const CameraTool& tool) -> py::object { return json_to_python(tool.toJson()); },
            "Serialize all parameter names and values to a Python dict")
        .def(
            "from_json",
            [](CameraTool& tool, const py::object& json_obj) -> ParamResult {
                const nlohmann::json document = python_to_json(json_obj);
                return tool.fromJson(document);
            },
            "Deserialize parameter values from a Python dict. Returns ParamResult.", py::arg("json_obj"));
}

}  // namespace vantrel_py
