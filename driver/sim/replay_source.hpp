#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "camera/event_source.hpp"

namespace vantrel::sim {

struct ReplayInfo {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

// An event source that streams a recording: its events and trigger edges,
// shifted so that the recording starts at the stream time of the first
// generate() (or triggers()) call. The recording starts at its first event,
// or at an earlier trigger edge. Events come in file order; a recording
// whose time goes backwards replays those events in the slice they follow.
// The bias rate scale does not thin a recording. nullptr, with `error` set,
// when `path` is not a readable recording.
std::unique_ptr<camera::EventSource> open_replay_source(const std::string& path, ReplayInfo& info,
                                                        std::string& error);

// Checks that `path` is a readable recording and reads its sensor size.
bool probe_recording(const std::string& path, ReplayInfo& info, std::string& error);

}  // namespace vantrel::sim
