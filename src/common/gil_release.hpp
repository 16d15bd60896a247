#pragma once

// Releasing the GIL around a blocking driver call, in a way that survives
// the interpreter's exit.
//
// A Python thread still inside the driver when the program ends (a daemon
// thread blocked in a poll, a read or a push) must not ask for the GIL back
// once the interpreter finalises: CPython ends such a thread with a forced
// unwind (abi::__forced_unwind) from inside PyEval_RestoreThread, and the
// unwind touches state that finalisation frees. So once the driver is
// exiting, such a thread is parked for good instead (the interpreter would
// end it anyway); before that, it takes the GIL back under an ExitGuard, so
// that the exit waits until it has. Should a forced unwind still start here,
// nothing on its way stops it: this destructor is noexcept(false), and
// pybind11's dispatcher rethrows it, so the thread just ends.
//
// Used by both extension modules; the exit state lives in the driver they
// share.

#include <Python.h>

#include <chrono>
#include <thread>

#include <pybind11/pybind11.h>

#include "vantrel/process_exit.hpp"

namespace vantrel_gil {

// For a Python thread that would have to take the GIL after the exit began:
// lets it go and never returns.
[[noreturn]] inline void park_forever() {
    if (PyThreadState_GetUnchecked() != nullptr) PyEval_SaveThread();
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

class scoped_release {
public:
    scoped_release() : state_(PyEval_SaveThread()) {}
    ~scoped_release() noexcept(false) {
        const vantrel::ExitGuard guard;
        if (!guard && !vantrel::onExitingThread()) park_forever();
        PyEval_RestoreThread(state_);
    }
    scoped_release(const scoped_release&) = delete;
    scoped_release& operator=(const scoped_release&) = delete;

private:
    PyThreadState* state_;
};

// For whole calls: py::call_guard<release_gil_during_call>().
using release_gil_during_call = pybind11::call_guard<scoped_release>;

}  // namespace vantrel_gil
