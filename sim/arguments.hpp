#pragma once

#include <limits>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

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

// The dtype of vantrel_core's event arrays.
inline py::dtype event_dtype() {
    py::dict spec;
    spec["names"] = py::make_tuple("x", "y", "polarity", "timestamp");
    spec["formats"] = py::make_tuple("<u2", "<u2", "u1", "<u8");
    spec["offsets"] = py::make_tuple(offsetof(vantrel::Event2D, x), offsetof(vantrel::Event2D, y),
                                     offsetof(vantrel::Event2D, polarity), offsetof(vantrel::Event2D, timestamp));
    spec["itemsize"] = sizeof(vantrel::Event2D);
    return py::dtype::from_args(spec);
}

// A one-dimensional array with the event dtype, made C-contiguous (copied
// when it is not), whose data can be read as Event2D records.
inline py::array event_array_arg(const py::object& events) {
    if (!py::isinstance<py::array>(events)) {
        throw py::type_error("events must be a numpy array with the event dtype, not " +
                             py::str(py::type::of(events).attr("__name__")).cast<std::string>());
    }
    auto array = py::reinterpret_borrow<py::array>(events);
    if (!array.dtype().equal(event_dtype())) {
        throw py::value_error("events must have the event dtype (x, y, polarity, timestamp), got " +
                              py::str(array.dtype()).cast<std::string>());
    }
    if (array.ndim() != 1) throw py::value_error("events must be one-dimensional");
    array = py::array::ensure(array, py::array::c_style);
    if (!array) throw py::error_already_set();
    return array;
}

}  // namespace vantrel_sim
