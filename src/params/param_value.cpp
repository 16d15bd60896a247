#include "params/param_value.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "params/python_text.hpp"

namespace vantrel_py {

namespace {

// Nearest float; magnitudes beyond the float range become infinities.
float narrow(double value) {
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        // Values that still round to the largest float do so.
        const double limit = static_cast<double>(std::numeric_limits<float>::max()) + std::ldexp(1.0, 103);
        const float magnitude = std::fabs(value) < limit ? std::numeric_limits<float>::max()
                                                          : std::numeric_limits<float>::infinity();
        return value > 0 ? magnitude : -magnitude;
    }
    return static_cast<float>(value);
}

}  // namespace

vantrel::ParamValue param_value_from_python(py::handle value) {
    PyObject* object = value.ptr();
    if (Py_IS_TYPE(object, &PyBool_Type)) return object == Py_True;
    if (PyLong_Check(object)) return py::cast<int>(value);
    if (PyFloat_Check(object)) return narrow(PyFloat_AsDouble(object));
    if (PyUnicode_Check(object)) return py::cast<std::string>(value);
    return py::cast<std::string>(py::str(value));
}

vantrel::ParamValueMap param_map_from_python(py::handle values) {
    vantrel::ParamValueMap map;
    for (py::handle item : dict_items(values)) {
        const auto entry = py::reinterpret_borrow<py::tuple>(item);
        std::string name = py::cast<std::string>(entry[0]);
        map.insert_or_assign(std::move(name), param_value_from_python(entry[1]));
    }
    return map;
}

py::object param_value_to_python(const vantrel::ParamValue& value) {
    switch (value.index()) {
        case 0: return py::int_(std::get<int>(value));
        case 1: return py::float_(static_cast<double>(std::get<float>(value)));
        case 2: return py::bool_(std::get<bool>(value));
        case 3: return decode_utf8(std::get<std::string>(value));
    }
    return py::none();
}

}  // namespace vantrel_py
