#pragma once

#include <string>

#include <pybind11/pybind11.h>

namespace vantrel_py {

namespace py = pybind11;

// A str decoded strictly from UTF-8 bytes; UnicodeDecodeError otherwise.
inline py::str decode_utf8(const std::string& bytes) {
    PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
    if (!text) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

// A snapshot of a dictionary's entries, in its iteration order. Converting a
// value may run Python code (str() of an object) that changes the
// dictionary; walking the snapshot keeps every key and value alive.
inline py::list dict_items(py::handle dict) {
    PyObject* items = PyDict_Items(dict.ptr());
    if (!items) throw py::error_already_set();
    return py::reinterpret_steal<py::list>(items);
}

}  // namespace vantrel_py
