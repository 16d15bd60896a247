#include "file/event_codec.hpp"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "file/crc32c.hpp"

namespace vantrel::file {

namespace {

constexpr std::size_t kHeaderWords = kBlockHeaderSize / 4;

// Plain words to records, one at a time. Each record is written as two
// 64-bit stores: the timestamp, then x, y and polarity with the padding
// bytes zeroed.
// `escapes` is set when a word carries the escape marker (which a block
// declaring no escapes must not).
std::uint64_t decode_plain_scalar(const std::uint32_t* w, std::size_t n, std::uint64_t t,
                                  const WordLayout& l, unsigned char* o, bool& escapes) {
    const unsigned xb = l.x_bits, ps = l.polarity_shift(), ds = l.delta_shift();
    const std::uint32_t xm = l.x_mask(), ym = l.y_mask(), esc = l.escape_delta();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t v = w[i];
        escapes |= (v >> ds) == esc;
        t += v >> ds;
        const std::uint64_t rest = std::uint64_t{v & xm} | (std::uint64_t{(v >> xb) & ym} << 16) |
                                   (std::uint64_t{(v >> ps) & 1u} << 32);
        std::memcpy(o + 16 * i, &t, 8);
        std::memcpy(o + 16 * i + 8, &rest, 8);
    }
    return t;
}

#if defined(__x86_64__)
// Four words per step: the deltas' running sum is formed across the four
// lanes, and the fields are unpacked side by side.
__attribute__((target("avx2"))) std::uint64_t decode_plain_avx2(const std::uint32_t* w, std::size_t n,
                                                                std::uint64_t t, const WordLayout& l,
                                                                unsigned char* o, bool& escapes) {
    // Fields move to their places in the record with one shift each:
    // x stays, y goes from bit x_bits to bit 16, polarity to bit 32.
    const __m128i ds = _mm_cvtsi32_si128(static_cast<int>(l.delta_shift()));
    const __m128i y_up = _mm_cvtsi32_si128(static_cast<int>(16 - l.x_bits));
    const __m128i p_up = _mm_cvtsi32_si128(static_cast<int>(32 - l.polarity_shift()));
    const __m256i xm = _mm256_set1_epi64x(l.x_mask());
    const __m256i ym = _mm256_set1_epi64x(static_cast<long long>(l.y_mask()) << 16);
    const __m256i pm = _mm256_set1_epi64x(1ll << 32);
    const __m256i esc = _mm256_set1_epi64x(l.escape_delta());
    const __m256i zero = _mm256_setzero_si256();
    __m256i seen = zero;
    __m256i time = _mm256_set1_epi64x(static_cast<long long>(t));
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256i v = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i)));
        __m256i d = _mm256_srl_epi64(v, ds);
        seen = _mm256_or_si256(seen, _mm256_cmpeq_epi64(d, esc));
        // Running sum: within each half first, then the lower half's total
        // into the upper half.
        d = _mm256_add_epi64(d, _mm256_slli_si256(d, 8));
        d = _mm256_add_epi64(d, _mm256_blend_epi32(zero, _mm256_permute4x64_epi64(d, 0x55), 0xF0));
        // Only one addition carries from one step to the next.
        const __m256i ts = _mm256_add_epi64(time, d);
        time = _mm256_add_epi64(time, _mm256_permute4x64_epi64(d, 0xFF));
        const __m256i rest = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(v, xm), _mm256_and_si256(_mm256_sll_epi64(v, y_up), ym)),
            _mm256_and_si256(_mm256_sll_epi64(v, p_up), pm));
        const __m256i lo = _mm256_unpacklo_epi64(ts, rest);  // t0 r0 | t2 r2
        const __m256i hi = _mm256_unpackhi_epi64(ts, rest);  // t1 r1 | t3 r3
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 16 * i), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 16 * i + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    escapes |= !_mm256_testz_si256(seen, seen);
    t = static_cast<std::uint64_t>(_mm256_extract_epi64(time, 0));
    return decode_plain_scalar(w + i, n - i, t, l, o + 16 * i, escapes);
}

bool has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

std::uint64_t decode_plain(const std::uint32_t* w, std::size_t n, std::uint64_t t, const WordLayout& l,
                           unsigned char* o, bool& escapes) {
#if defined(__x86_64__)
    if (has_avx2()) return decode_plain_avx2(w, n, t, l, o, escapes);
#endif
    return decode_plain_scalar(w, n, t, l, o, escapes);
}

unsigned bits_for(std::uint16_t size) {
    return size <= 1 ? 0u : static_cast<unsigned>(std::bit_width(static_cast<unsigned>(size - 1)));
}

}  // namespace

WordLayout layout_for_sensor(std::uint16_t width, std::uint16_t height) {
    WordLayout l{bits_for(width), bits_for(height)};
    // Huge sensors leave too few delta bits; narrower fields only mean that
    // the outer pixels are escaped.
    while (!l.valid()) {
        if (l.x_bits >= l.y_bits)
            --l.x_bits;
        else
            --l.y_bits;
    }
    return l;
}

