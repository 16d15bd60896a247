#pragma once

// How the recordings that the driver writes are compressed. Each event
// block may be compressed on its own (zstd); readers read every kind.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/events.hpp"
#include "vantrel/export.hpp"

namespace vantrel::sim {

// The names of the compressions, the default first: "none" (events packed
// into 32-bit words, about 4 bytes each) and "zstd" (those words compressed
// with zstd, block by block).
VANTREL_EXPORT std::vector<std::string> recordingCompressions();

// The compression of the recordings that cameras start from now on
// (ICamera::startRecording) and of writeRecording when given none; "none"
// until set. std::invalid_argument for a name not listed above.
VANTREL_EXPORT void setRecordingCompression(const std::string& name);
VANTREL_EXPORT std::string recordingCompression();

// writeRecording (vantrel/sim/simulator.hpp) with the named compression.
VANTREL_EXPORT void writeRecording(const std::string& path, const Event2D* events, std::size_t count,
                                   std::uint16_t width, std::uint16_t height, const std::string& serial,
                                   const std::vector<EventTriggerIn>& triggers, std::int64_t local_time_ticks,
                                   const std::string& compression);

}  // namespace vantrel::sim
