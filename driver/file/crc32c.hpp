#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::file {

// CRC-32C (Castagnoli polynomial, reflected, initial value and final xor
// 0xFFFFFFFF): crc32c("123456789") == 0xE3069283. Uses the processor's CRC
// instruction when it has one.
std::uint32_t crc32c(const void* data, std::size_t size);

// Continues a checksum: crc32c_extend(crc32c(a), b) == crc32c(a followed by b).
std::uint32_t crc32c_extend(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace vantrel::file
