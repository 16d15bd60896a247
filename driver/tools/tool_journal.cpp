#include "tools/tool_journal.hpp"

namespace vantrel::tools {

void ToolJournal::record(sim::ToolWrite write) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() == kCapacity) entries_.pop_front();
    entries_.push_back(std::move(write));
}

std::vector<sim::ToolWrite> ToolJournal::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

}  // namespace vantrel::tools
