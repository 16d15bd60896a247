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
__attribute__((target("sse4.2"))) std::uint32_t extend_hardware(std::uint32_t crc,
                                                                  const unsigned char* p,
                                                                  std::size_t n) {
    std::uint64_t c = crc;
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        c = _mm_crc32_u64(c, v);
        p += 8;
        n -= 8;
    }
    std::uint32_t c32 = static_cast<std::uint32_t>(c);
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
