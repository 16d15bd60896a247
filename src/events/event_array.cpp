#include "events/event_array.hpp"

#include <atomic>
#include <cstring>

#include "common/gil_release.hpp"
#include "vantrel/process_exit.hpp"

namespace vantrel_py {

using vantrel::Event2D;

py::dtype event_dtype() {
    // Built once and never released, not even at interpreter exit. Guarded
    // by the GIL alone; should importing NumPy let another thread in
    // meanwhile, both build it and the first one stored wins.
    static std::atomic<PyObject*> stored{nullptr};
    if (PyObject* cached = stored.load(std::memory_order_acquire)) return py::reinterpret_borrow<py::dtype>(cached);
    // The first build also readies pybind11's NumPy bindings, behind a
    // once-guard that lets the GIL go and takes it back in a noexcept
    // destructor: a thread that the finalising interpreter ends there takes
    // the process down. So it is built under an ExitGuard, and the exit
    // waits until it is done. Once the program is exiting, only the exiting
    // thread may still build it; any other is parked for good.
    const vantrel::ExitGuard guard;
    if (!guard && !vantrel::onExitingThread()) vantrel_gil::park_forever();
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
