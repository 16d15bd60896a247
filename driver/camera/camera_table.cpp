#include "camera/camera_table.hpp"

#include <algorithm>

#include "camera/device_camera.hpp"

namespace vantrel::camera {

CameraTable& CameraTable::instance() {
    static CameraTable* const table = new CameraTable();
    return *table;
}

void CameraTable::addBackend(std::shared_ptr<DeviceBackend> backend) {
    if (!backend) return;
    std::lock_guard<std::mutex> lock(backends_mutex_);
    if (std::find(backends_.begin(), backends_.end(), backend) == backends_.end()) {
        backends_.push_back(std::move(backend));
    }
}

void CameraTable::removeBackend(const DeviceBackend& backend) {
    std::shared_ptr<DeviceBackend> removed;  // released after the lock
    std::lock_guard<std::mutex> lock(backends_mutex_);
    const auto it = std::find_if(backends_.begin(), backends_.end(),
                                 [&](const auto& b) { return b.get() == &backend; });
    if (it == backends_.end()) return;
    removed = std::move(*it);
    backends_.erase(it);
}

std::vector<std::shared_ptr<DeviceBackend>> CameraTable::backends() const {
    std::lock_guard<std::mutex> lock(backends_mutex_);
    return backends_;
}

std::vector<CameraDescription> CameraTable::enumerate() const {
    std::vector<CameraDescription> out;
    for (const auto& backend : backends()) {
        auto found = backend->enumerate();
        out.insert(out.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    return out;
}

std::shared_ptr<DeviceCamera> CameraTable::open(const std::string& serial) {
    std::shared_ptr<Device> device;
    for (const auto& backend : backends()) {
        if ((device = backend->open(serial))) break;
    }
    if (!device) return nullptr;
    std::shared_ptr<DeviceCamera> camera;
    // A closed camera found here is released after the lock: releasing the
    // last reference destroys it, which waits for its threads.
    std::shared_ptr<DeviceCamera> previous;
    {
        std::lock_guard<std::mutex> lock(cameras_mutex_);
        std::erase_if(entries_, [](const Entry& e) { return e.camera.expired(); });
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& e) { return e.device == device; });
        if (it != entries_.end()) {
            previous = it->camera.lock();
            if (previous && !previous->closed()) return previous;
            camera = std::make_shared<DeviceCamera>(device);
            it->camera = camera;
        } else {
            camera = std::make_shared<DeviceCamera>(device);
            entries_.push_back(Entry{device, camera});
        }
    }
    // The device may have gone between the backend's open and the entry: its
    // backend's device_gone() found no camera then.
    if (!device->connected()) camera->unplug();
    return camera;
}

std::shared_ptr<DeviceCamera> CameraTable::find(const Device& device) const {
    std::shared_ptr<DeviceCamera> camera;
    {
        std::lock_guard<std::mutex> lock(cameras_mutex_);
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& e) { return e.device.get() == &device; });
        if (it == entries_.end()) return nullptr;
        camera = it->camera.lock();
    }
    if (camera && camera->closed()) return nullptr;
    return camera;
}

std::vector<std::shared_ptr<DeviceCamera>> CameraTable::openCameras() const {
    std::vector<std::shared_ptr<DeviceCamera>> cameras;
    {
        std::lock_guard<std::mutex> lock(cameras_mutex_);
        for (const auto& entry : entries_)
            if (auto camera = entry.camera.lock()) cameras.push_back(std::move(camera));
    }
    std::erase_if(cameras, [](const auto& camera) { return camera->closed(); });
    return cameras;
}

void CameraTable::deviceGone(const Device& device) {
    std::shared_ptr<DeviceCamera> camera;
    {
        std::lock_guard<std::mutex> lock(cameras_mutex_);
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& e) { return e.device.get() == &device; });
        if (it == entries_.end()) return;
        camera = it->camera.lock();
        entries_.erase(it);
    }
    // Outside the lock: stopping waits for the camera's threads.
    if (camera) camera->unplug();
}

}  // namespace vantrel::camera
