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

#include "common/fault_hook.hpp"
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

[[noreturn]] void throw_fault(FaultKind kind, const std::string& message);

// The armed faults, installed into the driver's operations by the first
// injectFault: a program that never injects one has no hook at all.
class FaultTable final : public faults::FaultHook {
public:
    static FaultTable& instance() {
        static FaultTable* const table = new FaultTable();
        return *table;
    }

    void arm(Operation op, ArmedFault fault) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            armed_[op] = std::move(fault);
            armed_count_.store(armed_.size(), std::memory_order_release);
        }
        faults::install(*this);
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_.clear();
        armed_count_.store(0, std::memory_order_release);
    }

    bool strike(Operation op) override {
        if (armed_count_.load(std::memory_order_acquire) == 0) return false;
        ArmedFault fault;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto it = armed_.find(op);
            if (it == armed_.end()) return false;
            fault = it->second;
            if (it->second.remaining != 0 && --it->second.remaining == 0) {
                armed_.erase(it);
                armed_count_.store(armed_.size(), std::memory_order_release);
            }
        }
        switch (fault.kind) {
            case FaultKind::Fail:
                log::warning(operation_name(op), ": failing on purpose (injected fault: ", fault.message, ")");
                return true;
            case FaultKind::Delay:
                std::this_thread::sleep_for(std::chrono::duration<double>(fault.delay_seconds));
                return false;
            default:
                throw_fault(fault.kind, fault.message);
        }
    }

private:
    FaultTable() = default;

    // Guards armed_; a leaf lock, released before a fault sleeps or throws.
    std::mutex mutex_;
    std::unordered_map<Operation, ArmedFault> armed_;
    std::atomic<std::size_t> armed_count_{0};  // armed_.size(), read without the lock
};

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
    static const std::vector<std::string> operations(kOperationNames.begin(), kOperationNames.end());
    return operations;
}

void injectFault(const std::string& operation, FaultKind kind, const std::string& message,
                 std::uint32_t count, double delay_seconds) {
    const auto op = operation_named(operation);
    if (!op) throw std::invalid_argument("unknown driver operation '" + operation + "'");
    if (!(delay_seconds >= 0.0) || !std::isfinite(delay_seconds)) {
        throw std::invalid_argument("delay must be a finite number of seconds >= 0");
    }
    FaultTable::instance().arm(*op, ArmedFault{kind, message, count, delay_seconds});
}

void clearFaults() { FaultTable::instance().clear(); }

bool checkFault(std::string_view operation) {
    // Called on every callback delivery: nothing more than a load until a
    // fault was injected.
    if (!faults::detail::installed.load(std::memory_order_acquire)) return false;
    const auto op = operation_named(operation);
    return op && faults::hit(*op);
}

}  // namespace vantrel::sim
