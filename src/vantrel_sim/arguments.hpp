#pragma once

#include <limits>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "events/event_dtype.hpp"
#include "vantrel/events.hpp"

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

// An integer option already converted by pybind11, checked against its range.
template <class T>
T ranged(long long value, const char* name, long long low, long long high) {
    if (value < low || value > high) {
        throw py::value_error(std::string(name) + " must be from " + std::to_string(low) + " to " +
                              std::to_string(high) + ", got " + std::to_string(value));
    }
    return static_cast<T>(value);
}

// An int taken out of a container (any size of Python int), checked against a range.
template <class T>
T int_arg(const py::handle& value, const char* name,
          T low = std::numeric_limits<T>::min(), T high = std::numeric_limits<T>::max()) {
    if (!py::isinstance<py::int_>(value)) throw py::type_error(std::string(name) + " must be an int");
    const auto v = py::reinterpret_borrow<py::int_>(value);
    if (v < py::int_(low) || v > py::int_(high)) {
        throw py::value_error(std::string(name) + " must be from " + std::to_string(low) + " to " +
                              std::to_string(high));
    }
    return v.cast<T>();
}

// A one-dimensional, C-contiguous array of the event dtype (copied when it is
// not contiguous), whose data can be read as Event2D records. Arrays of other
// layouts (packed, x/y/p/t, DataFrames) go through vantrel.unpack, which
// checks their values: one definition of what converts.
inline py::array event_array_arg(const py::object& events) {
    py::object converted = events;
    if (!py::isinstance<py::array>(events) ||
        !py::reinterpret_borrow<py::array>(events).dtype().equal(vantrel_py::event_dtype())) {
        converted = py::module_::import("vantrel.events").attr("unpack")(events);
    }
    auto array = py::reinterpret_borrow<py::array>(converted);
    if (array.ndim() != 1) throw py::value_error("events must be one-dimensional");
    array = py::array::ensure(array, py::array::c_style);
    if (!array) throw py::error_already_set();
    return array;
}

}  // namespace vantrel_sim
