#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>

#include "faults/fault_point.hpp"
#include "log/log.hpp"
#include "vantrel/sim/faults.hpp"

namespace vantrel::sim {
namespace {

// Derives from std::exception only, so callers see nothing more specific.
class InjectedException : public std::exception {
public:
    explicit InjectedException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Not derived from std::exception at all.
struct InjectedUnknownFault {};

struct ArmedFault {
    FaultKind kind;
    std::string message;
    std::uint32_t remaining;  // 0: until cleared
    double delay_seconds;
};

struct FaultTable {
    std::mutex mutex;
    std::unordered_map<std::string, ArmedFault> armed;
    std::atomic<std::size_t> armed_count{0};
};

FaultTable& table() {
    static FaultTable* const instance = new FaultTable();
    return *instance;
}

[[noreturn]] void throw_fault(FaultKind kind, const std::string& message) {
    switch (kind) {
        case FaultKind::OutOfRange: throw std::out_of_range(message);
        case FaultKind::InvalidArgument: throw std::invalid_argument(message);
        case FaultKind::DomainError: throw std::domain_error(message);
        case FaultKind::LengthError: throw std::length_error(message);
        case FaultKind::RangeError: throw std::range_error(message);
        case FaultKind::OverflowError: throw std::overflow_error(message);
        case FaultKind::RuntimeError: throw std::runtime_error(message);
        case FaultKind::BadAlloc: throw std::bad_alloc();
        case FaultKind::Exception: throw InjectedException(message);
        case FaultKind::Unknown: throw InjectedUnknownFault{};
        case FaultKind::Fail:
        case FaultKind::Delay: break;
    }
    throw std::logic_error("not an exception fault");
}

}  // namespace

std::optional<FaultKind> parseFaultKind(std::string_view name) {
    static const std::pair<std::string_view, FaultKind> kinds[] = {
        {"fail", FaultKind::Fail},
        {"delay", FaultKind::Delay},
        {"out_of_range", FaultKind::OutOfRange},
        {"invalid_argument", FaultKind::InvalidArgument},
        {"domain_error", FaultKind::DomainError},
        {"length_error", FaultKind::LengthError},
        {"range_error", FaultKind::RangeError},
        {"overflow_error", FaultKind::OverflowError},
        {"runtime_error", FaultKind::RuntimeError},
        {"bad_alloc", FaultKind::BadAlloc},
        {"exception", FaultKind::Exception},
        {"unknown", FaultKind::Unknown},
    };
    for (const auto& [text, kind] : kinds) {
        if (text == name) return kind;
    }
    return std::nullopt;
}

const std::vector<std::string>& faultableOperations() {
    static const std::vector<std::string> operations = {
        "EvCameraService::refresh",
        "EvCameraService::listCameras",
        "EvCameraService::open",
        "ICamera::isConnected",
        "ICamera::registerEventBatchCallback",
        "ICamera::unregisterEventBatchCallback",
        "ICamera::registerTriggerInCallback",
        "ICamera::unregisterTriggerInCallback",
        "ICamera::getNextBatch",
        "ICamera::setBatchEventsNum",
        "ICamera::setBatchEventsTime",
        "ICamera::start",
        "ICamera::stop",
        "ICamera::close",
        "ICamera::startRecording",
        "ICamera::stopRecording",
        "ICamera::getWidth",
        "ICamera::getHeight",
        "ICamera::setStatisticsCallback",
        "ICamera::firmwareUpgrade",
        "ICamera::getDescription",
        "ICamera::getToolsInfo",
        "ICamera::getToolInfo",
        "ICamera::getTool",
        "ICamera::getToolById",
        "ICamera::exportCameraConfig",
        "ICamera::importCameraConfig",
        "CameraTool::info",
        "CameraTool::schema",
        "CameraTool::get",
        "CameraTool::set",
        "CameraTool::apply",
        "CameraTool::toJson",
        "CameraTool::fromJson",
        "EvFileReader::createFileReader",
        "EvFileReader::open",
        "EvFileReader::getStartTime",
        "EvFileReader::getEndTime",
        "EvFileReader::getEventCount",
        "EvFileReader::isEndReached",
        "EvFileReader::seekToTimestamp",
        "EvFileReader::seekToEventIndex",
        "EvFileReader::getCurrentTimestamp",
        "EvFileReader::getCurrentEventIndex",
        "EvFileReader::readEvents",
        "EvFileReader::readEventsFromTimestamp",
        "EvFileReader::readEventsFromEventIndex",
        "EvFileReader::readEventsByTimeInterval",
        "EvFileReader::readEventsByTimeIntervalFromTimestamp",
        "EvFileReader::readEventsByTimeIntervalFromEventIndex",
        "EvFileReader::exportEventsToRaw",
        "EvFileReader::registerTriggerInCallback",
        "EvFileReader::unregisterTriggerInCallback",
        "EvFileReader::getWidth",
        "EvFileReader::getHeight",
        "EvFileReader::getDecodeStatistics",
        "EvFileReader::getFileMetadata",
        "Logger::setLogLevel",
        "Logger::getLogLevel",
        "Logger::setLogFile",
        "Callback::buildArgument",
    };
    return operations;
}

void injectFault(const std::string& operation, FaultKind kind, const std::string& message,
                 std::uint32_t count, double delay_seconds) {
    const auto& known = faultableOperations();
    if (std::find(known.begin(), known.end(), operation) == known.end()) {
        throw std::invalid_argument("unknown driver operation '" + operation + "'");
    }
    if (!(delay_seconds >= 0.0) || !std::isfinite(delay_seconds)) {
        throw std::invalid_argument("delay must be a finite number of seconds >= 0");
    }
    FaultTable& faults = table();
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.armed[operation] = ArmedFault{kind, message, count, delay_seconds};
    faults.armed_count.store(faults.armed.size(), std::memory_order_release);
}

void clearFaults() {
    FaultTable& faults = table();
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.armed.clear();
    faults.armed_count.store(0, std::memory_order_release);
}

}  // namespace vantrel::sim

namespace vantrel::faults {

bool hit(std::string_view operation) {
    using sim::FaultKind;
    auto& faults = sim::table();
    if (faults.armed_count.load(std::memory_order_acquire) == 0) return false;

    sim::ArmedFault fault;
    {
        std::lock_guard<std::mutex> lock(faults.mutex);
        const auto it = faults.armed.find(std::string(operation));
        if (it == faults.armed.end()) return false;
        fault = it->second;
        if (it->second.remaining != 0 && --it->second.remaining == 0) {
            faults.armed.erase(it);
            faults.armed_count.store(faults.armed.size(), std::memory_order_release);
        }
    }

    switch (fault.kind) {
        case FaultKind::Fail:
            log::warning(operation, ": failing on purpose (injected fault: ", fault.message, ")");
            return true;
        case FaultKind::Delay:
            std::this_thread::sleep_for(std::chrono::duration<double>(fault.delay_seconds));
            return false;
        default:
            sim::throw_fault(fault.kind, fault.message);
    }
}

}  // namespace vantrel::faults
