#pragma once

// Packing of events into the 32-bit words of an event block, and back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "file/format.hpp"
#include "vantrel/events.hpp"

namespace vantrel::file {

// The word layout a writer uses for a sensor: just enough bits for its
// coordinates, the rest for the time delta.
WordLayout layout_for_sensor(std::uint16_t width, std::uint16_t height);

// Accumulates one event block. Events that the layout cannot hold (large
// coordinates, a polarity above 1, a time step backwards or beyond the delta
// field) are escaped, so every Event2D survives exactly.
class EventBlockEncoder {
public:
    explicit EventBlockEncoder(WordLayout layout);

    void add(const Event2D& e) {
        if (count_ == 0) start(e.timestamp);
        const std::uint64_t t = e.timestamp;
        const std::uint64_t delta = t - previous_;  // wraps when going backwards: escaped below
        if (e.x <= x_mask_ && e.y <= y_mask_ && e.polarity <= 1 && t >= previous_ &&
            delta < escape_delta_) {
            words_.push_back(static_cast<std::uint32_t>(e.x) |
                             (static_cast<std::uint32_t>(e.y) << layout_.x_bits) |
                             (static_cast<std::uint32_t>(e.polarity) << layout_.polarity_shift()) |
                             (static_cast<std::uint32_t>(delta) << layout_.delta_shift()));
        } else {
            add_escaped(e);
        }
        if (t < previous_) sorted_ = false;
        if (t < min_) min_ = t;
        if (t > max_) max_ = t;
        previous_ = t;
        ++count_;
    }

    // add() for each of n events, in one pass over the plain ones.
    void add(const Event2D* events, std::size_t n);

    std::uint32_t count() const { return count_; }
    bool empty() const { return count_ == 0; }

    // The finished block: its header (checksums included) followed by the
    // payload, as one buffer; valid until the next add() or reset().
    const unsigned char* finish(std::size_t& size);
    // The header of the block that finish() last gave.
    const BlockHeader& header() const { return header_; }
    void reset();

private:
    void start(std::uint64_t t);
    void add_escaped(const Event2D& e);

    WordLayout layout_;
    std::uint32_t x_mask_;
    std::uint32_t y_mask_;
    std::uint32_t escape_delta_;
    std::vector<std::uint32_t> words_;  // 16 header words, then the payload
    BlockHeader header_;
    std::uint32_t count_ = 0;
    std::uint32_t escapes_ = 0;
    std::uint64_t first_ = 0;
    std::uint64_t previous_ = 0;
    std::uint64_t min_ = 0;
    std::uint64_t max_ = 0;
    bool sorted_ = true;
};

// Where decoding stands inside one event block's payload.
struct DecodeState {
    std::size_t word = 0;      // next payload word
    std::uint32_t event = 0;   // events decoded so far
    std::uint64_t time = 0;    // timestamp of the last decoded event (block start: first timestamp)

    static DecodeState at_start(const BlockHeader& h) { return {0, 0, h.first_timestamp}; }
};

// Checks that a payload (whose checksum matched) really holds `count` events
// matching its header: escapes well formed and counted, timestamps equal to
// the header's first, last, min and max, order flag honest. Decoding trusts
// a payload only after this.
bool validate_event_payload(const std::uint32_t* words, const BlockHeader& h, std::string& error);

// Decodes the next `n` events (n <= events left in the block) into `out`.
void decode_events(const std::uint32_t* words, const BlockHeader& h, DecodeState& s, std::size_t n,
                   Event2D* out);

// Decodes a whole block into `out` (room for h.count records), checking on
// the way what validate_event_payload would; false when the payload
// disagrees with its header, and `out` must then be ignored. Cheaper than
// validating and decoding in two passes.
bool decode_block_checked(const std::uint32_t* words, const BlockHeader& h, Event2D* out);

// Advances over the next `n` events without producing them.
void skip_events(const std::uint32_t* words, const BlockHeader& h, DecodeState& s, std::size_t n);

}  // namespace vantrel::file
