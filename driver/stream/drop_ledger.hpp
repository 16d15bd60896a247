#pragma once

#include <mutex>
#include <string>

#include "log/log_throttle.hpp"
#include "vantrel/stream_drops.hpp"

namespace vantrel::stream {

using vantrel::DropCount;
using vantrel::DropQueue;
using vantrel::StreamDrops;

// What one stream dropped, per queue. Each queue warns on its own throttle
// (one line per second at most), and each line says what that queue dropped
// since its previous line, so that nothing dropped goes unmentioned and a
// busy queue cannot silence another. Thread-safe.
class DropLedger {
public:
    explicit DropLedger(std::string owner) : owner_(std::move(owner)) {}

    // Counts a drop and warns about it, saying `why`. A routine drop (one
    // the program cannot notice, such as an unpolled poll queue while
    // callbacks take the batches) is only counted.
    void add(DropQueue queue, const DropCount& count, const char* why, bool routine = false);
    // Counts a drop without logging it now (the summary mentions it).
    void addQuietly(DropQueue queue, const DropCount& count);

    // Everything dropped, routine drops included.
    StreamDrops totals() const;
    // What the program missed: everything but routine drops.
    StreamDrops noteworthy() const;

    // "3 batches (3000 events), 1 trigger edge"; "nothing" when empty.
    static std::string describe(const DropCount& count);

private:
    struct PerQueue {
        DropCount total;
        DropCount noteworthy;
        DropCount unreported;  // since the queue's last line
        log::LogThrottle throttle;
    };

    const std::string owner_;
    mutable std::mutex mutex_;  // guards queues_; a leaf lock (warnings are logged after it is released)
    std::array<PerQueue, kDropQueueNames.size()> queues_;
};

DropCount& operator+=(DropCount& a, const DropCount& b);
inline bool empty(const DropCount& c) { return !c.batches && !c.events && !c.edges && !c.reports; }

}  // namespace vantrel::stream