EventBlockEncoder::EventBlockEncoder(WordLayout layout)
    : layout_(layout),
      x_mask_(layout.x_mask()),
      y_mask_(layout.y_mask()),
      escape_delta_(layout.escape_delta()) {
    reset();
}

void EventBlockEncoder::reset() {
    words_.assign(kHeaderWords, 0);
    count_ = 0;
    escapes_ = 0;
    sorted_ = true;
}

void EventBlockEncoder::start(std::uint64_t t) {
    first_ = previous_ = min_ = max_ = t;
}

void EventBlockEncoder::add(const Event2D* events, std::size_t n) {
    // Runs of plain events are written straight into room made for them
    // (one word each), without add()'s bookkeeping per event; an event that
    // needs an escape ends the run and goes through add(). The room grows
    // while runs go on and starts small again after an escape, so that a
    // stream of escapes makes little room it does not use.
    const unsigned xs = layout_.x_bits, ps = layout_.polarity_shift(), ds = layout_.delta_shift();
    std::size_t room = 16;
    std::size_t i = 0;
    while (i < n) {
        if (count_ == 0) {
            add(events[i++]);
            continue;
        }
        const std::size_t base = words_.size();
        const std::size_t end = i + std::min(room, n - i);
        words_.resize(base + (end - i));
        std::uint32_t* w = words_.data() + base;
        std::uint64_t previous = previous_;
        std::size_t k = 0;
        for (; i < end; ++i, ++k) {
            const Event2D& e = events[i];
            const std::uint64_t t = e.timestamp;
            const std::uint64_t delta = t - previous;
            if (!(e.x <= x_mask_ && e.y <= y_mask_ && e.polarity <= 1 && t >= previous && delta < escape_delta_))
                break;
            w[k] = static_cast<std::uint32_t>(e.x) | (static_cast<std::uint32_t>(e.y) << xs) |
                   (static_cast<std::uint32_t>(e.polarity) << ps) | (static_cast<std::uint32_t>(delta) << ds);
            previous = t;
        }
        words_.resize(base + k);
        // Time never went back in the run: only the largest timestamp can have changed.
        if (k > 0) {
            if (previous > max_) max_ = previous;
            previous_ = previous;
            count_ += static_cast<std::uint32_t>(k);
        }
        if (i < end) {
            add(events[i++]);
            room = 16;
        } else {
            room = std::min<std::size_t>(room * 2, 8192);
        }
    }
}

void EventBlockEncoder::add_escaped(const Event2D& e) {
    words_.push_back(escape_delta_ << layout_.delta_shift());
    words_.push_back(static_cast<std::uint32_t>(e.timestamp));
    words_.push_back(static_cast<std::uint32_t>(e.timestamp >> 32));
    words_.push_back(static_cast<std::uint32_t>(e.x) | (static_cast<std::uint32_t>(e.y) << 16));
    words_.push_back(e.polarity);
    ++escapes_;
}

const unsigned char* EventBlockEncoder::finish(std::size_t& size) {
    BlockHeader h;
    h.kind = BlockKind::Events;
    h.flags = sorted_ ? kFlagSorted : 0;
    h.x_bits = static_cast<std::uint8_t>(layout_.x_bits);
    h.y_bits = static_cast<std::uint8_t>(layout_.y_bits);
    h.count = count_;
    h.escape_count = escapes_;
    h.first_timestamp = first_;
    h.last_timestamp = previous_;
    h.min_timestamp = min_;
    h.max_timestamp = max_;
    const std::size_t payload_words = words_.size() - kHeaderWords;
    h.payload_size = static_cast<std::uint32_t>(payload_words * 4);
    h.payload_crc = crc32c(words_.data() + kHeaderWords, payload_words * 4);
    auto* bytes = reinterpret_cast<unsigned char*>(words_.data());
    encode_block_header(h, bytes);
    header_ = h;
    size = words_.size() * 4;
    return bytes;
}

