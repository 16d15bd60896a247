#pragma once

#include <cstdint>
#include <string>

#include "file/recording_file.hpp"

namespace vantrel::file {

// Writes a new recording at `out_path` with the events and trigger edges of
// `file` whose timestamps lie in [start, end], in file order, and the same
// header. False, with `error` set and no file left behind, when it cannot.
// `events_decoded` grows by the number of events decoded.
bool export_range(RecordingFile& file, std::uint64_t start, std::uint64_t end,
                  const std::string& out_path, std::uint64_t& events_decoded, std::string& error);

}  // namespace vantrel::file
