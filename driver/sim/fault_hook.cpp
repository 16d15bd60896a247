#include "faults/fault_point.hpp"
#include "vantrel/sim/faults.hpp"

namespace vantrel::sim {

bool checkFault(std::string_view operation) { return faults::hit(operation); }

}  // namespace vantrel::sim
