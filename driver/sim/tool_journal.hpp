#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

// Every write the tools of one device received, accepted or refused, oldest
// first. Bounded: past kCapacity entries the oldest are forgotten, so a
// long-running program that writes in a loop does not grow without end.
class ToolJournal {
public:
    static constexpr std::size_t kCapacity = 100000;

    void record(ToolWrite write);
    std::vector<ToolWrite> entries() const;

private:
    mutable std::mutex mutex_;  // guards entries_; a leaf lock
    std::deque<ToolWrite> entries_;
};

}  // namespace vantrel::sim
