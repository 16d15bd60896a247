#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::file {

// Recycles the vectors that reads return. A fresh multi-megabyte vector
// costs a page fault per page and is zero-filled before being decoded into;
// a recycled one is already mapped and is only overwritten. At most one
// vector of moderate size is kept, so memory stays bounded.
class EventBuffers : public std::enable_shared_from_this<EventBuffers> {
public:
    static std::shared_ptr<EventBuffers> create() { return std::shared_ptr<EventBuffers>(new EventBuffers); }

    // A vector of exactly n records whose contents are unspecified; it comes
    // back here when its last reference goes (if this pool still exists).
    std::shared_ptr<std::vector<Event2D>> take(std::size_t n);

private:
    EventBuffers() = default;
    void give(std::vector<Event2D>* v);

    static constexpr std::size_t kMaxKeptEvents = std::size_t{1} << 21;  // 32 MiB

    std::mutex mutex_;  // guards spare_; a leaf lock
    std::unique_ptr<std::vector<Event2D>> spare_;
};

}  // namespace vantrel::file
