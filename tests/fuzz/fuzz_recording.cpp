// The recording reader against damaged files. The first byte chooses how
// the input is used:
//
// * even: the rest is a recording file, as is (the seeds are real ones from
//   the simulator and from live cameras). Nothing is known about what was
//   written, so the reader's answers are checked against each other: every
//   read, seek, interval read, export and edge delivery must agree with one
//   event-by-event walk through the file.
// * odd: the rest describes a recording and its damage. The harness writes
//   the events and edges (in segments of fuzzer-chosen shapes: escapes,
//   time going backwards, flushes, a writer that dies), damages the bytes
//   (flips, overwrites, deletions, insertions, truncation) and then also
//   checks what was read back against what was written: only whole written
//   blocks, in order, and every block whose bytes survived. Bit 1 of the
//   first byte has the writer compress its event blocks.
//
// Event data and damaged bytes come from a generator seeded by the input,
// not from the input itself: a fuzzer that can solve checksum comparisons
// could otherwise forge valid blocks, which no reader can tell from real
// ones.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "file/block_codec.hpp"
#include "file/recording_file.hpp"
#include "file/recording_writer.hpp"
#include "fuzz_support.hpp"
#include "vantrel/file_reader.hpp"

using namespace vantrel;
using namespace vantrel::file;

namespace {

constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
using Events = std::vector<Event2D>;
using Edges = std::vector<EventTriggerIn>;

bool same(const Event2D& a, const Event2D& b) {
    return a.timestamp == b.timestamp && a.x == b.x && a.y == b.y && a.polarity == b.polarity;
}
bool same(const EventTriggerIn& a, const EventTriggerIn& b) {
    return a.timestamp == b.timestamp && a.id == b.id && a.polarity == b.polarity;
}
template <class T>
bool same(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const T& x, const T& y) { return same(x, y); });
}

class Random {
public:
    explicit Random(std::uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }

private:
    std::uint64_t s_;
};

std::unique_ptr<EvFileReader> open_reader(const std::string& path) {
    auto r = EvFileReader::createFileReader(path);
    if (!r || !r->open()) return nullptr;
    return r;
}

// The readable events of a file, with their indices, found one at a time.
struct Walk {
    std::vector<std::uint64_t> index;
    Events events;
    std::uint64_t count = 0;  // getEventCount
    bool monotonic = true;

    std::size_t at_index(std::uint64_t k) const {
        return static_cast<std::size_t>(std::lower_bound(index.begin(), index.end(), k) - index.begin());
    }
    std::size_t reaching(std::uint64_t t, std::size_t from = 0) const {
        while (from < events.size() && events[from].timestamp < t) ++from;
        return from;
    }
    std::uint64_t index_at(std::size_t p) const { return p < index.size() ? index[p] : count; }
    Events slice(std::size_t from, std::size_t to, std::uint64_t floor = 0) const {
        Events out;
        for (std::size_t i = from; i < std::min(to, events.size()); ++i)
            if (events[i].timestamp >= floor) out.push_back(events[i]);
        return out;
    }
    // What an interval read from position p with window [t0, t0 + dt) gives,
    // and where it leaves the position.
    Events interval(std::size_t p, std::uint64_t t0, std::uint64_t dt, std::size_t& end) const {
        end = dt > kAll - t0 ? events.size() : reaching(t0 + dt, p);
        return slice(p, end, t0);
    }
};

Walk walk(const std::string& path) {
    Walk w;
    auto r = open_reader(path);
    if (!r) return w;
    FUZZ_CHECK(r->getEventCount(w.count), "no event count");
    while (!r->isEndReached()) {
        const std::uint64_t k = r->getCurrentEventIndex();
        const std::uint64_t t = r->getCurrentTimestamp();
        const auto one = r->readEvents(1);
        FUZZ_CHECK(one && one->size() == 1, "a read of one event before the end gave %zu", one ? one->size() : 0);
        FUZZ_CHECK(one->front().timestamp == t, "the current timestamp is not the next event's");
        FUZZ_CHECK(w.index.empty() || k > w.index.back(), "indices do not increase");
        FUZZ_CHECK(k < w.count, "index %llu beyond the count", static_cast<unsigned long long>(k));
        if (!w.events.empty() && t < w.events.back().timestamp) w.monotonic = false;
        w.index.push_back(k);
        w.events.push_back(one->front());
    }
    FUZZ_CHECK(r->getCurrentEventIndex() == w.count, "the end is not at the count");
    FUZZ_CHECK(r->readEvents(5)->empty() && r->readEventsByTimeInterval(5)->empty(), "reads past the end");
    return w;
}

