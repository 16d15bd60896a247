#include "vantrel/logger.hpp"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "common/fault_hook.hpp"
#include "io/file_access.hpp"
#include "log/log.hpp"
#include "log/log_line.hpp"

namespace vantrel {

struct Logger::State {
    std::atomic<int> level{static_cast<int>(LogLevelType::LOG_WARNING)};
    std::mutex mutex;            // guards the destination: file, path and sink
    std::FILE* file = nullptr;   // nullptr: standard error
    std::string path;
    // Shared so that a message can be handed to it outside the lock while
    // another thread replaces it.
    std::shared_ptr<const LogSink> sink;
};

namespace {

// Appends to any kind of file (a FIFO or a terminal may take a log too),
// but never waits: a FIFO that nobody reads is refused, not waited on.
std::FILE* open_log_file(const std::string& path, std::string& why) {
    if (auto refusal = io::path_refusal(path)) {
        why = *refusal;
        return nullptr;
    }
    io::FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
    if (!fd) {
        why = errno == ENXIO ? "a FIFO that nobody reads" : std::strerror(errno);
        return nullptr;
    }
    // Writes wait for a slow reader like writes to standard error do.
    if (::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd.get(), "a");
    if (file == nullptr) {
        why = std::strerror(errno);
        return nullptr;
    }
    fd.release();
    return file;
}

}  // namespace

Logger::Logger() : state_(std::make_unique<State>()) {}

Logger::~Logger() {
    if (state_->file != nullptr) std::fclose(state_->file);
}

Logger& Logger::Instance() {
    // Never destroyed: driver threads may still log while the process exits.
    static Logger* const instance = new Logger();
    return *instance;
}

void Logger::setLogLevel(LogLevelType level) {
    if (faults::hit(Operation::Logger_setLogLevel)) return;
    if (!log::is_settable_level(level)) {
        log::warning("Logger: refusing log level ", log::level_name(level), "; keeping ",
                     log::level_name(static_cast<LogLevelType>(state_->level.load())));
        return;
    }
    state_->level.store(static_cast<int>(level), std::memory_order_relaxed);
}

LogLevelType Logger::getLogLevel() const {
    if (faults::hit(Operation::Logger_getLogLevel)) return LogLevelType::LOG_INVALID;
    return static_cast<LogLevelType>(state_->level.load(std::memory_order_relaxed));
}

bool Logger::setLogFile(const std::string& log_file) {
    if (faults::hit(Operation::Logger_setLogFile)) return false;
    std::FILE* file = nullptr;
    if (!log_file.empty()) {
        std::string why;
        file = open_log_file(log_file, why);
        if (file == nullptr) {
            log::error("Logger: cannot open log file '", log_file, "': ", why,
                       "; keeping the previous destination");
            return false;
        }
    }
    std::FILE* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        previous = state_->file;
        state_->file = file;
        state_->path = log_file;
    }
    if (previous != nullptr) std::fclose(previous);
    return true;
}

bool Logger::isEnabled(LogLevelType level) const noexcept {
    const int current = state_->level.load(std::memory_order_relaxed);
    if (current == static_cast<int>(LogLevelType::LOG_OFF)) return false;
    return static_cast<int>(level) <= current;
}

void Logger::setSink(LogSink sink) {
    std::shared_ptr<const LogSink> next;
    if (sink) next = std::make_shared<const LogSink>(std::move(sink));
    std::shared_ptr<const LogSink> previous;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        previous = std::exchange(state_->sink, std::move(next));
    }
    // `previous` is released here, outside the lock: it may own anything.
}

void Logger::write(LogLevelType level, std::string_view message) {
    if (!isEnabled(level)) return;
    const auto now = std::chrono::system_clock::now();
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (std::shared_ptr<const LogSink> sink = state_->sink) {
        lock.unlock();
        (*sink)(LogRecord{level, now, std::string(message)});
        return;
    }
    const std::string line = log::format_line(now, level, message);
    std::FILE* out = state_->file != nullptr ? state_->file : stderr;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

}  // namespace vantrel
