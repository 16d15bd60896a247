#pragma once

#include <cstdint>
#include <mutex>
#include <utility>

#include "stream/batch.hpp"
#include "stream/stream_limits.hpp"

namespace vantrel::stream {

// The batch condition of one camera, set from any thread and read by the
// stream thread before each slice. The last condition set wins.
class BatchSettings {
public:
    static BatchRule defaultRule() { return BatchRule{BatchRule::Kind::Window, limits::kDefaultWindowUs}; }

    void set(BatchRule rule) {
        std::lock_guard<std::mutex> lock(mutex_);
        rule_ = rule;
        ++generation_;
    }

    // The rule and a number that changes whenever it is set.
    std::pair<BatchRule, std::uint64_t> get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return {rule_, generation_};
    }

private:
    mutable std::mutex mutex_;  // guards rule_ and generation_; a leaf lock
    BatchRule rule_ = defaultRule();
    std::uint64_t generation_ = 0;
};

}  // namespace vantrel::stream
