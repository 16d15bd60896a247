#pragma once

// Compression of event-block payloads: the names callers choose from, the
// process-wide choice for recordings that are given none, and the zstd
// contexts that writers and readers keep between blocks.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file/format.hpp"

namespace vantrel::file {

struct Compression {
    Codec codec = Codec::Stored;
    int level = 0;  // the codec's level (zstd: 1)
};

// Every compression by name, the default one first: "none", "zstd".
const std::vector<std::string>& compression_names();
std::optional<Compression> compression_named(std::string_view name);
std::string name_of(const Compression& c);

// What recordings are written with when their writer is given no choice
// (live recordings, writeRecording without one). "none" at first.
Compression default_compression();
void set_default_compression(const Compression& c);

// Compresses payloads, keeping its context from one block to the next.
class BlockCompressor {
public:
    explicit BlockCompressor(const Compression& c);
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // Compresses `size` bytes into `out` (resized to the result). False when
    // the result would not be smaller than the input: such a block is
    // better stored as it is.
    bool compress(const void* data, std::size_t size, std::vector<unsigned char>& out);

private:
    struct Context;
    Compression compression_;
    std::unique_ptr<Context> context_;
};

// Decompresses payloads into a buffer of the size their block header
// states, never beyond it.
class BlockDecompressor {
public:
    BlockDecompressor();
    ~BlockDecompressor();
    BlockDecompressor(const BlockDecompressor&) = delete;
    BlockDecompressor& operator=(const BlockDecompressor&) = delete;

    // True when `packed` decompresses to exactly `size` bytes at `out`;
    // otherwise `why` says what was wrong and `out` holds nothing of use.
    bool decompress(Codec codec, const void* packed, std::size_t packed_size, void* out, std::size_t size,
                    std::string& why);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace vantrel::file
