#include "params/json_convert.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "params/python_text.hpp"

namespace vantrel_py {

namespace {

// Both converters walk the structure with a stack of their own, so the
// native stack they use does not grow with the nesting: a thread with a
// small stack converts as deep a structure as the main thread. Nesting is
// still bounded, as deep as the interpreter's own C-level recursion (which
// repr() obeys), so a structure that contains itself ends in RecursionError.
#ifdef Py_C_RECURSION_LIMIT
constexpr std::size_t kMaxDepth = Py_C_RECURSION_LIMIT;
#else
constexpr std::size_t kMaxDepth = 10000;
#endif

[[noreturn]] void too_deep(const char* what) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded while converting %s", what);
    throw py::error_already_set();
}

py::object json_scalar(const nlohmann::json& value) {
    using value_t = nlohmann::json::value_t;
    switch (value.type()) {
        case value_t::boolean: return py::bool_(value.get<bool>());
        case value_t::number_integer: return py::int_(value.get<std::int64_t>());
        case value_t::number_unsigned: return py::int_(value.get<std::uint64_t>());
        case value_t::number_float: return py::float_(value.get<double>());
        case value_t::string: return decode_utf8(value.get_ref<const std::string&>());
        default: return py::none();  // null, binary, discarded
    }
}

bool is_sequence(PyObject* o) { return PyList_Check(o) || PyTuple_Check(o); }

nlohmann::json python_scalar(py::handle object) {
    PyObject* o = object.ptr();
    if (o == Py_None) return nullptr;
    if (Py_IS_TYPE(o, &PyBool_Type)) return o == Py_True;
    if (PyLong_Check(o)) return py::cast<std::int64_t>(object);
    if (PyFloat_Check(o)) return PyFloat_AsDouble(o);
    if (PyUnicode_Check(o)) return py::cast<std::string>(object);
    return py::cast<std::string>(py::str(object));
}

}  // namespace

py::object json_to_python(const nlohmann::json& document) {
    if (!document.is_structured()) return json_scalar(document);

    // An array or object being filled, and where the walk stands in it.
    struct Open {
        nlohmann::json::const_iterator next;
        nlohmann::json::const_iterator end;
        py::object container;
        bool object;
        std::string key;  // object: name of the member being converted
    };
    std::vector<Open> open;
    const auto enter = [&](const nlohmann::json& value) {
        const bool object = value.is_object();
        if (open.size() >= kMaxDepth) too_deep(object ? "a JSON object" : "a JSON array");
        py::object container = object ? py::object(py::dict()) : py::object(py::list());
        open.push_back({value.cbegin(), value.cend(), std::move(container), object, {}});
    };
    // A member's value is converted before its name, as a recursive
    // conversion would.
    const auto store = [](Open& parent, const py::object& value) {
        if (parent.object) {
            const py::str key = decode_utf8(parent.key);
            if (PyDict_SetItem(parent.container.ptr(), key.ptr(), value.ptr()) != 0) throw py::error_already_set();
        } else if (PyList_Append(parent.container.ptr(), value.ptr()) != 0) {
            throw py::error_already_set();
        }
    };

    enter(document);
    for (;;) {
        Open& top = open.back();
        if (top.next == top.end) {
            py::object done = std::move(top.container);
            open.pop_back();
            if (open.empty()) return done;
            store(open.back(), done);
            continue;
        }
        const nlohmann::json& child = *top.next;
        if (top.object) top.key = top.next.key();
        ++top.next;
        if (child.is_structured())
            enter(child);
        else
            store(top, json_scalar(child));
    }
}

nlohmann::json python_to_json(py::handle object) {
    if (!is_sequence(object.ptr()) && !PyDict_Check(object.ptr())) return python_scalar(object);

    // A list, tuple or dict being converted, and where the walk stands in it.
    struct Open {
        py::object container;  // kept alive while its items are converted
        py::list items;        // a dict's entries, snapshot
        bool dict = false;
        Py_ssize_t size = 0;
        Py_ssize_t next = 0;
        nlohmann::json value;
        py::object key;  // dict: key of the entry being converted
    };
    std::vector<Open> open;
    const auto enter = [&](py::handle container) {
        const bool dict = PyDict_Check(container.ptr());
        if (open.size() >= kMaxDepth) too_deep(dict ? "a dict to JSON" : "a sequence to JSON");
        Open o;
        o.container = py::reinterpret_borrow<py::object>(container);
        o.dict = dict;
        if (dict) {
            o.items = dict_items(container);
            o.size = static_cast<Py_ssize_t>(o.items.size());
            o.value = nlohmann::json::object();
        } else {
            o.size = PySequence_Size(container.ptr());  // taken once
            if (o.size < 0) throw py::error_already_set();
            o.value = nlohmann::json::array();
        }
        open.push_back(std::move(o));
    };
    // The key is converted after its value, as a recursive conversion would.
    const auto store = [](Open& parent, nlohmann::json value) {
        if (parent.dict)
            parent.value[py::cast<std::string>(parent.key)] = std::move(value);
        else
            parent.value.push_back(std::move(value));
    };

    enter(object);
    for (;;) {
        Open& top = open.back();
        if (top.next == top.size) {
            nlohmann::json done = std::move(top.value);
            open.pop_back();
            if (open.empty()) return done;
            store(open.back(), std::move(done));
            continue;
        }
        py::object child;
        if (top.dict) {
            const auto entry = py::reinterpret_borrow<py::tuple>(top.items[static_cast<std::size_t>(top.next)]);
            top.key = entry[0];
            child = entry[1];
        } else {
            child = py::reinterpret_steal<py::object>(PySequence_GetItem(top.container.ptr(), top.next));
            if (!child) throw py::error_already_set();
        }
        ++top.next;
        if (is_sequence(child.ptr()) || PyDict_Check(child.ptr()))
            enter(child);
        else
            store(top, python_scalar(child));
    }
}

}  // namespace vantrel_py