// Every way of reading agrees with the walk; returns the edges that one
// read of the whole file delivers.
Edges check_against_walk(const std::string& path, const Walk& w, fuzz::Bytes& script) {
    auto r = open_reader(path);
    FUZZ_CHECK(r, "opened once, not twice");
    Edges whole;
    const std::uint32_t id = r->registerTriggerInCallback([&](const EventTriggerIn& e) { whole.push_back(e); });
    FUZZ_CHECK(same(*r->readEvents(kAll), w.events), "one read differs from the walk");
    FUZZ_CHECK(r->isEndReached(), "not at the end after reading everything");
    r->unregisterTriggerInCallback(id);
    if (w.events.empty()) FUZZ_CHECK(whole.empty(), "edges without any readable event");

    // Reads of every size, from the start, in any mix; once the script is
    // used up, one read takes the rest.
    Edges pieces;
    auto r2 = open_reader(path);
    r2->registerTriggerInCallback([&](const EventTriggerIn& e) { pieces.push_back(e); });
    std::size_t p = 0;
    while (!r2->isEndReached()) {
        FUZZ_CHECK(r2->getCurrentEventIndex() == w.index_at(p), "position drifted");
        const bool interval = script.flag();
        const std::uint64_t n = script.empty() ? kAll : script.range(0, 300);
        if (interval) {
            std::size_t end = 0;
            const Events expected = w.interval(p, w.events[p].timestamp, n, end);
            FUZZ_CHECK(same(*r2->readEventsByTimeInterval(n), expected), "interval read from %zu", p);
            p = end;
        } else {
            FUZZ_CHECK(same(*r2->readEvents(n), w.slice(p, n > w.events.size() ? w.events.size() : p + n)),
                       "read of %llu from %zu", static_cast<unsigned long long>(n), p);
            p = n > w.events.size() - p ? w.events.size() : p + static_cast<std::size_t>(n);
        }
    }
    // Read from start to end, every edge arrives once (when time only goes
    // forwards: the reads' windows then cover the time line exactly once).
    if (w.monotonic && r2->isEndReached()) {
        auto sorted = [](Edges v) {
            std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
            return v;
        };
        FUZZ_CHECK(same(sorted(pieces), sorted(whole)), "%zu edges in pieces, %zu at once", pieces.size(), whole.size());
    }

    // Seeks and the reads that start with one.
    for (int round = 0; round < 6; ++round) {
        std::uint64_t k = 0;
        if (script.flag() && !w.index.empty()) {
            k = w.index[script.range(0, w.index.size() - 1)];
            k += script.range(0, 2) - 1;
        } else {
            k = script.range(0, w.count + 1);
        }
        const std::size_t at = w.at_index(k);
        const bool exists = k < w.count;
        FUZZ_CHECK(r->seekToEventIndex(k) == exists, "seek to index %llu", static_cast<unsigned long long>(k));
        const std::uint64_t n = script.range(0, 200);
        if (exists) {
            FUZZ_CHECK(r->getCurrentEventIndex() == w.index_at(at), "seek to index landed elsewhere");
            FUZZ_CHECK(same(*r->readEvents(n), w.slice(at, at + n)), "read after seek to index");
        }
        FUZZ_CHECK(same(*r->readEventsFromEventIndex(k, n), exists ? w.slice(at, at + n) : Events{}), "read from index");
        const std::uint64_t dt = script.range(0, 3) == 0 ? kAll - script.range(0, 3) : script.range(0, 5000);
        std::size_t end = 0;
        const Events expected = exists && at < w.events.size() ? w.interval(at, w.events[at].timestamp, dt, end) : Events{};
        FUZZ_CHECK(same(*r->readEventsByTimeIntervalFromEventIndex(k, dt), expected), "interval from index %llu",
                   static_cast<unsigned long long>(k));
        if (exists && at < w.events.size()) FUZZ_CHECK(r->getCurrentEventIndex() == w.index_at(end), "interval end");

        std::uint64_t t = 0;
        if (script.range(0, 3) == 0 || w.events.empty()) {
            t = script.take<std::uint64_t>();
        } else {
            t = w.events[script.range(0, w.events.size() - 1)].timestamp;
            t += script.range(0, 2) - 1;
        }
        const std::size_t from = w.reaching(t);
        const bool found = from < w.events.size();
        const std::uint64_t before = r->getCurrentEventIndex();
        FUZZ_CHECK(r->seekToTimestamp(t) == found, "seek to time %llu", static_cast<unsigned long long>(t));
        FUZZ_CHECK(r->getCurrentEventIndex() == (found ? w.index[from] : before), "seek to time landed elsewhere");
        FUZZ_CHECK(same(*r->readEventsFromTimestamp(t, n), found ? w.slice(from, from + n) : Events{}), "read from time");
        const Events in_window = found ? w.interval(from, t, dt, end) : Events{};
        FUZZ_CHECK(same(*r->readEventsByTimeIntervalFromTimestamp(t, dt), in_window), "interval from time");
    }

    // An export holds exactly the events and edges in its range, and does
    // not move the reader.
    std::uint64_t a = script.take<std::uint64_t>(), b = script.take<std::uint64_t>();
    if (!w.events.empty() && script.flag()) {
        a = w.events[script.range(0, w.events.size() - 1)].timestamp;
        b = a + script.range(0, 10000);
    }
    if (a > b) std::swap(a, b);
    const std::uint64_t position = r->getCurrentEventIndex();
    const std::string out = fuzz::scratch_file("export.vtr");
    FUZZ_CHECK(r->exportEventsToRaw(a, b, out), "export refused");
    FUZZ_CHECK(r->getCurrentEventIndex() == position, "export moved the reader");
    Events in_range;
    for (const Event2D& e : w.events)
        if (e.timestamp >= a && e.timestamp <= b) in_range.push_back(e);
    const Walk exported = walk(out);
    FUZZ_CHECK(same(exported.events, in_range), "export holds %zu events, not %zu", exported.events.size(), in_range.size());
    FUZZ_CHECK(exported.count == in_range.size(), "export's count");
    if (!in_range.empty()) {
        Edges exported_edges, edges_in_range;
        auto re = open_reader(out);
        re->registerTriggerInCallback([&](const EventTriggerIn& e) { exported_edges.push_back(e); });
        re->readEvents(kAll);
        // All edges of the file in the range (the whole read saw every readable one).
        for (const auto& e : whole)
            if (e.timestamp >= a && e.timestamp <= b) edges_in_range.push_back(e);
        FUZZ_CHECK(same(exported_edges, edges_in_range), "export holds %zu edges, not %zu", exported_edges.size(),
                   edges_in_range.size());
    }
    return whole;
}

