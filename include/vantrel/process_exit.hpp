#pragma once

// Ending a process while cameras stream.

#include <chrono>

#include "vantrel/export.hpp"

namespace vantrel {

// For a program on its way out, called by the thread that goes on to end
// the process: stops the stream of every open camera (dropping what was not
// delivered yet) and completes every recording; from then on the driver
// calls no callback (a file reader's neither) and starts no stream. Waits
// at most `timeout` for the callbacks in progress, the threads that called
// them, and every ExitGuard held, to finish. True when all did in time.
// Irreversible: call it only when the process is about to exit.
VANTREL_EXPORT bool quiesceForExit(std::chrono::milliseconds timeout);

// True once quiesceForExit has begun.
VANTREL_EXPORT bool exiting() noexcept;
// True on the thread that called quiesceForExit.
VANTREL_EXPORT bool onExitingThread() noexcept;

// Held by a thread while it does something that quiesceForExit must wait
// for (bounded by its timeout), such as running code that the exit would
// break. Empty (false) once the process is exiting: then do not start it.
class VANTREL_EXPORT ExitGuard {
public:
    ExitGuard() noexcept;
    ~ExitGuard();
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;
    explicit operator bool() const noexcept { return entered_; }

private:
    bool entered_;
};

}  // namespace vantrel
