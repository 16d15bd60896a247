#include "log/log_line.hpp"

#include <cstdio>
#include <ctime>

namespace vantrel::log {

std::string level_name(LogLevelType level) {
    switch (level) {
        case LogLevelType::LOG_INVALID: return "INVALID";
        case LogLevelType::LOG_OFF: return "OFF";
        case LogLevelType::LOG_FATAL: return "FATAL";
        case LogLevelType::LOG_ERROR: return "ERROR";
        case LogLevelType::LOG_WARNING: return "WARNING";
        case LogLevelType::LOG_INFO: return "INFO";
        case LogLevelType::LOG_DEBUG: return "DEBUG";
    }
    return "LEVEL(" + std::to_string(static_cast<int>(level)) + ")";
}

bool is_settable_level(LogLevelType level) {
    switch (level) {
        case LogLevelType::LOG_OFF:
        case LogLevelType::LOG_FATAL:
        case LogLevelType::LOG_ERROR:
        case LogLevelType::LOG_WARNING:
        case LogLevelType::LOG_INFO:
        case LogLevelType::LOG_DEBUG:
            return true;
        case LogLevelType::LOG_INVALID:
            return false;
    }
    return false;
}

std::string format_line(std::chrono::system_clock::time_point when, LogLevelType level,
                        std::string_view text) {
    using namespace std::chrono;
    const auto since_epoch = when.time_since_epoch();
    const std::time_t seconds = duration_cast<std::chrono::seconds>(since_epoch).count();
    const auto micros = duration_cast<microseconds>(since_epoch).count() % 1000000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%06lld", static_cast<long long>(micros));

    std::string line;
    line.reserve(text.size() + 48);
    line += stamp;
    line += ' ';
    line += level_name(level);
    line += ' ';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (u < 0x20 || u == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            line += escaped;
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

}  // namespace vantrel::log
