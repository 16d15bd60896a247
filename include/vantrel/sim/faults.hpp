#pragma once

// Fault injection: any driver operation can be made to fail, throw or wait.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel/export.hpp"

namespace vantrel::sim {

enum class FaultKind {
    Fail,             // the operation's own failure result
    Delay,            // sleep, then run normally
    OutOfRange,       // throw std::out_of_range(message)
    InvalidArgument,  // throw std::invalid_argument(message)
    DomainError,
    LengthError,
    RangeError,
    OverflowError,
    RuntimeError,
    BadAlloc,         // throw std::bad_alloc
    Exception,        // a type derived only from std::exception; what() == message
    Unknown,          // a type not derived from std::exception
};

// "fail", "delay", "out_of_range", ..., "exception", "unknown".
VANTREL_EXPORT std::optional<FaultKind> parseFaultKind(std::string_view name);

// Qualified names of every operation that accepts faults, such as
// "EvCameraService::refresh", "ICamera::start", "CameraTool::set".
VANTREL_EXPORT const std::vector<std::string>& faultableOperations();

// Arms a fault for the next `count` calls of `operation` (0: until cleared),
// replacing one already armed there. std::invalid_argument for an unknown
// operation or a negative delay.
VANTREL_EXPORT void injectFault(const std::string& operation, FaultKind kind,
                                const std::string& message, std::uint32_t count,
                                double delay_seconds);
VANTREL_EXPORT void clearFaults();

// Runs the fault armed for `operation`, for code outside the driver that
// hosts its own fault points (such as "Callback::buildArgument" in the
// bindings' callback adapters): sleeps for a delay, throws for an exception
// kind, and returns true when the caller must fail.
VANTREL_EXPORT bool checkFault(std::string_view operation);

}  // namespace vantrel::sim