// --- the generated recording and its damage --------------------------------

struct Written {
    Events events;
    Edges edges;
    std::size_t serial_size = 0;
};

// Writes events and edges in segments of fuzzer-chosen shapes.
Written write_recording(const std::string& path, fuzz::Bytes& in, Random& rng, bool compressed, bool& finished) {
    Written w;
    const auto width = static_cast<std::uint16_t>(in.flag() ? in.range(0, 65535) : in.range(1, 1024));
    const auto height = static_cast<std::uint16_t>(in.flag() ? in.range(0, 65535) : in.range(1, 1024));
    BlockLimits limits{static_cast<std::uint32_t>(in.range(1, 300)), static_cast<std::uint32_t>(in.range(1, 20))};
    RecordingWriter writer(limits, compressed ? *compression_named("zstd") : Compression{});
    w.serial_size = in.range(0, 12);
    FUZZ_CHECK(writer.open(path, RecordingInfo{width, height, std::string(w.serial_size, 'S'), 1}), "open");
    std::uint64_t t = in.range(0, 3) == 0 ? rng.next() : rng.below(1 << 20);
    const std::size_t segments = in.range(1, 12);
    for (std::size_t s = 0; s < segments && w.events.size() < 4000; ++s) {
        const std::uint64_t shape = in.range(0, 7);
        const std::size_t n = in.range(0, 500);
        Events batch;
        for (std::size_t i = 0; i < n; ++i) {
            switch (shape) {
                case 0: t += rng.below(4); break;                 // a sensor's small steps
                case 1: t += rng.below(1 << 14); break;           // gaps past the delta field
                case 2: t -= std::min<std::uint64_t>(t, rng.below(3000)); break;  // backwards
                case 3: t = rng.next(); break;                    // anywhere
                default: break;                                   // runs of equal timestamps
            }
            // One statement per draw: the order of function arguments is
            // the compiler's choice, and replays must make the same file.
            Event2D e{};
            e.x = static_cast<std::uint16_t>(rng.below(width ? width : 1));
            e.y = static_cast<std::uint16_t>(rng.below(height ? height : 1));
            e.polarity = static_cast<std::uint8_t>(rng.below(2));
            e.timestamp = t;
            if (shape == 5 || rng.below(64) == 0) {  // off the sensor, odd polarity
                e.x = static_cast<std::uint16_t>(rng.next());
                e.y = static_cast<std::uint16_t>(rng.next());
                e.polarity = static_cast<std::uint8_t>(rng.next());
            }
            batch.push_back(e);
        }
        FUZZ_CHECK(writer.add(batch.data(), batch.size()), "add events");
        w.events.insert(w.events.end(), batch.begin(), batch.end());
        for (std::size_t k = in.range(0, 30); k > 0; --k) {
            const EventTriggerIn edge{static_cast<std::int16_t>(rng.next()),
                                      t - std::min<std::uint64_t>(t, rng.below(in.flag() ? 100000 : 10)),
                                      static_cast<std::int16_t>(rng.below(3))};
            FUZZ_CHECK(writer.add(edge), "add edge");
            w.edges.push_back(edge);
        }
        if (in.flag()) FUZZ_CHECK(writer.flush(), "flush");  // as the live recorder does now and then
    }
    finished = in.range(0, 3) != 0;
    if (finished) FUZZ_CHECK(writer.finish(), "finish: %s", writer.error().c_str());
    // Otherwise the writer goes away as a killed process leaves it: no index.
    return w;
}

