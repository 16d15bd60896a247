// Firmware images: whatever the bytes, the reader accepts exactly the images
// that the writer could have made, and what it accepts is text Python can
// decode.
#include <cstdint>
#include <string>
#include <vector>

#include "common/utf8.hpp"
#include "fuzz_support.hpp"
#include "sim/firmware_image.hpp"

using namespace vantrel;
using namespace vantrel::sim::firmware;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_logging();
    const Parsed parsed = parse_image(data, size);
    FUZZ_CHECK(parsed.ok != !parsed.error.empty(), "ok=%d error='%s'", parsed.ok, parsed.error.c_str());
    if (parsed.ok) {
        FUZZ_CHECK(check_version_text(parsed.version).empty(), "accepted a bad version text");
        FUZZ_CHECK(text::is_utf8(parsed.version), "accepted a version that is not UTF-8");
        // The image is exactly what the writer makes of its version and payload.
        const std::size_t payload_at = kHeaderSize + parsed.version.size();
        const std::vector<std::uint8_t> payload(data + payload_at, data + size - kTrailerSize);
        const auto rebuilt = build_image(parsed.version, payload);
        FUZZ_CHECK(rebuilt.size() == size && std::equal(rebuilt.begin(), rebuilt.end(), data),
                   "accepted an image the writer would not make");
    }
    // Read from a file, the same bytes give the same verdict.
    const std::string path = fuzz::scratch_file("image.img");
    fuzz::put_file(path, std::string_view(reinterpret_cast<const char*>(data), size));
    const Parsed from_file = read_image_file(path);
    FUZZ_CHECK(from_file.ok == parsed.ok && from_file.error == parsed.error && from_file.version == parsed.version,
               "file verdict '%s' differs from '%s'", from_file.error.c_str(), parsed.error.c_str());
    return 0;
}
