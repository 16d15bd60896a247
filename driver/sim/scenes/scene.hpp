#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "camera/event_source.hpp"

namespace vantrel::sim {

// Scene models: deterministic (seeded) event sources for simulated cameras.
//   "default"  moving bars, background noise, hot pixels, a flickering patch
//   "noise"    background noise only
//   "scripted" nothing: the stream carries only pushed data
bool is_known_scene(const std::string& name);
const char* known_scenes_text();  // for error messages

// nullptr for an unknown name. `rate` is in events per second.
std::unique_ptr<camera::EventSource> make_scene(const std::string& name, std::uint16_t width,
                                                std::uint16_t height, double rate, std::uint64_t seed);

}  // namespace vantrel::sim
