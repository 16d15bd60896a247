#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "vantrel/enums.hpp"
#include "vantrel/export.hpp"

namespace vantrel {

// The driver's process-wide logger: one line per message (time, level,
// text) to standard error, or appended to the file set by setLogFile.
// Messages above the current level are dropped; the default level is
// LOG_WARNING. Thread-safe.
class VANTREL_EXPORT Logger {
public:
    static Logger& Instance();

    // LOG_OFF silences the logger; LOG_INVALID and values that name no level
    // are refused (the level stays as it was, and a warning says so).
    void setLogLevel(LogLevelType level);
    LogLevelType getLogLevel() const;
    // Appends to `log_file` from now on; an empty path returns to standard
    // error. False, with the previous destination kept, when the file
    // cannot be opened.
    bool setLogFile(const std::string& log_file);

    bool isEnabled(LogLevelType level) const noexcept;
    void write(LogLevelType level, std::string_view message);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    ~Logger();

private:
    Logger();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel
