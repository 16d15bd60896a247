#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "stream/batch.hpp"

namespace vantrel::stream {

// Cuts a time-ordered stream of events into batches: exactly n events each
// (Count), or the events of consecutive windows of event time (Window;
// windows without events give no batch). Events arrive slice by slice; a
// batch is cut once the stream has covered the whole of it. Used by one
// thread only.
class Batcher {
public:
    using Emit = std::function<void(BatchPtr)>;

    explicit Batcher(std::uint64_t max_batch_events);

    // Takes effect for the events not yet cut; windows start at `now`.
    // A count above the maximum batch size is clamped to it.
    void configure(BatchRule rule, std::uint64_t now);
    const BatchRule& rule() const noexcept { return rule_; }

    // Appends one slice (time-ordered, not before what came earlier). The
    // slice's storage is taken over when nothing is pending; `slice` is left
    // empty either way.
    void append(std::vector<Event2D>& slice);

    // Cuts every batch that is complete once the stream has covered all
    // event time before `horizon`.
    void cut(std::uint64_t horizon, const Emit& emit);

    // Where the next slice starting at `t` should end so that a batch
    // completes at its end, given the expected event rate; never later than
    // t + max_slice_us, never earlier than t + 1.
    std::uint64_t suggestSliceEnd(std::uint64_t t, double events_per_us,
                                  std::uint64_t max_slice_us) const;

    std::size_t pendingEvents() const noexcept { return pending_.size() - offset_; }
    // Number of window batches that were split because they exceeded the
    // maximum batch size.
    std::uint64_t splitWindows() const noexcept { return split_windows_; }

private:
    void emitRange(std::size_t end, const Emit& emit);
    void compact();

    const std::uint64_t max_batch_events_;
    BatchRule rule_;
    std::uint64_t window_start_ = 0;
    std::vector<Event2D> pending_;
    std::size_t offset_ = 0;  // events before this index are already cut
    std::uint64_t split_windows_ = 0;
};

}  // namespace vantrel::stream
