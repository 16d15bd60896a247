#pragma once

// Releasing the GIL around a blocking driver call, in a way that survives
// the interpreter's exit.
//
// A Python thread that is still inside the driver when the interpreter
// finalises (a daemon thread blocked in a poll, a read or a push) is ended
// by CPython as soon as it asks for the GIL back: a forced unwind
// (abi::__forced_unwind) starts inside PyEval_RestoreThread. pybind11's
// gil_scoped_release takes the GIL back in a noexcept destructor, where such
// an unwind terminates the process. This guard's destructor lets it pass, and
// nothing between here and the interpreter swallows it (pybind11's dispatcher
// rethrows it), so the thread just ends.
//
// Used by both extension modules; holds no state beyond the thread's own.

#include <Python.h>

#include <pybind11/pybind11.h>

namespace vantrel_gil {

class scoped_release {
public:
    scoped_release() : state_(PyEval_SaveThread()) {}
    // noexcept(false): see above. (Should the driver call have thrown, the
    // unwind of that exception is already under way here and an exit at
    // this very moment still ends the process: a narrow window.)
    ~scoped_release() noexcept(false) { PyEval_RestoreThread(state_); }
    scoped_release(const scoped_release&) = delete;
    scoped_release& operator=(const scoped_release&) = delete;

private:
    PyThreadState* state_;
};

// For whole calls: py::call_guard<release_gil_during_call>().
using release_gil_during_call = pybind11::call_guard<scoped_release>;

}  // namespace vantrel_gil
