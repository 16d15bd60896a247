#include "sim/device.hpp"

#include "sim/firmware_image.hpp"
#include "sim/replay_source.hpp"
#include "sim/scenes/scene.hpp"
#include "sim/tool_observer.hpp"

namespace vantrel::sim {

Device::Device(CameraSpec spec, tools::ToolSet tools)
    : spec_(std::move(spec)),
      tools_(std::make_shared<const tools::ToolSet>(std::move(tools))),
      journal_(std::make_shared<ToolJournal>()),
      firmware_version_(spec_.firmware_version) {
    ToolObserver::instance().track(*tools_, journal_);
}

Device::~Device() { ToolObserver::instance().forget(*tools_); }

CameraDescription Device::description() const {
    CameraDescription d{};
    d.serial = spec_.serial;
    d.product = spec_.product;
    d.manufacturer = spec_.manufacturer;
    d.vid = spec_.vid;
    d.pid = spec_.pid;
    d.interface_type = spec_.interface_type;
    d.firmware_version = version();
    return d;
}

std::shared_ptr<camera::EventSource> Device::openSource(std::string& error) {
    if (!spec_.source.empty()) {
        ReplayInfo info;
        std::string why;
        auto replay = open_replay_source(spec_.source, info, why);
        if (!replay) error = "cannot replay '" + spec_.source + "': " + why;
        return replay;
    }
    auto scene = make_scene(spec_.scene, spec_.width, spec_.height, spec_.event_rate, spec_.seed);
    if (!scene) error = "unknown scene '" + spec_.scene + "'";
    return scene;
}

std::string Device::version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_version_;
}

camera::FirmwareStore::Outcome Device::install(const std::string& image_path) {
    const firmware::Parsed image = firmware::read_image_file(image_path);
    Outcome outcome;
    if (!image.ok) {
        outcome.error = image.error;
        return outcome;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        firmware_version_ = image.version;
    }
    outcome.ok = true;
    outcome.version = image.version;
    return outcome;
}

}  // namespace vantrel::sim
