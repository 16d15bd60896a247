#include "sim/tool_journal.hpp"

namespace vantrel::sim {

void ToolJournal::record(ToolWrite write) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() == kCapacity) entries_.pop_front();
    entries_.push_back(std::move(write));
}

std::vector<ToolWrite> ToolJournal::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

}  // namespace vantrel::sim
