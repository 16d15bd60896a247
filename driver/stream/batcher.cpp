#include "stream/batcher.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vantrel::stream {

Batcher::Batcher(std::uint64_t max_batch_events)
    : max_batch_events_(std::max<std::uint64_t>(max_batch_events, 1)) {}

void Batcher::configure(BatchRule rule, std::uint64_t now) {
    if (rule.value == 0) rule.value = 1;
    if (rule.kind == BatchRule::Kind::Count) rule.value = std::min(rule.value, max_batch_events_);
    rule_ = rule;
    // Windows start at the oldest event still waiting, so that events made
    // under the previous rule are cut into windows too instead of being
    // delivered as one long first batch.
    window_start_ = pendingEvents() > 0 ? std::min(pending_[offset_].timestamp, now) : now;
}

void Batcher::append(std::vector<Event2D>& slice) {
    if (slice.empty()) return;
    if (pendingEvents() == 0) {
        pending_.clear();
        offset_ = 0;
        pending_.swap(slice);
    } else {
        pending_.insert(pending_.end(), slice.begin(), slice.end());
    }
    slice.clear();
}

void Batcher::emitRange(std::size_t end, const Emit& emit) {
    BatchPtr batch;
    if (offset_ == 0 && end == pending_.size()) {
        // The whole buffer is one batch: hand it over instead of copying.
        batch = std::make_shared<EventBatch>(std::move(pending_));
        pending_ = {};
    } else {
        batch = std::make_shared<EventBatch>(pending_.begin() + static_cast<std::ptrdiff_t>(offset_),
                                             pending_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    offset_ = std::min(end, pending_.size());
    emit(std::move(batch));
}

void Batcher::compact() {
    if (offset_ == 0) return;
    if (offset_ >= pending_.size()) {
        pending_.clear();
    } else {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset_));
    }
    offset_ = 0;
}

void Batcher::cut(std::uint64_t horizon, const Emit& emit) {
    if (rule_.kind == BatchRule::Kind::Count) {
        const std::size_t n = static_cast<std::size_t>(rule_.value);
        while (pendingEvents() >= n) emitRange(offset_ + n, emit);
        compact();
        return;
    }

    const std::uint64_t w = rule_.value;
    while (horizon >= window_start_ && horizon - window_start_ >= w) {
        if (pendingEvents() == 0) {
            // Skip every empty window at once.
            window_start_ += (horizon - window_start_) / w * w;
            break;
        }
        const std::uint64_t window_end = window_start_ + w;
        const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(offset_);
        const auto split = std::lower_bound(
            first, pending_.end(), window_end,
            [](const Event2D& e, std::uint64_t t) { return e.timestamp < t; });
        std::size_t end = static_cast<std::size_t>(split - pending_.begin());
        while (end - offset_ > max_batch_events_) {
            ++split_windows_;
            emitRange(offset_ + static_cast<std::size_t>(max_batch_events_), emit);
        }
        if (end > offset_) emitRange(end, emit);
        window_start_ = window_end;
    }
    // A window still open may not grow beyond the maximum batch size.
    while (pendingEvents() > max_batch_events_) {
        ++split_windows_;
        emitRange(offset_ + static_cast<std::size_t>(max_batch_events_), emit);
    }
    compact();
}

std::uint64_t Batcher::suggestSliceEnd(std::uint64_t t, double events_per_us,
                                       std::uint64_t max_slice_us) const {
    std::uint64_t length = max_slice_us;
    if (rule_.kind == BatchRule::Kind::Count) {
        if (events_per_us > 0 && std::isfinite(events_per_us)) {
            const double missing = static_cast<double>(rule_.value) - static_cast<double>(pendingEvents());
            const double us = std::ceil(std::max(missing, 1.0) / events_per_us);
            if (us < static_cast<double>(length)) length = static_cast<std::uint64_t>(us);
        }
    } else {
        const std::uint64_t window_end = window_start_ + rule_.value;
        if (window_end > t) length = std::min(length, window_end - t);
    }
    return t + std::max<std::uint64_t>(length, 1);
}

}  // namespace vantrel::stream
