// PLACEHOLDER until recordings land.
#include "file/replay_source.hpp"

namespace vantrel::file {

std::unique_ptr<stream::EventSource> open_replay_source(const std::string&, ReplayInfo&,
                                                        std::string& error) {
    error = "replay is not implemented";
    return nullptr;
}

bool probe_recording(const std::string&, ReplayInfo&, std::string& error) {
    error = "replay is not implemented";
    return false;
}

}  // namespace vantrel::file
