#pragma once

// Text that reaches Python is decoded strictly as UTF-8, so text that comes
// from files (firmware versions, serial numbers in recordings) is checked
// where it enters the driver.

#include <string>
#include <string_view>

namespace vantrel::text {

// Whether `bytes` is well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates, nothing above U+10FFFF (what
// Python's strict decoder accepts).
bool is_utf8(std::string_view bytes);

// `bytes` with every ill-formed sequence replaced by U+FFFD, as Python's
// "replace" error handler decodes it.
std::string to_utf8(std::string_view bytes);

}  // namespace vantrel::text
