// PLACEHOLDER until the tools land.
#include <stdexcept>

#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

std::vector<ToolWrite> toolWrites(const std::string& serial) {
    throw std::invalid_argument("no tool journal for '" + serial + "'");
}

void setToolDocument(const std::string& serial, const std::string&, const std::string&) {
    throw std::invalid_argument("no tools for '" + serial + "'");
}

}  // namespace vantrel::sim
