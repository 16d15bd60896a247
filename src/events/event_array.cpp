#include "events/event_array.hpp"

#include <cstring>

namespace vantrel_py {

using vantrel::Event2D;

void ready_event_arrays() { event_dtype(); }

py::array make_empty_event_array() {
    return py::array(event_dtype(), std::vector<py::ssize_t>{0}, std::vector<py::ssize_t>{});
}

py::array make_event_array_copy(const Event2D* begin, const Event2D* end) {
    const auto bytes = reinterpret_cast<const char*>(end) - reinterpret_cast<const char*>(begin);
    const py::ssize_t n = bytes / static_cast<py::ssize_t>(sizeof(Event2D));
    if (n <= 0) return make_empty_event_array();
    py::array array(event_dtype(), std::vector<py::ssize_t>{n});
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
    if (bytes < static_cast<std::ptrdiff_t>(sizeof(Event2D))) return make_empty_event_array();
    // The capsule only marks the array as a view; it owns nothing.
    py::capsule base(static_cast<const void*>(begin), nullptr, [](PyObject*) {});
    py::array array(event_dtype(), std::vector<py::ssize_t>{bytes / static_cast<py::ssize_t>(sizeof(Event2D))},
                    std::vector<py::ssize_t>{static_cast<py::ssize_t>(sizeof(Event2D))}, begin, base);
    array.attr("flags").attr("writeable") = false;
    return array;
}

}  // namespace vantrel_py
