#pragma once

#include <pybind11/pybind11.h>

#include "vantrel/params.hpp"

namespace vantrel_py {

namespace py = pybind11;

// Python object to parameter value, first match wins: exactly bool; int or
// a subclass (32-bit); float or a subclass (narrowed to 32 bits); str or a
// subclass; anything else as the text of str(object). Values that cannot be
// converted raise pybind11's cast error (RuntimeError).
vantrel::ParamValue param_value_from_python(py::handle value);

// Dictionary to parameter map: each key as a string (str, bytes or
// bytearray), each value as above; a later key with the same bytes replaces
// an earlier one.
vantrel::ParamValueMap param_map_from_python(py::handle values);

// Parameter value to int, float (the 32-bit value widened), bool or str.
py::object param_value_to_python(const vantrel::ParamValue& value);

}  // namespace vantrel_py
