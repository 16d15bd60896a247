#pragma once

#include <cstdint>
#include <vector>

#include "tools/source_controls.hpp"
#include "vantrel/events.hpp"

namespace vantrel::camera {

// Where a camera's events come from: a device's sensor, a scene model, a
// replayed recording. Times are the camera's stream clock, in microseconds.
// Called from the camera's stream thread only, one call at a time.
class EventSource {
public:
    virtual ~EventSource() = default;

    // Appends, in time order, the events with t_begin <= timestamp < t_end.
    virtual void generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls& controls,
                          std::vector<Event2D>& out) = 0;

    // Appends the trigger-in edges with t_begin <= timestamp < t_end.
    virtual void triggers(std::uint64_t /*t_begin*/, std::uint64_t /*t_end*/,
                          std::vector<EventTriggerIn>& /*out*/) {}

    // True once a finite source (a recording) has delivered everything.
    virtual bool exhausted() const { return false; }
};

}  // namespace vantrel::camera
