#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vantrel/export.hpp"
#include "vantrel/logger.hpp"

namespace vantrel {

// Carries log records from the threads that log, which must never wait, to
// one reader that may be slow (for example a Python thread that forwards
// them to Python's logging). Bounded by record count and by text bytes: when
// full, the oldest records are dropped and counted. Thread-safe.
class VANTREL_EXPORT LogQueue {
public:
    LogQueue(std::size_t max_records, std::size_t max_bytes);
    ~LogQueue();
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    // Never waits beyond a short internal lock.
    void push(LogRecord record);
    // Waits up to `timeout` for a record, then takes every queued record (none
    // when the time passed first), oldest first.
    std::vector<LogRecord> take(std::chrono::milliseconds timeout);
    // Records dropped since construction.
    std::uint64_t dropped() const noexcept;

    // A sink for Logger::setSink that pushes into this queue; it keeps the
    // queue alive.
    static LogSink sinkInto(std::shared_ptr<LogQueue> queue);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel
