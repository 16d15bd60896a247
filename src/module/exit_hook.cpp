// The module's exit hook: before the interpreter finalises, stop every
// stream and keep driver threads out of Python (the driver's exit state,
// which every entry into Python from a driver thread checks).
//
// atexit hooks run after Python joined the program's non-daemon threads
// (those are the program's own to end) and before finalisation, while
// daemon threads still run. Finalisation then ends any other thread that
// asks for the GIL, so by that time no driver thread may be inside Python or
// about to enter it.

#include <chrono>

#include "common/gil_release.hpp"
#include "module/registration.hpp"
#include "vantrel/process_exit.hpp"

namespace vantrel_py {

namespace {

// How long the exit waits for callbacks in progress (a callback that keeps
// running longer is cut off by finalisation).
constexpr std::chrono::milliseconds kExitWait{2000};

void quiesce_at_exit() {
    // Without the GIL, so that callbacks in progress can finish. From the
    // moment this begins, no driver thread enters Python any more.
    vantrel_gil::scoped_release release;
    vantrel::quiesceForExit(kExitWait);
}

}  // namespace

void install_exit_hook() {
    // The hook is a nameless function object: nothing is added to the
    // module's namespace.
    py::module_::import("atexit").attr("register")(py::cpp_function(&quiesce_at_exit));
}

}  // namespace vantrel_py