bool validate_event_payload(const std::uint32_t* words, const BlockHeader& h, std::string& error) {
    const WordLayout l{h.x_bits, h.y_bits};
    const unsigned ds = l.delta_shift();
    const std::uint32_t esc = l.escape_delta();

    if (h.escape_count == 0) {
        // Without escapes time never goes back, the first delta is 0 and the
        // deltas add up to the last timestamp; this loop vectorises.
        std::uint64_t sum = 0;
        std::uint32_t escapes = 0;
        for (std::uint32_t i = 0; i < h.count; ++i) {
            const std::uint32_t d = words[i] >> ds;
            sum += d;
            escapes += d == esc;
        }
        if (escapes != 0) {
            error = "escape in a block that declares none";
            return false;
        }
        if ((words[0] >> ds) != 0 || h.first_timestamp + sum != h.last_timestamp ||
            h.last_timestamp < h.first_timestamp || (h.flags & kFlagSorted) == 0 ||
            h.min_timestamp != h.first_timestamp || h.max_timestamp != h.last_timestamp) {
            error = "event timestamps do not match the block header";
            return false;
        }
        return true;
    }

    const std::size_t total = static_cast<std::size_t>(event_words_size(h) / 4);  // compressed too
    const std::uint32_t reserved_mask = (1u << ds) - 1u;
    std::size_t w = 0;
    std::uint32_t escapes = 0;
    std::uint64_t t = h.first_timestamp, mn = ~0ull, mx = 0;
    bool sorted = true;
    for (std::uint32_t i = 0; i < h.count; ++i) {
        if (w >= total) {
            error = "event payload ends early";
            return false;
        }
        const std::uint32_t v = words[w];
        const std::uint32_t d = v >> ds;
        std::uint64_t next;
        if (d == esc) {
            if ((v & reserved_mask) != 0 || total - w <= kEscapeWords ||
                (words[w + 4] & 0xFFFFFF00u) != 0) {
                error = "malformed escape";
                return false;
            }
            next = std::uint64_t{words[w + 1]} | (std::uint64_t{words[w + 2]} << 32);
            w += 1 + kEscapeWords;
            ++escapes;
        } else {
            next = t + d;
            ++w;
        }
        if (i == 0 ? next != h.first_timestamp : next < t) {
            if (i == 0) {
                error = "first event does not match the block header";
                return false;
            }
            sorted = false;
        }
        t = next;
        if (t < mn) mn = t;
        if (t > mx) mx = t;
    }
    if (w != total || escapes != h.escape_count) {
        error = "event payload size does not match its events";
        return false;
    }
    if (t != h.last_timestamp || mn != h.min_timestamp || mx != h.max_timestamp ||
        ((h.flags & kFlagSorted) != 0) != sorted) {
        error = "event timestamps do not match the block header";
        return false;
    }
    return true;
}

void decode_events(const std::uint32_t* words, const BlockHeader& h, DecodeState& s, std::size_t n,
                   Event2D* out) {
    const WordLayout l{h.x_bits, h.y_bits};
    const unsigned xb = l.x_bits, ps = l.polarity_shift(), ds = l.delta_shift();
    const std::uint32_t xm = l.x_mask(), ym = l.y_mask();
    std::uint64_t t = s.time;
    const std::uint32_t* w = words + s.word;
    auto* o = reinterpret_cast<unsigned char*>(out);

    if (h.escape_count == 0) {
        bool escapes = false;
        t = decode_plain(w, n, t, l, o, escapes);
        s.word += n;
    } else {
        const std::uint32_t esc = l.escape_delta();
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t v = w[k];
            std::uint64_t rest;
            if ((v >> ds) == esc) {
                t = std::uint64_t{w[k + 1]} | (std::uint64_t{w[k + 2]} << 32);
                const std::uint32_t xy = w[k + 3];
                rest = std::uint64_t{xy & 0xFFFFu} | (std::uint64_t{xy >> 16} << 16) |
                       (std::uint64_t{w[k + 4] & 0xFFu} << 32);
                k += 1 + kEscapeWords;
            } else {
                t += v >> ds;
                rest = std::uint64_t{v & xm} | (std::uint64_t{(v >> xb) & ym} << 16) |
                       (std::uint64_t{(v >> ps) & 1u} << 32);
                ++k;
            }
            std::memcpy(o + 16 * i, &t, 8);
            std::memcpy(o + 16 * i + 8, &rest, 8);
        }
        s.word += k;
    }
    s.time = t;
    s.event += static_cast<std::uint32_t>(n);
}

bool decode_block_checked(const std::uint32_t* words, const BlockHeader& h, Event2D* out) {
    if (h.escape_count != 0) {
        // Blocks with escapes are checked in full when they are loaded.
        DecodeState s = DecodeState::at_start(h);
        decode_events(words, h, s, h.count, out);
        return true;
    }
    const WordLayout l{h.x_bits, h.y_bits};
    bool escapes = false;
    const std::uint64_t last =
        decode_plain(words, h.count, h.first_timestamp, l, reinterpret_cast<unsigned char*>(out), escapes);
    return !escapes && (words[0] >> l.delta_shift()) == 0 && last == h.last_timestamp &&
           last >= h.first_timestamp && (h.flags & kFlagSorted) != 0 &&
           h.min_timestamp == h.first_timestamp && h.max_timestamp == h.last_timestamp;
}

void skip_events(const std::uint32_t* words, const BlockHeader& h, DecodeState& s, std::size_t n) {
    const WordLayout l{h.x_bits, h.y_bits};
    const unsigned ds = l.delta_shift();
    const std::uint32_t* w = words + s.word;
    std::uint64_t t = s.time;
    if (h.escape_count == 0) {
        for (std::size_t i = 0; i < n; ++i) t += w[i] >> ds;
        s.word += n;
    } else {
        const std::uint32_t esc = l.escape_delta();
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t d = w[k] >> ds;
            if (d == esc) {
                t = std::uint64_t{w[k + 1]} | (std::uint64_t{w[k + 2]} << 32);
                k += 1 + kEscapeWords;
            } else {
                t += d;
                ++k;
            }
        }
        s.word += k;
    }
    s.time = t;
    s.event += static_cast<std::uint32_t>(n);
}

}  // namespace vantrel::file
