#pragma once

#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::stream {

// Settings the camera's tools impose on the event source for one slice.
struct SourceControls {
    double rate_scale = 1.0;  // bias: multiplies the scene's event rate
};

// Where a simulated camera's events come from: a scene model or a replayed
// recording. Times are the camera's stream clock, in microseconds. Called
// from the camera's stream thread only.
class EventSource {
public:
    virtual ~EventSource() = default;

    // Appends, in time order, the events with t_begin <= timestamp < t_end.
    virtual void generate(std::uint64_t t_begin, std::uint64_t t_end, const SourceControls& controls,
                          std::vector<Event2D>& out) = 0;

    // Appends the trigger-in edges with t_begin <= timestamp < t_end.
    virtual void triggers(std::uint64_t /*t_begin*/, std::uint64_t /*t_end*/,
                          std::vector<EventTriggerIn>& /*out*/) {}

    // True once a finite source (a recording) has delivered everything.
    virtual bool exhausted() const { return false; }
};

}  // namespace vantrel::stream
