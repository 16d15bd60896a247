#include "events/callbacks.hpp"

#include <cxxabi.h>

#include <utility>

#include <pybind11/detail/exception_translation.h>

#include "events/event_array.hpp"
#include "vantrel/process_exit.hpp"
#include "vantrel/sim/faults.hpp"

namespace vantrel_py {

namespace {

bool interpreter_alive() { return Py_IsInitialized() && !Py_IsFinalizing(); }

// The exception goes back into the interpreter's error indicator first, so
// that sys.unraisablehook receives its type, value and traceback (and the
// default report prints the traceback); the callable is the report's object.
void report_unraisable(py::error_already_set& error, const py::function& callable) {
    if (interpreter_alive()) error.discard_as_unraisable(callable);
}

// Builds the argument and calls the callable, with the GIL held, keeping
// every error on the Python side. A C++ exception gets the Python exception
// that pybind11's standard translation would give it. (A forced unwind has
// no exception object: catching one binds a null reference, which is how
// the ABI works, not a fault for the sanitizer to report; inlined into a
// caller, the function would be checked with the caller's checks.)
template <class BuildArgument>
[[gnu::no_sanitize("null"), gnu::noinline]] void call_reporting_errors(const py::function& callable, BuildArgument&& build) {
    try {
        try {
            // A fault point for checking this very path: it may throw, or
            // drop the delivery.
            if (vantrel::sim::checkFault("Callback::buildArgument")) return;
            py::object argument = build();
            callable(std::move(argument));
        } catch (py::error_already_set&) {
            throw;
        } catch (abi::__forced_unwind&) {
            throw;  // the thread is being ended: let the unwinding through
        } catch (...) {
            py::detail::try_translate_exceptions();
            throw py::error_already_set();
        }
    } catch (py::error_already_set& error) {
        report_unraisable(error, callable);
    }
}

// One delivery, from any thread. It enters Python only under an ExitGuard
// (so never once the program is exiting, and the exit waits for it), and
// gives the GIL back by hand rather than from a destructor: should the
// thread be ended inside Python (a callback still running when the exit
// stopped waiting), the forced unwind must pass without touching a thread
// state that finalisation frees.
template <class BuildArgument>
void deliver(const py::function& callable, BuildArgument&& build) {
    const vantrel::ExitGuard guard;
    if (!guard || !interpreter_alive()) return;
    const PyGILState_STATE state = PyGILState_Ensure();
    call_reporting_errors(callable, build);
    PyGILState_Release(state);
}

// Runs on the main thread, with the GIL, for a release handed over below.
int release_held_callable(void* held) {
    delete static_cast<py::function*>(held);
    return 0;
}

}  // namespace

std::shared_ptr<py::function> make_python_callback(py::function f) {
    return std::shared_ptr<py::function>(new py::function(std::move(f)), [](py::function* held) {
        // During finalisation, and once the program is exiting, the
        // reference (and this small object) is abandoned: touching Python
        // then is not allowed.
        if (!interpreter_alive() || vantrel::exiting()) return;
        // The thread holds the GIL exactly when it has a current thread state.
        // (PyGILState_Check() cannot tell: it answers 1 for every thread once a
        // sub-interpreter has existed.)
        if (PyThreadState_GetUnchecked() != nullptr) {
            delete held;
            return;
        }
        if (PyGILState_GetThisThreadState() == nullptr) {
            // A driver thread the interpreter does not know. Waiting for the
            // GIL here could see the interpreter start finalising, which ends
            // the waiting thread on the spot; from inside a destructor that
            // aborts the process. So the main thread releases the reference
            // at its next opportunity instead.
            if (Py_AddPendingCall(&release_held_callable, held) == 0) return;
            if (!interpreter_alive()) return;
        }
        // A Python thread that released the GIL (inside an unregistration,
        // say): it takes the GIL under an ExitGuard, so that the exit waits
        // for it.
        const vantrel::ExitGuard guard;
        if (!guard) return;
        const PyGILState_STATE state = PyGILState_Ensure();
        delete held;
        PyGILState_Release(state);
    });
}

vantrel::EventBatchCallback make_batch_copy_adapter(std::shared_ptr<py::function> callback) {
    return [callback = std::move(callback)](vantrel::Event2D* begin, vantrel::Event2D* end) {
        deliver(*callback, [&] { return make_event_array_copy(begin, end); });
    };
}

vantrel::EventBatchCallback make_batch_view_adapter(std::shared_ptr<py::function> callback) {
    return [callback = std::move(callback)](vantrel::Event2D* begin, vantrel::Event2D* end) {
        deliver(*callback, [&] { return make_event_array_view(begin, end); });
    };
}

vantrel::TriggerInCallback make_trigger_in_adapter(std::shared_ptr<py::function> callback) {
    return [callback = std::move(callback)](const vantrel::EventTriggerIn& edge) {
        deliver(*callback, [&] { return py::cast(edge); });
    };
}

vantrel::StatisticsCallback make_statistics_adapter(std::shared_ptr<py::function> callback) {
    return [callback = std::move(callback)](const vantrel::EvCameraStatisticInfo& statistics) {
        deliver(*callback, [&] { return py::cast(statistics); });
    };
}

}  // namespace vantrel_py
