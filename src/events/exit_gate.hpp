#pragma once

// The gate that driver threads pass before they enter Python.
//
// At interpreter exit, CPython ends any thread that asks for the GIL once
// finalisation has begun, and unwinding such a thread through a callback
// touches a thread state that finalisation frees. So the module's exit hook
// (run by atexit, before finalisation) closes this gate: from then on no
// driver thread takes the GIL. The hook then waits, with the GIL released
// and for a bounded time, until the threads that had already passed are out
// of Python again.

#include <chrono>

namespace vantrel_py::exit_gate {

// Held by a driver thread from before it takes the GIL until after it gave
// it back. False when the gate is closed: stay out of Python.
class Pass {
public:
    Pass() noexcept;
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    explicit operator bool() const noexcept { return passed_; }

private:
    bool passed_;
};

bool closed() noexcept;
// One way: the gate never opens again in this process.
void close() noexcept;
// Waits, without the GIL, until no thread holds a pass; false when
// `deadline` came first.
bool wait_until_clear(std::chrono::steady_clock::time_point deadline);

}  // namespace vantrel_py::exit_gate
