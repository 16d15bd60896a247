#include "file/crc32c.hpp"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vantrel::file {

namespace {

constexpr std::uint32_t kPolynomial = 0x82F63B78u;  // Castagnoli, bit-reversed

// Eight tables so that the portable path folds eight bytes per step.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (kPolynomial & (0u - (c & 1u)));
        t[0][i] = c;
    }
    for (std::size_t j = 1; j < 8; ++j)
        for (std::size_t i = 0; i < 256; ++i) t[j][i] = (t[j - 1][i] >> 8) ^ t[0][t[j - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = make_tables();

std::uint32_t extend_portable(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        v ^= crc;  // the format is little-endian, as is every host we build for
        crc = kTables[7][v & 0xFF] ^ kTables[6][(v >> 8) & 0xFF] ^ kTables[5][(v >> 16) & 0xFF] ^
              kTables[4][(v >> 24) & 0xFF] ^ kTables[3][(v >> 32) & 0xFF] ^
              kTables[2][(v >> 40) & 0xFF] ^ kTables[1][(v >> 48) & 0xFF] ^ kTables[0][v >> 56];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF];
    return crc;
}

#if defined(__x86_64__)
// The instruction has a latency of several cycles but accepts one input per
// cycle, so long inputs are split into three lanes computed together. Lanes
// are joined by "shifting" a lane's register past the bytes that follow it:
// the register after n zero bytes is linear in its starting value, so it is
// a table lookup per byte of the register.
constexpr std::size_t kLane = 4096;

using ShiftTables = std::array<std::array<std::uint32_t, 256>, 4>;

__attribute__((target("sse4.2"))) std::uint32_t feed_zeros(std::uint32_t c, std::size_t n) {
    std::uint64_t r = c;
    for (std::size_t i = 0; i < n / 8; ++i) r = _mm_crc32_u64(r, 0);
    return static_cast<std::uint32_t>(r);
}

const ShiftTables& lane_shift() {
    static const ShiftTables tables = [] {
        std::uint32_t basis[32];
        for (int bit = 0; bit < 32; ++bit) basis[bit] = feed_zeros(1u << bit, kLane);
        ShiftTables t{};
        for (int k = 0; k < 4; ++k)
            for (std::uint32_t b = 0; b < 256; ++b) {
                std::uint32_t v = 0;
                for (int bit = 0; bit < 8; ++bit)
                    if (b & (1u << bit)) v ^= basis[8 * k + bit];
                t[k][b] = v;
            }
        return t;
    }();
    return tables;
}

inline std::uint32_t shift(const ShiftTables& t, std::uint32_t c) {
    return t[0][c & 0xFF] ^ t[1][(c >> 8) & 0xFF] ^ t[2][(c >> 16) & 0xFF] ^ t[3][c >> 24];
}

__attribute__((target("sse4.2"))) std::uint32_t extend_hardware(std::uint32_t crc,
                                                                  const unsigned char* p,
                                                                  std::size_t n) {
    std::uint64_t a = crc;
    if (n >= 3 * kLane) {
        const ShiftTables& t = lane_shift();
        do {
            std::uint64_t b = 0, c = 0;
            for (std::size_t i = 0; i < kLane; i += 8) {
                std::uint64_t va, vb, vc;
                std::memcpy(&va, p + i, 8);
                std::memcpy(&vb, p + kLane + i, 8);
                std::memcpy(&vc, p + 2 * kLane + i, 8);
                a = _mm_crc32_u64(a, va);
                b = _mm_crc32_u64(b, vb);
                c = _mm_crc32_u64(c, vc);
            }
            const std::uint32_t ab = shift(t, static_cast<std::uint32_t>(a)) ^ static_cast<std::uint32_t>(b);
            a = shift(t, ab) ^ static_cast<std::uint32_t>(c);
            p += 3 * kLane;
            n -= 3 * kLane;
        } while (n >= 3 * kLane);
    }
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        a = _mm_crc32_u64(a, v);
        p += 8;
        n -= 8;
    }
    std::uint32_t c32 = static_cast<std::uint32_t>(a);
    while (n-- > 0) c32 = _mm_crc32_u8(c32, *p++);
    return c32;
}

bool has_hardware_crc() {
    static const bool has = __builtin_cpu_supports("sse4.2");
    return has;
}
#endif

}  // namespace

std::uint32_t crc32c_extend(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
#if defined(__x86_64__)
    if (has_hardware_crc()) return ~extend_hardware(crc, p, size);
#endif
    return ~extend_portable(crc, p, size);
}

std::uint32_t crc32c(const void* data, std::size_t size) { return crc32c_extend(0, data, size); }

}  // namespace vantrel::file
