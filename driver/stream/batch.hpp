#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::stream {

// One batch of events as the camera delivers it. Shared (never copied)
// between the poll queue, the delivery thread and the recorder; whoever
// ends up as the only owner may take the vector over.
using EventBatch = std::vector<Event2D>;
using BatchPtr = std::shared_ptr<EventBatch>;

// How the stream is cut into batches.
struct BatchRule {
    enum class Kind { Count, Window };
    Kind kind = Kind::Window;
    std::uint64_t value = 0;  // events per batch, or window length in microseconds
};

}  // namespace vantrel::stream
