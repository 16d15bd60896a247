#include "file/block_codec.hpp"

#include <zstd.h>

#include <atomic>
#include <cstring>
#include <new>

namespace vantrel::file {

namespace {

struct Named {
    const char* name;
    Compression compression;
};

// The one table of compressions; the default comes first. zstd's level -1
// on the byte planes of the default scene's words gives about 2.7 bytes per
// event at some 150 M events/s per core, and decompresses at several
// hundred M/s; level 1 gives 2.4 but compresses at two thirds of that
// speed and decompresses at less than half, too slow for live recording at
// tens of M events/s beside a stream on a small machine.
const Named kCompressions[] = {
    {"none", {Codec::Stored, 0}},
    {"zstd", {Codec::Zstd, -1}},
};

// The payload is 32-bit words whose four bytes differ in kind (x, y,
// polarity, time step): zstd finds far more to share in each byte of every
// word taken together, so the words are split into four planes (all first
// bytes, all second bytes, ...) before compressing, and joined after.
void split_planes(const unsigned char* words, std::size_t n, unsigned char* planes) {
    unsigned char* p0 = planes;
    unsigned char* p1 = planes + n;
    unsigned char* p2 = planes + 2 * n;
    unsigned char* p3 = planes + 3 * n;
    for (std::size_t i = 0; i < n; ++i) {
        p0[i] = words[4 * i];
        p1[i] = words[4 * i + 1];
        p2[i] = words[4 * i + 2];
        p3[i] = words[4 * i + 3];
    }
}

void join_planes(const unsigned char* planes, std::size_t n, unsigned char* words) {
    const unsigned char* p0 = planes;
    const unsigned char* p1 = planes + n;
    const unsigned char* p2 = planes + 2 * n;
    const unsigned char* p3 = planes + 3 * n;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t w = std::uint32_t{p0[i]} | (std::uint32_t{p1[i]} << 8) | (std::uint32_t{p2[i]} << 16) |
                                (std::uint32_t{p3[i]} << 24);
        std::memcpy(words + 4 * i, &w, 4);
    }
}

// Codec and level packed into one word, so that the choice is read whole.
std::atomic<std::uint32_t> g_default{0};

std::uint32_t pack(const Compression& c) {
    return static_cast<std::uint32_t>(c.codec) | (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c.level)) << 8);
}

Compression unpack(std::uint32_t v) {
    return {static_cast<Codec>(v & 0xFF), static_cast<int>(static_cast<std::int8_t>((v >> 8) & 0xFF))};
}

}  // namespace

const std::vector<std::string>& compression_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Named& n : kCompressions) out.emplace_back(n.name);
        return out;
    }();
    return names;
}

std::optional<Compression> compression_named(std::string_view name) {
    for (const Named& n : kCompressions)
        if (name == n.name) return n.compression;
    return std::nullopt;
}

std::string name_of(const Compression& c) {
    for (const Named& n : kCompressions)
        if (n.compression.codec == c.codec && n.compression.level == c.level) return n.name;
    return c.codec == Codec::Stored ? "none" : "zstd level " + std::to_string(c.level);
}

Compression default_compression() { return unpack(g_default.load(std::memory_order_acquire)); }

void set_default_compression(const Compression& c) { g_default.store(pack(c), std::memory_order_release); }

// --- compression -------------------------------------------------------------

struct BlockCompressor::Context {
    ZSTD_CCtx* cctx = nullptr;
    std::vector<unsigned char> planes;
    ~Context() { ZSTD_freeCCtx(cctx); }
};

BlockCompressor::BlockCompressor(const Compression& c) : compression_(c), context_(std::make_unique<Context>()) {
    if (c.codec != Codec::Zstd) return;
    context_->cctx = ZSTD_createCCtx();
    if (context_->cctx == nullptr) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(context_->cctx, ZSTD_c_compressionLevel, c.level);
}

BlockCompressor::~BlockCompressor() = default;

bool BlockCompressor::compress(const void* data, std::size_t size, std::vector<unsigned char>& out) {
    if (context_->cctx == nullptr || size == 0 || size % 4 != 0) return false;
    context_->planes.resize(size);
    split_planes(static_cast<const unsigned char*>(data), size / 4, context_->planes.data());
    out.resize(ZSTD_compressBound(size));
    const std::size_t n = ZSTD_compress2(context_->cctx, out.data(), out.size(), context_->planes.data(), size);
    if (ZSTD_isError(n) || n >= size) return false;
    out.resize(n);
    return true;
}

// --- decompression -------------------------------------------------------------

struct BlockDecompressor::Context {
    ZSTD_DCtx* dctx = nullptr;
    std::vector<unsigned char> planes;
    ~Context() { ZSTD_freeDCtx(dctx); }
};

BlockDecompressor::BlockDecompressor() : context_(std::make_unique<Context>()) {}

BlockDecompressor::~BlockDecompressor() = default;

bool BlockDecompressor::decompress(Codec codec, const void* packed, std::size_t packed_size, void* out,
                                   std::size_t size, std::string& why) {
    if (codec != Codec::Zstd || size % 4 != 0) {
        why = "unknown compression";
        return false;
    }
    if (context_->dctx == nullptr) {
        context_->dctx = ZSTD_createDCtx();
        if (context_->dctx == nullptr) throw std::bad_alloc();
    }
    // One pass into a buffer of the stated size: zstd writes nothing beyond
    // it, whatever the frames claim, and keeps no window of its own.
    context_->planes.resize(size);
    const std::size_t n = ZSTD_decompressDCtx(context_->dctx, context_->planes.data(), size, packed, packed_size);
    if (ZSTD_isError(n)) {
        why = std::string("compressed payload is damaged (") + ZSTD_getErrorName(n) + ")";
        return false;
    }
    if (n != size) {
        why = "compressed payload holds " + std::to_string(n) + " bytes, not the " + std::to_string(size) +
              " its header states";
        return false;
    }
    join_planes(context_->planes.data(), size / 4, static_cast<unsigned char*>(out));
    return true;
}

}  // namespace vantrel::file