// Byte-level damage; `origin` follows where each byte came from (-1: not
// written by the writer).
void damage(std::string& bytes, std::vector<std::int64_t>& origin, fuzz::Bytes& in, Random& rng) {
    const std::size_t ops = in.range(0, 6);
    for (std::size_t op = 0; op < ops; ++op) {
        const std::uint64_t kind = in.range(0, 4);
        const std::size_t at = static_cast<std::size_t>(in.range(0, bytes.size()));
        const std::size_t n = static_cast<std::size_t>(in.range(0, 3) == 0 ? in.range(1, 400) : in.range(1, 4));
        switch (kind) {
            case 0:  // flips
            case 1:  // overwrite
                for (std::size_t i = at; i < std::min(bytes.size(), at + n); ++i) {
                    const auto was = bytes[i];
                    bytes[i] = kind == 0 ? static_cast<char>(bytes[i] ^ (1 + rng.below(255))) : static_cast<char>(rng.next());
                    if (bytes[i] != was) origin[i] = -1;
                }
                break;
            case 2:  // deletion
                bytes.erase(at, n);
                origin.erase(origin.begin() + static_cast<std::ptrdiff_t>(at),
                             origin.begin() + static_cast<std::ptrdiff_t>(std::min(origin.size(), at + n)));
                break;
            case 3: {  // insertion
                std::string junk(n, '\0');
                for (char& c : junk) c = static_cast<char>(rng.next());
                bytes.insert(at, junk);
                origin.insert(origin.begin() + static_cast<std::ptrdiff_t>(at), n, -1);
                break;
            }
            default:  // cut short
                bytes.resize(at);
                origin.resize(at);
        }
    }
}

// Where each written byte now lies (-1: damaged or gone).
std::vector<std::int64_t> whereabouts(const std::vector<std::int64_t>& origin, std::size_t written_size) {
    std::vector<std::int64_t> where(written_size, -1);
    for (std::size_t i = 0; i < origin.size(); ++i)
        if (origin[i] >= 0) where[static_cast<std::size_t>(origin[i])] = static_cast<std::int64_t>(i);
    return where;
}

// Where the written bytes [offset, offset + size) now lie, if all of them
// survived together; -1 otherwise.
std::int64_t survived_at(const std::vector<std::int64_t>& where, std::uint64_t offset, std::uint64_t size) {
    if (offset + size > where.size() || size == 0) return -1;
    const std::int64_t at = where[offset];
    for (std::uint64_t k = 0; k < size; ++k)
        if (at < 0 || where[offset + k] != at + static_cast<std::int64_t>(k)) return -1;
    return at;
}

