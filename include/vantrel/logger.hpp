#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "vantrel/enums.hpp"
#include "vantrel/export.hpp"

namespace vantrel {

// One message as the logger hands it to a sink.
struct LogRecord {
    LogLevelType level;
    std::chrono::system_clock::time_point time;
    std::string text;
};

// Takes the messages the level lets through, on the thread that logs (any
// driver thread, possibly one that streams), with none of the logger's locks
// held. It must return quickly and never wait for a lock that a thread
// calling into the driver may hold (such as an interpreter lock).
using LogSink = std::function<void(const LogRecord&)>;

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
    // While a sink is set, messages go to it instead of the file or standard
    // error; an empty sink returns to them. A message being handed to the
    // previous sink on another thread may still reach it after this returns.
    void setSink(LogSink sink);

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
