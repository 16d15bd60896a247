#pragma once

#include <atomic>

#include "common/operations.hpp"

namespace vantrel::faults {

// Where test machinery (the simulator's fault injector) plugs into the
// driver's operations. Nothing is installed in a program that never asks
// for faults; then a fault point costs one load of an empty pointer.
class FaultHook {
public:
    virtual ~FaultHook() = default;
    // Runs the fault armed for `op`, if any: sleeps for a delay, throws for
    // an exception kind; true when the operation must report its own
    // failure result. Called on the operation's thread, with no driver lock
    // held that the hook could need.
    virtual bool strike(Operation op) = 0;
};

// Installs the process-wide hook; it is never destroyed nor replaced.
void install(FaultHook& hook);

namespace detail {
extern std::atomic<FaultHook*> installed;
}

inline bool hit(Operation op) {
    FaultHook* const hook = detail::installed.load(std::memory_order_acquire);
    return hook != nullptr && hook->strike(op);
}

}  // namespace vantrel::faults
