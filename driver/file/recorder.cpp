// PLACEHOLDER until recordings land.
#include "file/recorder.hpp"

#include "log/log.hpp"

namespace vantrel::file {

std::unique_ptr<Recorder> Recorder::start(const std::string& path, const RecordingInfo&) {
    log::error("startRecording(", path, "): recording is not implemented");
    return nullptr;
}

}  // namespace vantrel::file
