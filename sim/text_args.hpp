#pragma once

#include <string>

#include <pybind11/pybind11.h>

namespace vantrel_sim {

namespace py = pybind11;

// Text options accept str (stored as UTF-8) or bytes (stored as they are,
// so that tests can give a camera text that is not valid UTF-8).
inline std::string text_arg(const py::handle& value, const char* name) {
    if (py::isinstance<py::bytes>(value)) return value.cast<std::string>();
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    throw py::type_error(std::string(name) + " must be str or bytes, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
}

// Paths accept str, bytes and os.PathLike.
inline std::string path_arg(const py::handle& value, const char* name) {
    py::object path = py::module_::import("os").attr("fspath")(value);
    (void)name;
    return text_arg(path, name);
}

// Serials come back as str, or as bytes when they are not valid UTF-8.
inline py::object text_result(const std::string& text) {
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
    if (decoded != nullptr) return py::reinterpret_steal<py::object>(decoded);
    PyErr_Clear();
    return py::bytes(text);
}

}  // namespace vantrel_sim
