#pragma once

// Driver-internal logging helpers: log::warning("camera ", serial, ": ...").

#include <sstream>
#include <string>

#include "vantrel/logger.hpp"

namespace vantrel::log {

template <class... Parts>
void message(LogLevelType level, const Parts&... parts) {
    Logger& logger = Logger::Instance();
    if (!logger.isEnabled(level)) return;
    std::ostringstream text;
    (text << ... << parts);
    logger.write(level, text.str());
}

template <class... Parts>
void error(const Parts&... parts) {
    message(LogLevelType::LOG_ERROR, parts...);
}
template <class... Parts>
void warning(const Parts&... parts) {
    message(LogLevelType::LOG_WARNING, parts...);
}
template <class... Parts>
void info(const Parts&... parts) {
    message(LogLevelType::LOG_INFO, parts...);
}
template <class... Parts>
void debug(const Parts&... parts) {
    message(LogLevelType::LOG_DEBUG, parts...);
}

}  // namespace vantrel::log
