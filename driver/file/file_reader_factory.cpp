// PLACEHOLDER until recordings land.
#include <stdexcept>

#include "vantrel/file_reader.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel {

EvFileReader::~EvFileReader() = default;

std::unique_ptr<EvFileReader> EvFileReader::createFileReader(const std::string&) { return nullptr; }

}  // namespace vantrel

namespace vantrel::sim {

void writeRecording(const std::string&, const Event2D*, std::size_t, std::uint16_t, std::uint16_t,
                    const std::string&, const std::vector<EventTriggerIn>&, std::int64_t) {
    throw std::runtime_error("recordings are not implemented");
}

}  // namespace vantrel::sim
