#include "events/event_array.hpp"

#include <cstring>

namespace vantrel_py {

using vantrel::Event2D;

namespace {

constexpr py::ssize_t kRecord = static_cast<py::ssize_t>(sizeof(Event2D));

// One NumPy call with the length and stride on the stack: these arrays are
// built once per batch, and at small batch sizes the generic construction
// (shape vectors, flags set through Python attributes) cost more than the
// data. `data` null: NumPy allocates an owning, writeable array; otherwise
// the array describes `data` with the given flags (0: read-only).
py::array new_event_array(py::ssize_t n, void* data, int flags) {
    auto& api = py::detail::npy_api::get();
    Py_intptr_t shape[1] = {n};
    Py_intptr_t strides[1] = {kRecord};
    // NumPy takes over the reference to the dtype.
    PyObject* array = api.PyArray_NewFromDescr_(api.PyArray_Type_, event_dtype().release().ptr(), 1, shape,
                                                strides, data, flags, nullptr);
    if (array == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::array>(array);
}

}  // namespace

void ready_event_arrays() { event_dtype(); }

py::array make_empty_event_array() { return new_event_array(0, nullptr, 0); }

py::array make_event_array_for(std::size_t n) { return new_event_array(static_cast<py::ssize_t>(n), nullptr, 0); }

void shrink_event_array(py::array& array, std::size_t n) {
    // In place: the allocator gives back the tail, the records stay put.
    array.resize({static_cast<py::ssize_t>(n)}, false);
}

py::array make_event_array_copy(const Event2D* begin, const Event2D* end) {
    const auto bytes = reinterpret_cast<const char*>(end) - reinterpret_cast<const char*>(begin);
    const py::ssize_t n = bytes / kRecord;
    if (n <= 0) return make_empty_event_array();
    py::array array = new_event_array(n, nullptr, 0);
    std::memcpy(array.mutable_data(), begin, static_cast<std::size_t>(n) * sizeof(Event2D));
    return array;
}

py::array make_event_array_copy(const std::vector<Event2D>& events) {
    // One block copy: letting NumPy copy a described buffer goes field by
    // field for a dtype with padding, several times slower.
    return make_event_array_copy(events.data(), events.data() + events.size());
}

py::array make_event_array_view(Event2D* begin, Event2D* end) {
    const auto bytes = reinterpret_cast<const char*>(end) - reinterpret_cast<const char*>(begin);
    if (bytes < kRecord) return make_empty_event_array();
    // The capsule only marks the array as a view; it owns nothing and has
    // nothing to release.
    PyObject* base = PyCapsule_New(static_cast<void*>(begin), nullptr, nullptr);
    if (base == nullptr) throw py::error_already_set();
    auto capsule = py::reinterpret_steal<py::object>(base);
    // Read-only from the start: no flags to change afterwards.
    py::array array = new_event_array(bytes / kRecord, begin, 0);
    if (py::detail::npy_api::get().PyArray_SetBaseObject_(array.ptr(), capsule.release().ptr()) != 0)
        throw py::error_already_set();
    return array;
}

}  // namespace vantrel_py
