#include "file/event_cursor.hpp"

#include <algorithm>

namespace vantrel::file {

namespace {

// Events are decoded in runs that stay in the processor's cache, then copied
// to their destination in one block each.
constexpr std::size_t kRun = 4096;

// Position of the first event of run[0, n) with timestamp >= t (n if none).
std::size_t first_reaching(const Event2D* run, std::size_t n, std::uint64_t t, bool sorted) {
    if (sorted)
        return static_cast<std::size_t>(
            std::partition_point(run, run + n, [t](const Event2D& e) { return e.timestamp < t; }) -
            run);
    std::size_t i = 0;
    while (i < n && run[i].timestamp < t) ++i;
    return i;
}

}  // namespace

EventCursor::EventCursor(RecordingFile& file) : file_(file), scratch_(kRun) { enter(0); }

void EventCursor::enter(std::size_t k) {
    const std::size_t blocks = file_.eventBlocks().size();
    for (; k < blocks; ++k) {
        if (k == loaded_ || file_.loadEventBlock(k, buffer_)) {
            loaded_ = k;
            block_ = k;
            state_ = DecodeState::at_start(header());
            return;
        }
    }
    block_ = blocks;
}

void EventCursor::next_block_if_done() {
    if (!atEnd() && left() == 0) enter(block_ + 1);
}

std::uint64_t EventCursor::index() const {
    if (atEnd()) return file_.eventCount();
    return file_.eventBlocks()[block_].first_record + state_.event;
}

std::uint64_t EventCursor::timestamp() {
    if (atEnd()) {
        const auto& blocks = file_.eventBlocks();
        return blocks.empty() ? 0 : blocks.back().header.last_timestamp;
    }
    DecodeState s = state_;
    Event2D e;
    decode_events(payload(), header(), s, 1, &e);
    return e.timestamp;
}

bool EventCursor::seekIndex(std::uint64_t n) {
    if (n >= file_.eventCount()) return false;
    const std::size_t k = file_.eventBlockOf(n);
    const std::uint64_t first = file_.eventBlocks()[k].first_record;
    if (!(block_ == k && state_.event <= n - first)) enter(k);
    if (block_ == k) skip_events(payload(), header(), state_, (n - first) - state_.event);
    return true;
}

bool EventCursor::seekTimestamp(std::uint64_t t) {
    const std::size_t k = file_.firstEventBlockReaching(t);
    if (k >= file_.eventBlocks().size()) return false;
    enter(k);
    while (!atEnd()) {
        if (header().max_timestamp < t) {
            enter(block_ + 1);
            continue;
        }
        const DecodeState start = state_;
        const std::size_t m = std::min(left(), kRun);
        decode_events(payload(), header(), state_, m, scratch_.data());
        const std::size_t i =
            first_reaching(scratch_.data(), m, t, (header().flags & kFlagSorted) != 0);
        if (i < m) {
            state_ = start;
            skip_events(payload(), header(), state_, i);
            return true;
        }
        next_block_if_done();
    }
    return false;
}

void EventCursor::take(std::size_t n, std::vector<Event2D>& out) {
    decode_events(payload(), header(), state_, n, scratch_.data());
    out.insert(out.end(), scratch_.data(), scratch_.data() + n);
    decoded_ += n;
}

void EventCursor::read(std::uint64_t n, std::vector<Event2D>& out) {
    out.reserve(out.size() + std::min<std::uint64_t>(n, file_.eventCount() - index()));
    while (n > 0 && !atEnd()) {
        const std::size_t m = static_cast<std::size_t>(std::min<std::uint64_t>(n, std::min(left(), kRun)));
        take(m, out);
        n -= m;
        next_block_if_done();
    }
}

void EventCursor::readBefore(std::uint64_t limit, std::vector<Event2D>& out) {
    if (atEnd()) return;
    // At most up to the end of the block that reaches the limit.
    const auto& blocks = file_.eventBlocks();
    const std::size_t last = file_.firstEventBlockReaching(limit);
    const std::uint64_t bound = last < blocks.size()
                                    ? blocks[last].first_record + blocks[last].header.count
                                    : file_.eventCount();
    out.reserve(out.size() + (bound > index() ? bound - index() : 0));

    while (!atEnd()) {
        if (header().max_timestamp < limit) {
            while (left() > 0) take(std::min(left(), kRun), out);
            enter(block_ + 1);
            continue;
        }
        const DecodeState start = state_;
        const std::size_t m = std::min(left(), kRun);
        decode_events(payload(), header(), state_, m, scratch_.data());
        const std::size_t c =
            first_reaching(scratch_.data(), m, limit, (header().flags & kFlagSorted) != 0);
        out.insert(out.end(), scratch_.data(), scratch_.data() + c);
        decoded_ += c;
        if (c < m) {
            state_ = start;
            skip_events(payload(), header(), state_, c);
            return;
        }
        next_block_if_done();
    }
}

}  // namespace vantrel::file
