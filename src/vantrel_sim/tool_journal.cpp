// What the simulated cameras' tools received, and documents that a tool's
// next toJson returns.
#include <pybind11/stl.h>

#include "registration.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel_sim {

namespace {

const char* type_name(const vantrel::ParamValue& value) {
    switch (value.index()) {
        case 0: return "int";
        case 1: return "float";
        case 2: return "bool";
        default: return "string";
    }
}

// Text as str; bytes where a name or value given as raw bytes is not UTF-8,
// so that the journal can always be read.
py::object text(const std::string& bytes) {
    PyObject* decoded = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
    if (decoded) return py::reinterpret_steal<py::object>(decoded);
    PyErr_Clear();
    return py::bytes(bytes);
}

py::object value_of(const vantrel::ParamValue& value) {
    switch (value.index()) {
        case 0: return py::int_(std::get<int>(value));
        case 1: return py::float_(static_cast<double>(std::get<float>(value)));
        case 2: return py::bool_(std::get<bool>(value));
        default: return text(std::get<std::string>(value));
    }
}

py::dict write_of(const vantrel::sim::ToolWrite& write) {
    py::dict entry;
    entry["tool"] = text(write.tool);
    entry["op"] = write.op;
    if (write.op == "set") {
        entry["name"] = text(write.name);
        entry["type"] = type_name(write.value);
        entry["value"] = value_of(write.value);
    } else if (write.op == "apply") {
        py::list values;
        for (const auto& [name, value] : write.values) {
            values.append(py::make_tuple(text(name), type_name(value), value_of(value)));
        }
        entry["values"] = values;
    } else {
        entry["json"] = text(write.json);
    }
    return entry;
}

}  // namespace

void register_tool_journal(py::module_& m) {
    m.def(
        "tool_writes",
        [](const std::string& serial) {
            py::list writes;
            for (const auto& write : vantrel::sim::toolWrites(serial)) writes.append(write_of(write));
            return writes;
        },
        "Every write the camera's tools received since the camera was added, oldest first, refused ones "
        "included (ValueError for an unknown serial)",
        py::arg("serial"));
    m.def("set_tool_document", &vantrel::sim::setToolDocument,
          "Make the tool's next to_json return this JSON document instead of its parameters (ValueError for an "
          "unknown serial or tool, or text that is not JSON)",
          py::arg("serial"), py::arg("tool_id"), py::arg("json_text"));
}

}  // namespace vantrel_sim
