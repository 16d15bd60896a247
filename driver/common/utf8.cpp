#include "common/utf8.hpp"

#include <cstddef>

namespace vantrel::text {

namespace {

// Length of the well-formed sequence starting at bytes[i], or 0 if there is
// none; then `bad` is how many bytes the ill-formed one spans (its maximal
// well-formed prefix, at least 1), as the Unicode standard counts them.
std::size_t sequence_at(std::string_view bytes, std::size_t i, std::size_t& bad) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = b(i);
    bad = 1;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size()) return 0;
        const unsigned char c = b(i + k);
        const bool ok = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
        if (!ok) return 0;
        bad = k + 1;
    }
    return length;
}

}  // namespace

bool is_utf8(std::string_view bytes) {
    for (std::size_t i = 0, bad = 0; i < bytes.size();) {
        const std::size_t n = sequence_at(bytes, i, bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0, bad = 0; i < bytes.size();) {
        const std::size_t n = sequence_at(bytes, i, bad);
        if (n != 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            out.append("\xEF\xBF\xBD");
            i += bad;
        }
    }
    return out;
}

}  // namespace vantrel::text
