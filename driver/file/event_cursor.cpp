#include "file/event_cursor.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <system_error>
#include <thread>

namespace vantrel::file {

namespace {

// Where a timestamp is searched, events are decoded in runs that stay in the
// processor's cache.
constexpr std::size_t kRun = 4096;

// A seek into a block seen before reads one run of this many events: about
// a page of words.
constexpr std::size_t kMarkRun = 1024;

// Reads of at least this many whole blocks share the work with a second
// thread: the blocks are independent, and loading, checking and decoding
// them is most of what a large read costs.
constexpr std::size_t kSharedBlocks = 4;

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
    pending_ = false;
    const std::size_t blocks = file_.eventBlocks().size();
    for (; k < blocks; ++k) {
        if (k == loaded_ && !file_.isBadEventBlock(k)) break;
        if (file_.loadEventBlock(k, buffer_)) {
            loaded_ = k;
            // Blocks with escapes were checked in full by the load.
            checked_ = file_.eventBlocks()[k].header.escape_count != 0;
            break;
        }
        // The failed load overwrote the buffer: it holds no block now.
        loaded_ = static_cast<std::size_t>(-1);
    }
    block_ = k;
    if (k < blocks) state_ = DecodeState::at_start(header());
}

bool EventCursor::load_pending() {
    if (!pending_) return true;
    pending_ = false;
    const std::size_t k = block_;
    if (file_.loadEventBlock(k, buffer_)) {
        loaded_ = k;  // checked_ stays set: its content was checked when its marks were made
        return true;
    }
    loaded_ = static_cast<std::size_t>(-1);
    enter(k + 1);
    return false;
}

bool EventCursor::check() {
    if (!load_pending()) return false;
    if (checked_) return true;
    std::string why;
    if (validate_event_payload(payload(), header(), why)) {
        checked_ = true;
        return true;
    }
    file_.rejectEventBlock(block_, why);
    enter(block_ + 1);
    return false;
}

void EventCursor::next_block_if_done() {
    if (!atEnd() && left() == 0) enter(block_ + 1);
}

bool EventCursor::atStart() const {
    if (!atEnd() && state_.event != 0) return false;
    for (std::size_t k = 0; k < block_ && k < file_.eventBlocks().size(); ++k)
        if (!file_.isBadEventBlock(k)) return false;
    return true;
}

std::uint64_t EventCursor::index() const {
    if (atEnd()) return file_.eventCount();
    return file_.eventBlocks()[block_].first_record + state_.event;
}

std::uint64_t EventCursor::timestamp() {
    while (!atEnd()) {
        if (pending_) return pending_time_;
        if (state_.event == 0) return header().first_timestamp;
        if (!check()) continue;
        DecodeState s = state_;
        Event2D e;
        decode_events(payload(), header(), s, 1, &e);
        return e.timestamp;
    }
    const auto& blocks = file_.eventBlocks();
    return blocks.empty() ? 0 : blocks.back().header.last_timestamp;
}

bool EventCursor::seekIndex(std::uint64_t n) {
    if (n >= file_.eventCount()) return false;
    const std::size_t k = file_.eventBlockOf(n);
    const std::uint64_t first = file_.eventBlocks()[k].first_record;
    if (!(block_ == k && !pending_ && state_.event <= n - first)) enter(k);
    // Skipping reads only the time deltas: the block is checked before any
    // of its events are used.
    if (block_ == k) skip_events(payload(), header(), state_, (n - first) - state_.event);
    return true;
}

bool EventCursor::seekTimestamp(std::uint64_t t) {
    const std::size_t k = file_.firstEventBlockReaching(t);
    if (k >= file_.eventBlocks().size()) return false;
    if (seek_by_marks(k, t)) return true;
    const std::uint64_t was = index();
    enter(k);
    while (!atEnd()) {
        if (header().max_timestamp < t) {
            enter(block_ + 1);
            continue;
        }
        if (!check()) continue;
        const DecodeState start = state_;
        const std::size_t m = std::min(left(), kRun);
        decode_events(payload(), header(), state_, m, scratch_.data());
        const std::size_t i =
            first_reaching(scratch_.data(), m, t, (header().flags & kFlagSorted) != 0);
        if (i < m) {
            state_ = start;
            skip_events(payload(), header(), state_, i);
            make_marks();
            return true;
        }
        next_block_if_done();
    }
    // Only damaged blocks seemed to reach t: back to where the cursor stood.
    if (was < file_.eventCount())
        seekIndex(was);
    else
        enter(file_.eventBlocks().size());
    return false;
}

// Seeks land anywhere in a block of 65536 events, and loading the block
// (reading, checking and decoding up to the event) costs the more the less
// of the file the processor's cache holds: seeks into large files would
// grow slower. A block seen whole once keeps the decoding state at the
// start of each run of kMarkRun events, so that a seek reads only the run
// that holds the event.
void EventCursor::make_marks() {
    const std::size_t k = block_;
    const BlockHeader& h = header();
    if (pending_ || loaded_ != k || !checked_ || h.codec != Codec::Stored || (h.flags & kFlagSorted) == 0) return;
    if (marks_.size() < file_.eventBlocks().size()) marks_.resize(file_.eventBlocks().size());
    std::vector<DecodeState>& marks = marks_[k];
    if (!marks.empty()) return;
    DecodeState s = DecodeState::at_start(h);
    marks.push_back(s);
    while (s.event < h.count) {
        skip_events(payload(), h, s, std::min<std::size_t>(kMarkRun, h.count - s.event));
        marks.push_back(s);
    }
}

bool EventCursor::seek_by_marks(std::size_t k, std::uint64_t t) {
    if (k >= marks_.size() || marks_[k].empty() || file_.isBadEventBlock(k)) return false;
    const std::vector<DecodeState>& marks = marks_[k];
    const BlockHeader& h = file_.eventBlocks()[k].header;
    // Sorted: the first run whose last event reaches t holds the event.
    const auto end = marks.end() - 1;
    const std::size_t j = static_cast<std::size_t>(
        std::partition_point(marks.begin() + 1, end, [t](const DecodeState& s) { return s.time < t; }) -
        (marks.begin() + 1));
    const DecodeState& from = marks[j];
    const std::size_t words = marks[j + 1].word - from.word;
    const std::size_t m = marks[j + 1].event - from.event;
    const bool loaded = loaded_ == k && !pending_;
    const std::uint32_t* run = loaded ? payload() + from.word : nullptr;
    if (!loaded) {
        run_words_.resize(words);
        if (!file_.readEventWords(k, from.word, words, run_words_.data())) return false;
        run = run_words_.data();
    }
    DecodeState s{0, from.event, from.time};
    decode_events(run, h, s, m, scratch_.data());
    const std::size_t i = first_reaching(scratch_.data(), m, t, true);
    if (i == m) return false;
    s = {0, from.event, from.time};
    skip_events(run, h, s, i);
    block_ = k;
    state_ = {from.word + s.word, s.event, s.time};
    checked_ = true;
    pending_ = !loaded;
    pending_time_ = scratch_[i].timestamp;
    return true;
}

void EventCursor::take(std::size_t n, Event2D* out) {
    decode_events(payload(), header(), state_, n, out);
    decoded_ += n;
}

bool EventCursor::take_block(Event2D* out) {
    const std::size_t k = block_;
    if (!decode_block_checked(payload(), header(), out)) {
        file_.rejectEventBlock(k, "event timestamps do not match the block header");
        enter(k + 1);
        return false;
    }
    decoded_ += header().count;
    checked_ = true;
    enter(k + 1);
    return true;
}

std::size_t EventCursor::read_blocks(std::size_t k0, std::size_t k1, Event2D* out) {
    const auto& blocks = file_.eventBlocks();
    const std::uint64_t base = blocks[k0].first_record;
    std::vector<unsigned char> ok(k1 - k0, 0);
    // Each block is decoded to its place in `out` as if none were damaged.
    auto work = [&](std::size_t a, std::size_t b, BlockBuffer& buffer) {
        for (std::size_t k = a; k < b; ++k) {
            if (!file_.loadEventBlock(k, buffer)) continue;
            const std::uint32_t* words = buffer.payload();
            if (decode_block_checked(words, blocks[k].header, out + (blocks[k].first_record - base)))
                ok[k - k0] = 1;
            else
                file_.rejectEventBlock(k, "event timestamps do not match the block header");
        }
    };
    const std::size_t mid = k0 + (k1 - k0) / 2;
    std::exception_ptr failure;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                work(mid, k1, helper_buffer_);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        work(mid, k1, helper_buffer_);  // no thread to be had: all of it here
    }
    try {
        work(k0, mid, buffer_);
    } catch (...) {
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
    loaded_ = static_cast<std::size_t>(-1);  // buffer_ holds whichever block came last
    if (failure) std::rethrow_exception(failure);

    // Close the gaps that damaged blocks left.
    std::size_t done = 0;
    for (std::size_t k = k0; k < k1; ++k) {
        if (!ok[k - k0]) continue;
        const std::size_t at = static_cast<std::size_t>(blocks[k].first_record - base);
        const std::size_t count = blocks[k].header.count;
        if (at != done) std::memmove(out + done, out + at, count * sizeof(Event2D));
        done += count;
    }
    decoded_ += done;
    return done;
}

std::size_t EventCursor::read(std::uint64_t n, Event2D* out) {
    std::size_t done = 0;
    while (n > 0 && !atEnd()) {
        if (state_.event == 0) {
            const auto& blocks = file_.eventBlocks();
            std::size_t k1 = block_;
            std::uint64_t whole = 0;
            while (k1 < blocks.size() && whole + blocks[k1].header.count <= n)
                whole += blocks[k1++].header.count;
            if (k1 - block_ >= kSharedBlocks) {
                const std::size_t got = read_blocks(block_, k1, out + done);
                done += got;
                n -= got;
                enter(k1);
                continue;
            }
        }
        if (state_.event == 0 && !checked_ && n >= header().count) {
            const std::size_t m = header().count;  // a whole block, checked while decoded
            if (take_block(out + done)) {
                done += m;
                n -= m;
            }
            continue;
        }
        if (!check()) continue;
        const std::size_t m = static_cast<std::size_t>(std::min<std::uint64_t>(n, left()));
        take(m, out + done);
        done += m;
        n -= m;
        next_block_if_done();
    }
    return done;
}

std::uint64_t EventCursor::boundBefore(std::uint64_t limit) const {
    if (atEnd()) return 0;
    // Every event after the block that first reaches the limit comes after
    // an event at or past it.
    const auto& blocks = file_.eventBlocks();
    const std::size_t last = file_.firstEventBlockReaching(limit, block_);
    const std::uint64_t bound = last < blocks.size()
                                    ? blocks[last].first_record + blocks[last].header.count
                                    : file_.eventCount();
    return bound > index() ? bound - index() : 0;
}

bool EventCursor::before(std::uint64_t limit) { return !atEnd() && timestamp() < limit; }

std::size_t EventCursor::readBefore(std::uint64_t limit, Event2D* out) {
    // Nothing beyond the block that reaches the limit is read, which keeps
    // the read within boundBefore(limit). If that block turns out to be
    // damaged, the read stops after it, where before(limit) tells whether
    // more is to be read.
    const std::size_t last = file_.firstEventBlockReaching(limit, block_);
    std::size_t done = 0;
    while (!atEnd() && block_ <= last) {
        if (header().max_timestamp < limit) {
            if (state_.event == 0 && !checked_) {
                const std::size_t m = header().count;
                if (take_block(out + done)) done += m;
                continue;
            }
            if (!check()) continue;
            const std::size_t m = left();
            take(m, out + done);
            done += m;
            enter(block_ + 1);
            continue;
        }
        // The limit falls in this block: decode in runs, stop at the first
        // event that reaches it, and step back to stand on that event.
        if (!check()) continue;
        const DecodeState start = state_;
        const std::size_t m = std::min(left(), kRun);
        decode_events(payload(), header(), state_, m, out + done);
        const std::size_t c =
            first_reaching(out + done, m, limit, (header().flags & kFlagSorted) != 0);
        decoded_ += c;
        done += c;
        if (c < m) {
            state_ = start;
            skip_events(payload(), header(), state_, c);
            return done;
        }
        next_block_if_done();
    }
    return done;
}

void EventCursor::read(std::uint64_t n, std::vector<Event2D>& out) {
    const std::size_t old = out.size();
    out.resize(old + std::min<std::uint64_t>(n, file_.eventCount() - std::min(file_.eventCount(), index())));
    out.resize(old + read(n, out.data() + old));
}

void EventCursor::readBefore(std::uint64_t limit, std::vector<Event2D>& out) {
    do {
        const std::size_t old = out.size();
        out.resize(old + boundBefore(limit));
        out.resize(old + readBefore(limit, out.data() + old));
    } while (before(limit));
}

}  // namespace vantrel::file
