#include "params/json_convert.hpp"

#include <cstdint>
#include <string>

#include "params/python_text.hpp"

namespace vantrel_py {

py::object json_to_python(const nlohmann::json& document) {
    using value_t = nlohmann::json::value_t;
    switch (document.type()) {
        case value_t::null: return py::none();
        case value_t::boolean: return py::bool_(document.get<bool>());
        case value_t::number_integer: return py::int_(document.get<std::int64_t>());
        case value_t::number_unsigned: return py::int_(document.get<std::uint64_t>());
        case value_t::number_float: return py::float_(document.get<double>());
        case value_t::string: return decode_utf8(document.get_ref<const std::string&>());
        case value_t::array: {
            RecursionGuard guard(" while converting a JSON array");
            py::list list;
            for (const auto& element : document) list.append(json_to_python(element));
            return list;
        }
        case value_t::object: {
            RecursionGuard guard(" while converting a JSON object");
            py::dict dict;
            for (const auto& [name, member] : document.items()) {
                py::object value = json_to_python(member);
                dict[decode_utf8(name)] = std::move(value);
            }
            return dict;
        }
        case value_t::binary:
        case value_t::discarded: return py::none();
    }
    return py::none();
}

nlohmann::json python_to_json(py::handle object) {
    PyObject* o = object.ptr();
    if (o == Py_None) return nullptr;
    if (Py_IS_TYPE(o, &PyBool_Type)) return o == Py_True;
    if (PyLong_Check(o)) return py::cast<std::int64_t>(object);
    if (PyFloat_Check(o)) return PyFloat_AsDouble(o);
    if (PyUnicode_Check(o)) return py::cast<std::string>(object);
    if (PyList_Check(o) || PyTuple_Check(o)) {
        RecursionGuard guard(" while converting a sequence to JSON");
        const Py_ssize_t size = PySequence_Size(o);
        if (size < 0) throw py::error_already_set();
        nlohmann::json array = nlohmann::json::array();
        for (Py_ssize_t i = 0; i < size; ++i) {
            auto item = py::reinterpret_steal<py::object>(PySequence_GetItem(o, i));
            if (!item) throw py::error_already_set();
            array.push_back(python_to_json(item));
        }
        return array;
    }
    if (PyDict_Check(o)) {
        RecursionGuard guard(" while converting a dict to JSON");
        nlohmann::json members = nlohmann::json::object();
        for (py::handle item : dict_items(object)) {
            const auto entry = py::reinterpret_borrow<py::tuple>(item);
            nlohmann::json value = python_to_json(entry[1]);
            members[py::cast<std::string>(entry[0])] = std::move(value);
        }
        return members;
    }
    return py::cast<std::string>(py::str(object));
}

}  // namespace vantrel_py