// What was read is made of whole written blocks, in order, and holds every
// block whose bytes survived (at their place, or anywhere when the reader
// had to scan the file). Equal blocks make the match ambiguous, so every
// way of matching is followed: the positions in `got` reachable after each
// written block.
template <class T>
void check_blocks(const std::vector<T>& got, const std::vector<T>& written, const std::vector<BlockEntry>& blocks,
                  const std::vector<std::int64_t>& where, bool scanned, const char* what) {
    std::vector<std::size_t> reachable{0}, next;
    for (const BlockEntry& b : blocks) {
        const std::int64_t now = survived_at(where, b.offset, kBlockHeaderSize + b.header.payload_size);
        const bool must = now >= 0 && (scanned || now == static_cast<std::int64_t>(b.offset));
        const auto first = written.begin() + static_cast<std::ptrdiff_t>(b.first_record);
        const std::size_t n = b.header.count;
        next.clear();
        for (const std::size_t pos : reachable) {
            if (!must) next.push_back(pos);
            if (pos + n <= got.size() &&
                std::equal(first, first + static_cast<std::ptrdiff_t>(n), got.begin() + static_cast<std::ptrdiff_t>(pos),
                           [](const T& x, const T& y) { return same(x, y); }))
                next.push_back(pos + n);
        }
        std::sort(next.begin(), next.end());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        FUZZ_CHECK(!next.empty(), "%s block at offset %llu survived but was not read", what,
                   static_cast<unsigned long long>(b.offset));
        reachable.swap(next);
    }
    FUZZ_CHECK(std::binary_search(reachable.begin(), reachable.end(), got.size()),
               "%s read back that were never written, or out of order (%zu read)", what, got.size());
}

void generated(fuzz::Bytes in, bool compressed) {
    Random rng(in.take<std::uint64_t>());
    const std::string path = fuzz::scratch_file("generated.vtr");
    bool finished = false;
    const Written written = write_recording(path, in, rng, compressed, finished);

    // The layout as written (a file without index is scanned, which finds
    // every block of an undamaged one).
    RecordingFile layout;
    std::string error;
    FUZZ_CHECK(layout.open(path, error), "the written file does not open: %s", error.c_str());
    FUZZ_CHECK(layout.recovered() == !finished, "index present: %d, finished: %d", !layout.recovered(), finished);
    // A writer that did not finish leaves out only what it had not flushed.
    FUZZ_CHECK(finished ? layout.eventCount() == written.events.size() && layout.triggerCount() == written.edges.size()
                        : layout.eventCount() <= written.events.size() && layout.triggerCount() <= written.edges.size(),
               "the undamaged file holds %llu events of %zu", static_cast<unsigned long long>(layout.eventCount()),
               written.events.size());

    std::string bytes = fuzz::file_bytes(path);
    const std::size_t layout_size = bytes.size();
    const std::uint64_t header_size = kHeaderFixedSize + written.serial_size + 4;
    std::vector<std::int64_t> origin(bytes.size());
    for (std::size_t i = 0; i < origin.size(); ++i) origin[i] = static_cast<std::int64_t>(i);
    damage(bytes, origin, in, rng);
    fuzz::put_file(path, bytes);

    const auto where = whereabouts(origin, layout_size);
    RecordingFile damaged;
    const bool opens = damaged.open(path, error);
    const Walk w = walk(path);
    FUZZ_CHECK(opens == (open_reader(path) != nullptr), "RecordingFile and the reader disagree on opening");
    if (!opens) {
        // Only a damaged file header keeps a file from opening.
        FUZZ_CHECK(survived_at(where, 0, header_size) != 0, "an intact file header was refused: %s", error.c_str());
        return;
    }
    check_blocks(w.events, written.events, layout.eventBlocks(), where, damaged.recovered(), "events");
    const Edges edges = check_against_walk(path, w, in);
    if (!w.events.empty())
        check_blocks(edges, written.edges, layout.triggerBlocks(), where, damaged.recovered(), "edges");
}

void raw(fuzz::Bytes in) {
    const std::string path = fuzz::scratch_file("raw.vtr");
    // A script for the checks, then the file.
    const std::string_view script_bytes = in.bytes(in.range(0, 64));
    fuzz::put_file(path, in.rest());
    const Walk w = walk(path);
    if (!open_reader(path)) return;
    fuzz::Bytes script(reinterpret_cast<const std::uint8_t*>(script_bytes.data()), script_bytes.size());
    check_against_walk(path, w, script);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_logging();
    if (size == 0) return 0;
    fuzz::Bytes in(data + 1, size - 1);
    // First byte: bit 0 chooses a generated file, bit 1 its event blocks compressed.
    if (data[0] & 1)
        generated(in, (data[0] & 2) != 0);
    else
        raw(in);
    return 0;
}
