#include "sim/firmware_image.hpp"

#include <array>
#include <cstring>
#include <stdexcept>

#include "common/utf8.hpp"
#include "io/file_access.hpp"
#include "sim/scenes/random.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {
namespace firmware {

namespace {

const std::array<std::uint32_t, 256>& crc_table() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint16_t get_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

Parsed refuse(std::string why) {
    Parsed p;
    p.error = std::move(why);
    return p;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    const auto& table = crc_table();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string check_version_text(const std::string& version) {
    if (version.empty()) return "the version text is empty";
    if (version.size() > kMaxVersionLength)
        return "the version text is longer than " + std::to_string(kMaxVersionLength) + " bytes";
    for (unsigned char c : version) {
        if (c < 0x20 || c == 0x7F) return "the version text holds a control character";
    }
    // It becomes the camera's firmware version, which Python reads as text.
    if (!text::is_utf8(version)) return "the version text is not UTF-8";
    return {};
}

std::vector<std::uint8_t> build_image(const std::string& version, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + version.size() + payload.size() + kTrailerSize);
    out.insert(out.end(), kMagic, kMagic + sizeof(kMagic));
    put_u16(out, kFormatVersion);
    put_u16(out, static_cast<std::uint16_t>(version.size()));
    put_u32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), version.begin(), version.end());
    out.insert(out.end(), payload.begin(), payload.end());
    put_u32(out, crc32(out.data(), out.size()));
    return out;
}

Parsed parse_image(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return refuse("truncated image (the file is empty)");
    if (size < sizeof(kMagic) || std::memcmp(data, kMagic, sizeof(kMagic)) != 0) {
        if (size < sizeof(kMagic) && std::memcmp(data, kMagic, size) == 0)
            return refuse("truncated image (" + std::to_string(size) + " bytes)");
        return refuse("not a firmware image (wrong magic)");
    }
    if (size < kHeaderSize + kTrailerSize) return refuse("truncated image (" + std::to_string(size) + " bytes)");
    const std::uint16_t format = get_u16(data + 8);
    if (format != kFormatVersion) return refuse("unsupported image format version " + std::to_string(format));
    const std::size_t version_size = get_u16(data + 10);
    const std::size_t payload_size = get_u32(data + 12);
    if (version_size == 0 || version_size > kMaxVersionLength)
        return refuse("corrupt image (version length " + std::to_string(version_size) + ")");
    if (payload_size > kMaxPayloadSize)
        return refuse("corrupt image (payload length " + std::to_string(payload_size) + ")");
    const std::size_t expected = kHeaderSize + version_size + payload_size + kTrailerSize;
    if (size < expected)
        return refuse("truncated image (" + std::to_string(size) + " of " + std::to_string(expected) + " bytes)");
    if (size > expected)
        return refuse("corrupt image (" + std::to_string(size - expected) + " bytes after its end)");
    const std::uint32_t stored = get_u32(data + expected - kTrailerSize);
    const std::uint32_t actual = crc32(data, expected - kTrailerSize);
    if (stored != actual) return refuse("corrupt image (CRC-32 mismatch)");
    std::string version(reinterpret_cast<const char*>(data + kHeaderSize), version_size);
    if (const std::string why = check_version_text(version); !why.empty()) return refuse("corrupt image (" + why + ")");
    Parsed parsed;
    parsed.ok = true;
    parsed.version = std::move(version);
    return parsed;
}

Parsed read_image_file(const std::string& path) {
    std::string bytes, error;
    if (!io::read_whole_file(path, kHeaderSize + kMaxVersionLength + kMaxPayloadSize + kTrailerSize, bytes,
                             error)) {
        if (error.rfind("is ", 0) == 0) return refuse("'" + path + "' " + error);
        return refuse("cannot open '" + path + "': " + error);
    }
    return parse_image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace firmware

void writeFirmwareImage(const std::string& path, const std::string& version) {
    if (auto why = io::path_refusal(path)) throw std::invalid_argument("cannot write a firmware image: " + *why);
    if (const std::string why = firmware::check_version_text(version); !why.empty())
        throw std::invalid_argument("cannot write a firmware image: " + why);
    // A stand-in payload, derived from the version so images are reproducible.
    std::vector<std::uint8_t> payload(4096);
    FastRandom random(firmware::crc32(reinterpret_cast<const std::uint8_t*>(version.data()), version.size()));
    for (std::size_t i = 0; i < payload.size(); i += 8) {
        const std::uint64_t r = random.next();
        std::memcpy(payload.data() + i, &r, 8);
    }
    const auto image = firmware::build_image(version, payload);
    std::string error;
    if (!io::write_new_file(path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()),
                            false, error))
        throw std::runtime_error("cannot write firmware image '" + path + "': " + error);
}

}  // namespace vantrel::sim
