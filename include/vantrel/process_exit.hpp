#pragma once

// Ending a process while cameras stream.

#include <chrono>

#include "vantrel/export.hpp"

namespace vantrel {

// For a program on its way out: stops the stream of every open camera
// (dropping what was not delivered yet) and completes every recording; from
// then on the driver calls no callback (a file reader's neither) and starts
// no stream. Waits at most `timeout` for the callbacks in progress, and the
// threads that called them, to finish. True when all did in time.
// Irreversible: call it only when the process is about to exit.
VANTREL_EXPORT bool quiesceForExit(std::chrono::milliseconds timeout);

}  // namespace vantrel
