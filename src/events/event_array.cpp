#include "events/event_array.hpp"

#include <atomic>
#include <cstring>


namespace vantrel_py {

using vantrel::Event2D;

py::dtype event_dtype() {
    // Built once and never released, not even at interpreter exit. Guarded
    // by the GIL alone and built without ever letting it go here: a thread
    // that gives the GIL up and asks for it back while the interpreter
    // finalises is ended on the spot, and unwinding it out of a once-guard
    // breaks the guard's own bookkeeping. Should importing NumPy let another
    // thread in meanwhile, both build it and the first one stored wins.
    static std::atomic<PyObject*> stored{nullptr};
    if (PyObject* cached = stored.load(std::memory_order_acquire)) return py::reinterpret_borrow<py::dtype>(cached);
    py::dict spec;
    spec["names"] = py::make_tuple("x", "y", "polarity", "timestamp");
    spec["formats"] = py::make_tuple("<u2", "<u2", "u1", "<u8");
    spec["offsets"] = py::make_tuple(offsetof(Event2D, x), offsetof(Event2D, y), offsetof(Event2D, polarity),
                                     offsetof(Event2D, timestamp));
    spec["itemsize"] = sizeof(Event2D);
    py::dtype built = py::dtype::from_args(spec);
    PyObject* expected = nullptr;
    if (stored.compare_exchange_strong(expected, built.ptr(), std::memory_order_acq_rel)) {
        built.inc_ref();  // the stored reference, kept for the life of the process
        return built;
    }
    return py::reinterpret_borrow<py::dtype>(expected);
}

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
