#pragma once

// Reads of a recording into memory that the caller provides, for the
// binding: it decodes straight into the array it hands to Python instead of
// copying a vector the driver filled. Not part of EvFileReader's interface;
// a reader that offers them also implements DirectEventReads.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"
#include "vantrel/export.hpp"

namespace vantrel {

// Which events a read takes: one of EvFileReader's six reads and its
// arguments.
struct EventReadRequest {
    enum class Kind : std::uint8_t {
        Count,                  // readEvents(amount)
        CountFromTimestamp,     // readEventsFromTimestamp(from, amount)
        CountFromIndex,         // readEventsFromEventIndex(from, amount)
        Interval,               // readEventsByTimeInterval(amount)
        IntervalFromTimestamp,  // readEventsByTimeIntervalFromTimestamp(from, amount)
        IntervalFromIndex,      // readEventsByTimeIntervalFromEventIndex(from, amount)
    };
    Kind kind = Kind::Count;
    std::uint64_t from = 0;    // timestamp or event index of the From kinds
    std::uint64_t amount = 0;  // events, or microseconds for the Interval kinds
};

class VANTREL_EXPORT DirectEventReads {
public:
    // An upper bound of the events the read would return if it ran now,
    // found from the index alone (it reads no block and moves nothing). A
    // read by time may return far fewer.
    virtual std::uint64_t eventReadBound(const EventReadRequest& request) = 0;

    // Runs the read exactly as the EvFileReader operation of that kind does
    // (position, trigger-in deliveries, failures, log lines): its first
    // `capacity` events go to `out`, any further ones (when another thread
    // moved the position since the bound was taken, or damaged blocks moved
    // a read by time past its bound) are appended to `overflow`. Returns how
    // many went to `out`; the read's result is those followed by `overflow`.
    virtual std::size_t readEventsInto(const EventReadRequest& request, Event2D* out, std::size_t capacity,
                                       std::vector<Event2D>& overflow) = 0;

protected:
    DirectEventReads() = default;
    ~DirectEventReads() = default;
};

}  // namespace vantrel
