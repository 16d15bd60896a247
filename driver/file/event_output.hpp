#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::file {

// Where one read puts its events: memory of a fixed capacity first (the
// caller's array), then, once that is full, a vector that grows. A read
// asks for room for as many events as it may decode at most, decodes into
// it and commits what it decoded; the events are those of the memory
// followed by those of the vector, in order.
class EventOutput {
public:
    EventOutput(Event2D* data, std::size_t capacity, std::vector<Event2D>& overflow)
        : data_(data), capacity_(capacity), overflow_(overflow), overflow_start_(overflow.size()) {}

    // Room for up to n events in one piece. Once a piece did not fit in the
    // memory, every later one goes to the vector, which keeps the order.
    Event2D* room(std::size_t n) {
        if (!spilled_ && n <= capacity_ - size_) return data_ + size_;
        spilled_ = true;
        pending_ = overflow_.size();
        overflow_.resize(pending_ + n);
        return overflow_.data() + pending_;
    }
    // The last room() got m events.
    void commit(std::size_t m) {
        if (spilled_)
            overflow_.resize(pending_ + m);
        else
            size_ += m;
    }

    // Events in the memory.
    std::size_t size() const { return size_; }
    std::size_t total() const { return size_ + (overflow_.size() - overflow_start_); }

    // Drops the events with timestamps below t, keeping the order of the rest.
    void eraseBefore(std::uint64_t t) {
        const auto below = [t](const Event2D& e) { return e.timestamp < t; };
        size_ = static_cast<std::size_t>(std::remove_if(data_, data_ + size_, below) - data_);
        overflow_.erase(std::remove_if(overflow_.begin() + static_cast<std::ptrdiff_t>(overflow_start_),
                                       overflow_.end(), below),
                        overflow_.end());
    }

private:
    Event2D* const data_;
    const std::size_t capacity_;
    std::vector<Event2D>& overflow_;
    const std::size_t overflow_start_;
    std::size_t size_ = 0;
    std::size_t pending_ = 0;
    bool spilled_ = false;
};

}  // namespace vantrel::file
