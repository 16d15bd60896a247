#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "file/event_codec.hpp"
#include "file/recording_file.hpp"
#include "vantrel/events.hpp"

namespace vantrel::file {

// A read position in a recording's events. It always stands on an event of
// an intact block, or at the end; damaged blocks are passed over. Several
// cursors may share one RecordingFile (one thread at a time; a large read
// briefly uses a second thread of its own).
class EventCursor {
public:
    // Positioned on the first readable event.
    explicit EventCursor(RecordingFile& file);

    bool atEnd() const { return block_ >= file_.eventBlocks().size(); }
    // Whether no readable event comes before the position: it stands on the
    // first event of the file, or of the first block after damaged ones.
    bool atStart() const;
    // Index of the event at the position; the event count at the end.
    std::uint64_t index() const;
    // Timestamp of the event at the position; at the end, that of the
    // file's last event (0 for a file without events).
    std::uint64_t timestamp();

    // False, with the position unchanged, when n is not below the event count.
    bool seekIndex(std::uint64_t n);
    // To the first event with timestamp >= t. False, with the position
    // unchanged, when there is none.
    bool seekTimestamp(std::uint64_t t);

    // Decodes the next n events (fewer at the end) into out, which has room
    // for them; returns how many it decoded.
    std::size_t read(std::uint64_t n, Event2D* out);
    // How many events readBefore(limit) may decode at most.
    std::uint64_t boundBefore(std::uint64_t limit) const;
    // Decodes the events before the first one with timestamp >= limit into
    // out, which has room for boundBefore(limit); returns how many. When a
    // damaged block interrupts it, it stops early: go on while before(limit).
    std::size_t readBefore(std::uint64_t limit, Event2D* out);
    // Whether the event at the position lies before the limit.
    bool before(std::uint64_t limit);
    // Convenience forms that append to a vector.
    void read(std::uint64_t n, std::vector<Event2D>& out);
    // Reads everything before the limit, past damaged blocks.
    void readBefore(std::uint64_t limit, std::vector<Event2D>& out);

    std::uint64_t eventsDecoded() const { return decoded_; }

private:
    void enter(std::size_t k);
    const BlockHeader& header() const { return file_.eventBlocks()[block_].header; }
    const std::uint32_t* payload() const { return buffer_.payload(); }
    std::size_t left() const { return header().count - state_.event; }
    void take(std::size_t n, Event2D* out);
    // Decodes the whole current block (standing at its start), checking its
    // content on the way; false if it was rejected (the cursor moved on).
    bool take_block(Event2D* out);
    // Checks the current block's content before part of it is used; false if
    // it was rejected (the cursor moved on to the next readable block).
    bool check();
    void next_block_if_done();
    // A seek by time into a block whose marks are known reads only the run
    // of words that holds the event; the block itself is loaded when an
    // event of it is next needed (pending_). False when that cannot be done.
    bool seek_by_marks(std::size_t k, std::uint64_t t);
    void make_marks();
    // Loads the block that a seek by marks left pending; false (the block
    // is rejected, the cursor moved on) when it no longer loads.
    bool load_pending();
    // Decodes the whole blocks [k0, k1) into out, sharing them with a second
    // thread; returns the events decoded (damaged blocks are left out).
    std::size_t read_blocks(std::size_t k0, std::size_t k1, Event2D* out);

    RecordingFile& file_;
    std::size_t block_ = 0;
    std::size_t loaded_ = static_cast<std::size_t>(-1);  // block held in buffer_
    BlockBuffer buffer_;
    BlockBuffer helper_buffer_;  // the second thread's, in read_blocks
    bool checked_ = false;  // the loaded block's content agrees with its header
    DecodeState state_;
    std::vector<Event2D> scratch_;
    std::uint64_t decoded_ = 0;
    // For each stored, sorted block checked whole by a seek: the decoding
    // state at the start of every run of 1024 events and at the block's end.
    std::vector<std::vector<DecodeState>> marks_;
    std::vector<std::uint32_t> run_words_;
    bool pending_ = false;  // block_ is not loaded; the position was found from its marks
    std::uint64_t pending_time_ = 0;  // the timestamp of the event there
};

}  // namespace vantrel::file
