#pragma once

// What the fuzz targets share: reading structured values out of the fuzzer's
// bytes, a scratch folder, quiet logging, and invariant checks that abort
// (libFuzzer keeps the input that made one fail).

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "vantrel/logger.hpp"

namespace vantrel::fuzz {

#define FUZZ_CHECK(condition, ...)                                                   \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "invariant failed at %s:%d: %s\n", __FILE__, __LINE__, \
                         #condition);                                                \
            std::fprintf(stderr, "  " __VA_ARGS__);                                  \
            std::fprintf(stderr, "\n");                                              \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// Values taken from the front of the input; zeros once it is used up, so
// every input means something.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t left() const { return size_ - at_; }

    template <class T>
    T take() {
        T v{};
        const std::size_t n = std::min(sizeof(T), left());
        std::memcpy(&v, data_ + at_, n);
        at_ += n;
        return v;
    }
    // A number in [low, high].
    std::uint64_t range(std::uint64_t low, std::uint64_t high) {
        const std::uint64_t span = high - low;
        if (span == 0) return low;
        const std::uint64_t v = span < 256 ? take<std::uint8_t>() : span < 65536 ? take<std::uint16_t>()
                                                                                  : take<std::uint64_t>();
        return low + (span == ~0ull ? v : v % (span + 1));
    }
    bool flag() { return (take<std::uint8_t>() & 1) != 0; }
    std::string_view rest() {
        std::string_view r(reinterpret_cast<const char*>(data_ + at_), left());
        at_ = size_;
        return r;
    }
    std::string_view bytes(std::size_t n) {
        n = std::min(n, left());
        std::string_view r(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return r;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A folder of this process's own, in memory where the system offers one.
inline const std::filesystem::path& scratch() {
    static const std::filesystem::path dir = [] {
        const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        auto d = base / ("vantrel-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratch(), ignored);
        });
        return d;
    }();
    return dir;
}

inline std::string scratch_file(const std::string& name) { return (scratch() / name).string(); }

inline void put_file(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Everything is logged (the logging code runs too), to nowhere, or to the
// file VANTREL_FUZZ_LOG names when looking into a failure.
inline void quiet_logging() {
    static const bool done = [] {
        const char* log = std::getenv("VANTREL_FUZZ_LOG");
        Logger::Instance().setLogFile(log != nullptr ? log : "/dev/null");
        Logger::Instance().setLogLevel(LogLevelType::LOG_DEBUG);
        return true;
    }();
    (void)done;
}

}  // namespace vantrel::fuzz
