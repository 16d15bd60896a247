#pragma once

#include <string_view>

namespace vantrel::faults {

// Runs the fault armed for `operation`, if any: sleeps for a delay, throws
// for an exception kind. Returns true when the operation must report its
// own failure result. Costs one relaxed atomic load when nothing is armed.
bool hit(std::string_view operation);

}  // namespace vantrel::faults
