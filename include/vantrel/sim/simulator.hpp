#pragma once

// Control of the driver's simulated devices: plug and unplug cameras, push
// exact data into their streams, inspect what their tools received. Used by
// the vantrel_sim module and by tests of programs built on the driver.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vantrel/enums.hpp"
#include "vantrel/events.hpp"
#include "vantrel/export.hpp"
#include "vantrel/params.hpp"
#include "vantrel/stream_drops.hpp"

namespace vantrel::sim {

// Serial number of the camera that a fresh process finds plugged in.
inline constexpr const char* kDefaultSerial = "VTR-SIM-0001";

struct CameraSpec {
    std::string serial;
    std::string product = "Vantrel Simulated Event Camera";
    std::string manufacturer = "Vantrel";
    std::uint16_t vid = 0x5654;
    std::uint16_t pid = 0x0001;
    InterfaceType interface_type = InterfaceType::USB;
    std::string firmware_version = "1.0.0";
    std::uint16_t width = 640;
    std::uint16_t height = 480;
    double event_rate = 1e6;          // events per second of the scene
    std::string scene = "default";    // "default", "noise" or "scripted"
    std::uint64_t seed = 0;
    bool realtime = true;             // pace the stream by its timestamps
    std::optional<std::vector<ToolType>> tools;  // empty optional: all seven
    std::string source;               // recording to replay instead of a scene
};

// Unplugs every camera, clears injected faults and tool write journals.
VANTREL_EXPORT void reset();
// Plugs in a camera; std::invalid_argument for a duplicate serial, an empty
// serial, a zero sensor size, a bad rate or an unknown scene, and for a
// replay source that is not a readable recording.
VANTREL_EXPORT void addCamera(const CameraSpec& spec);
// Unplugs a camera: its open ICamera stops streaming and reports
// isConnected() == false. False when no camera has that serial.
VANTREL_EXPORT bool removeCamera(const std::string& serial);
// Serials of the plugged cameras, in the order they were added.
VANTREL_EXPORT std::vector<std::string> cameras();

// While the camera streams, deliver exactly these data to its callbacks
// (and batches also to its poll queue). False when it is not streaming.
VANTREL_EXPORT bool pushBatch(const std::string& serial, std::vector<Event2D> events);
VANTREL_EXPORT bool pushTrigger(const std::string& serial, const EventTriggerIn& edge);
VANTREL_EXPORT bool pushStatistics(const std::string& serial, const EvCameraStatisticInfo& stats);

// The drop counts of streams (vantrel/stream_drops.hpp), as the simulator reports them.
using vantrel::DropCount;
using vantrel::DropQueue;
using vantrel::kDropQueueNames;
using vantrel::StreamDrops;

// The drops of the camera's current stream, or of its last one once it
// stopped (all zero before its first start); std::invalid_argument when no
// camera with that serial is open.
VANTREL_EXPORT StreamDrops streamDrops(const std::string& serial);

// Writes a firmware image that firmwareUpgrade accepts; std::runtime_error
// when the file cannot be written.
VANTREL_EXPORT void writeFirmwareImage(const std::string& path, const std::string& version);

// One write received by a camera tool, accepted or refused.
struct ToolWrite {
    std::string tool;  // tool id
    std::string op;    // "set", "apply" or "from_json"
    std::string name;  // set: the parameter name
    ParamValue value;  // set: the value as received
    std::vector<std::pair<std::string, ParamValue>> values;  // apply: in received order
    std::string json;  // from_json: the document, compact
};

// From now on, the writes that the cameras' tools receive are kept (the
// latest 100000 per camera) for toolWrites. Until this is called, tools keep
// nothing. The vantrel_sim module calls it when it loads.
VANTREL_EXPORT void observeToolWrites();
// Every write the camera's tools received since it was added (and writes
// were observed), oldest first; std::invalid_argument for an unknown serial.
VANTREL_EXPORT std::vector<ToolWrite> toolWrites(const std::string& serial);
// The tool's next toJson returns this document instead of its parameters;
// std::invalid_argument for an unknown serial or tool, or text that is not JSON.
VANTREL_EXPORT void setToolDocument(const std::string& serial, const std::string& tool_id,
                                    const std::string& json_text);

// Writes a recording holding exactly these events and trigger edges;
// std::invalid_argument for data the format cannot hold (timestamps going
// backwards, coordinates outside the sensor), std::runtime_error when the
// file cannot be written.
VANTREL_EXPORT void writeRecording(const std::string& path, const Event2D* events,
                                   std::size_t count, std::uint16_t width, std::uint16_t height,
                                   const std::string& serial,
                                   const std::vector<EventTriggerIn>& triggers,
                                   std::int64_t local_time_ticks);

}  // namespace vantrel::sim
