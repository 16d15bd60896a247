#pragma once

// The NumPy dtype of event arrays, one definition for every extension module
// (vantrel_core, vantrel_sim and vantrel._native): a structured dtype that
// mirrors vantrel::Event2D byte for byte, so that arrays can view driver
// memory. Needs the GIL.

#include <atomic>
#include <cstddef>

#include <pybind11/numpy.h>

#include "common/gil_release.hpp"
#include "vantrel/events.hpp"
#include "vantrel/process_exit.hpp"

namespace vantrel_py {

namespace py = pybind11;

// Built on first use and kept for the life of the process (each module keeps
// its own, equal, instance).
inline py::dtype event_dtype() {
    // Never released, not even at interpreter exit. Guarded by the GIL
    // alone; should importing NumPy let another thread in meanwhile, both
    // build it and the first one stored wins.
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
    using vantrel::Event2D;
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

}  // namespace vantrel_py
