#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "vantrel/enums.hpp"

namespace vantrel::log {

// "LOG_WARNING" -> "WARNING"; "LEVEL(-5)" for a value that names no level.
std::string level_name(LogLevelType level);

// Whether `level` is one a logger can be set to (LOG_OFF .. LOG_DEBUG).
bool is_settable_level(LogLevelType level);

// One complete log line, newline included:
// "2026-12-08 14:43:44.123456 WARNING text". Line breaks and other control
// characters in the text are escaped so that a message stays on one line.
std::string format_line(std::chrono::system_clock::time_point when, LogLevelType level,
                        std::string_view text);

}  // namespace vantrel::log
