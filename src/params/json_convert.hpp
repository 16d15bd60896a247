#pragma once

#include <nlohmann/json.hpp>
#include <pybind11/pybind11.h>

namespace vantrel_py {

namespace py = pybind11;

// JSON document to plain Python objects: null to None, booleans, integers
// (signed and unsigned, each with its own value), reals, strings (strict
// UTF-8), arrays to lists, objects to dicts in the members' byte order;
// binary and discarded values to None. RecursionError for nesting deeper
// than the interpreter's C-level recursion limit; the walk itself does not
// recurse, so it is safe on any thread's stack.
py::object json_to_python(const nlohmann::json& document);

// Plain Python objects to a JSON document: None, exactly bool, int (64-bit
// signed), float, str, list and tuple, dict (keys as str, bytes or
// bytearray); anything else as the text of str(object). Values that cannot
// be converted raise pybind11's cast error (RuntimeError); a self-containing
// or too deeply nested structure raises RecursionError (without recursing).
nlohmann::json python_to_json(py::handle object);

}  // namespace vantrel_py
