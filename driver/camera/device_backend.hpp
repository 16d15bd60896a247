#pragma once

// The contract between the camera engine and the devices behind it.
//
// The engine (DeviceCamera and StreamSession in this folder) is the one
// implementation of ICamera: start/stop/close, pacing, the tool pipeline,
// batching, the poll and delivery queues, recording. Everything that
// differs between kinds of device sits behind the three interfaces below. A
// backend (the simulator in driver/sim is one; a USB device or a network
// source would be others) implements them and registers itself with
// add_backend(); nothing in the engine names a backend.
//
// Stable: the members below, their threads and blocking rules. A backend
// never sees the engine's locks: the engine calls into a backend without
// holding its registry locks (see each member for the camera's own control
// lock), and a backend may call device_gone() from any thread that holds no
// lock of its own that an engine call into it may need.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/event_source.hpp"
#include "vantrel/camera_description.hpp"

namespace vantrel {
class CameraTool;
}

namespace vantrel::camera {

// How the engine paces a device's stream.
struct StreamPacing {
    bool realtime = true;    // by the events' timestamps; else as fast as consumers take batches
    double event_rate = 0;   // events per second the source is expected to give (sizes slices)
};

// Where a device keeps its firmware.
class FirmwareStore {
public:
    struct Outcome {
        bool ok = false;
        std::string version;  // the version installed
        std::string error;    // why the image was refused; the firmware is unchanged then
    };

    virtual ~FirmwareStore() = default;

    // The version the device runs now. Any thread; must not block for long.
    virtual std::string version() const = 0;
    // Checks the image file and installs it. Called by the thread that
    // called ICamera::firmwareUpgrade, under the camera's control lock and
    // never while the camera streams; may block (reads the file, flashes).
    virtual Outcome install(const std::string& image_path) = 0;
};

// One device, as its backend hands it to the engine. The engine keeps one
// open camera per Device object, so a backend returns the same object for
// as long as the device stays connected, and a new one once it was
// reconnected. Every member may be called from any thread.
class Device {
public:
    virtual ~Device() = default;

    // What it is, with the firmware version it runs now.
    virtual CameraDescription description() const = 0;
    virtual std::uint16_t width() const = 0;
    virtual std::uint16_t height() const = 0;
    virtual StreamPacing pacing() const = 0;
    // False once the device is gone (the backend also calls device_gone()).
    virtual bool connected() const = 0;

    // The device's tools with their defaults, in pipeline order. They belong
    // to the device and outlive the cameras opened on it: settings survive a
    // close and a new open. Fixed for the device's lifetime.
    virtual std::vector<std::shared_ptr<CameraTool>> tools() const = 0;

    // The source of its events and trigger edges. Called once per camera, at
    // its first start, under the camera's control lock; may block (opening a
    // file or a device). nullptr with `error` set (a sentence fragment such
    // as "cannot replay 'x': ...") when there is none. The source's own
    // members are called from the stream thread only (event_source.hpp).
    virtual std::shared_ptr<EventSource> openSource(std::string& error) = 0;

    virtual FirmwareStore& firmware() = 0;
};

// A kind of device. Called from the threads of EvCameraService's callers;
// may block for as long as scanning or opening takes.
class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;

    // The devices connected now.
    virtual std::vector<CameraDescription> enumerate() = 0;
    // The connected device of that serial, or nullptr when it has none.
    virtual std::shared_ptr<Device> open(const std::string& serial) = 0;
};

// Registers a backend; EvCameraService scans and opens through every one, in
// the order they were added (the first to know a serial opens it).
void add_backend(std::shared_ptr<DeviceBackend> backend);
// Removes a backend added before; cameras already open on it stay usable.
void remove_backend(const DeviceBackend& backend);
std::vector<std::shared_ptr<DeviceBackend>> backends();

// A backend tells the engine that a device it handed out is gone: the
// camera open on it (if any) stops streaming and recording and reports
// isConnected() == false. Waits for that camera's callbacks to finish.
void device_gone(const Device& device);

}  // namespace vantrel::camera
