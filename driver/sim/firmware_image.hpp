#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::sim {

// Firmware images of the simulated cameras (layout in docs/firmware_format.md):
//   "VTRFWIMG" | u16 format version | u16 version length | u32 payload length |
//   version text | payload | u32 CRC-32 of everything before it
// All integers little-endian.
namespace firmware {

inline constexpr char kMagic[8] = {'V', 'T', 'R', 'F', 'W', 'I', 'M', 'G'};
inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kTrailerSize = 4;
inline constexpr std::size_t kMaxVersionLength = 64;
inline constexpr std::size_t kMaxPayloadSize = std::size_t{64} << 20;

// CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// Empty when `version` can be stored in an image, else why not.
std::string check_version_text(const std::string& version);

// A complete image carrying `version` and `payload`.
std::vector<std::uint8_t> build_image(const std::string& version, const std::vector<std::uint8_t>& payload);

struct Parsed {
    bool ok = false;
    std::string error;    // why the image was refused
    std::string version;  // the firmware version it carries
};
Parsed parse_image(const std::uint8_t* data, std::size_t size);

// Reads and checks the file at `path`.
Parsed read_image_file(const std::string& path);

}  // namespace firmware
}  // namespace vantrel::sim
