#include <gtest/gtest.h>

#include "common/utf8.hpp"

namespace vantrel::text {
namespace {

TEST(Utf8, AcceptsWhatPythonDecodesAndReplacesLikeIt) {
    for (const char* good : {"", "plain", "v2.0-\xce\xb2", "\xf0\x9f\x98\x80", "\xef\xbf\xbf", "\xf4\x8f\xbf\xbf"})
        EXPECT_TRUE(is_utf8(good)) << good;
    // Expected replacements are what bytes.decode("utf-8", "replace") gives.
    const std::pair<std::string, std::string> bad[] = {
        {"CAM-\xff", "CAM-\xef\xbf\xbd"},
        {"\xe2\x82", "\xef\xbf\xbd"},                                           // cut short
        {"\xe2\x82" "A", "\xef\xbf\xbd" "A"},                                   // continuation missing
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},               // surrogate
        {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                               // overlong
        {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // above U+10FFFF
        {"\xf0\x9f\x98\x80x\x80", "\xf0\x9f\x98\x80x\xef\xbf\xbd"},             // stray continuation
    };
    for (const auto& [in, out] : bad) {
        EXPECT_FALSE(is_utf8(in)) << in;
        EXPECT_EQ(to_utf8(in), out) << in;
        EXPECT_TRUE(is_utf8(to_utf8(in)));
    }
}

}  // namespace
}  // namespace vantrel::text
