// The engine over a backend that is not the simulator: what a second kind
// of device needs to implement, and nothing more.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "camera/device_backend.hpp"
#include "vantrel/camera_service.hpp"

namespace vantrel::camera {
namespace {

using namespace std::chrono_literals;

// Events one per microsecond at pixel (x, 2), and an edge every 1000 us.
class RampSource final : public EventSource {
public:
    explicit RampSource(std::uint16_t x) : x_(x) {}
    void generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls&,
                  std::vector<Event2D>& out) override {
        for (std::uint64_t t = t_begin; t < t_end; ++t) out.emplace_back(x_, 2, 1, t);
    }
    void triggers(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out) override {
        for (std::uint64_t t = (t_begin + 999) / 1000 * 1000; t < t_end; t += 1000) out.push_back({1, t, 0});
    }

private:
    std::uint16_t x_;
};

class FakeDevice final : public Device, public FirmwareStore {
public:
    explicit FakeDevice(std::string serial) : serial_(std::move(serial)) {}

    CameraDescription description() const override {
        CameraDescription d{};
        d.serial = serial_;
        d.product = "fake";
        d.firmware_version = version();
        return d;
    }
    std::uint16_t width() const override { return 16; }
    std::uint16_t height() const override { return 8; }
    StreamPacing pacing() const override { return {false, 1e6}; }
    bool connected() const override { return connected_; }
    std::vector<std::shared_ptr<CameraTool>> tools() const override { return {}; }
    std::shared_ptr<EventSource> openSource(std::string& error) override {
        ++sources_opened;
        if (broken) {
            error = "the sensor does not answer";
            return nullptr;
        }
        return std::make_shared<RampSource>(7);
    }
    FirmwareStore& firmware() override { return *this; }

    std::string version() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return version_;
    }
    Outcome install(const std::string& image_path) override {
        if (image_path != "good.img") return {false, "", "not an image"};
        std::lock_guard<std::mutex> lock(mutex_);
        version_ = "2.0";
        return {true, "2.0", ""};
    }

    std::atomic<bool> connected_{true};
    std::atomic<bool> broken{false};
    std::atomic<int> sources_opened{0};

private:
    const std::string serial_;
    mutable std::mutex mutex_;
    std::string version_ = "1.0";
};

class FakeBackend final : public DeviceBackend {
public:
    std::vector<CameraDescription> enumerate() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!device_) return {};
        return {device_->description()};
    }
    std::shared_ptr<Device> open(const std::string& serial) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!device_ || device_->description().serial != serial) return nullptr;
        return device_;
    }
    std::shared_ptr<FakeDevice> plug(const std::string& serial) {
        std::lock_guard<std::mutex> lock(mutex_);
        device_ = std::make_shared<FakeDevice>(serial);
        return device_;
    }
    void unplug() {
        std::shared_ptr<FakeDevice> gone;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gone = std::move(device_);
        }
        gone->connected_ = false;
        device_gone(*gone);
    }

private:
    std::mutex mutex_;
    std::shared_ptr<FakeDevice> device_;
};

class FakeBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<FakeBackend>();
        device = backend->plug("FAKE-1");
        add_backend(backend);
    }
    void TearDown() override { remove_backend(*backend); }

    std::shared_ptr<FakeBackend> backend;
    std::shared_ptr<FakeDevice> device;
};

template <class Pred>
bool eventually(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST_F(FakeBackendTest, TheServiceFindsOpensAndStreamsItsDevice) {
    EvCameraService service;
    bool listed = false;
    for (const auto& d : service.listCameras()) listed = listed || (d.serial == "FAKE-1" && d.product == "fake");
    EXPECT_TRUE(listed);

    const auto camera = service.open("FAKE-1");
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(service.open("FAKE-1"), camera);
    EXPECT_EQ(camera->getWidth(), 16);
    EXPECT_EQ(camera->getHeight(), 8);

    std::atomic<std::uint64_t> events{0};
    std::atomic<bool> in_order{true};
    std::atomic<std::uint64_t> last_t{0};
    std::atomic<int> edges{0};
    camera->setBatchEventsNum(500);
    ASSERT_NE(camera->registerEventBatchCallback([&](Event2D* begin, Event2D* end) {
                  for (Event2D* e = begin; e != end; ++e) {
                      if (e->x != 7 || e->timestamp < last_t) in_order = false;
                      last_t = e->timestamp;
                  }
                  events += static_cast<std::uint64_t>(end - begin);
              }),
              0u);
    ASSERT_NE(camera->registerTriggerInCallback([&](const EventTriggerIn&) { ++edges; }), 0u);
    ASSERT_TRUE(camera->start());
    EXPECT_TRUE(eventually([&] { return events >= 5000 && edges >= 3; }));
    ASSERT_TRUE(camera->stop());
    EXPECT_TRUE(in_order);
    EXPECT_EQ(device->sources_opened, 1);

    // A second run continues the same source's clock.
    const std::uint64_t before = last_t;
    ASSERT_TRUE(camera->start());
    EXPECT_TRUE(eventually([&] { return last_t > before; }));
    camera->close();
    EXPECT_EQ(device->sources_opened, 1);
    EXPECT_TRUE(in_order);
}

TEST_F(FakeBackendTest, AGoneDeviceStopsItsCameraAndAReplugGivesANewOne) {
    EvCameraService service;
    const auto camera = service.open("FAKE-1");
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(camera->start());
    backend->unplug();
    EXPECT_FALSE(camera->isConnected());
    EXPECT_FALSE(camera->start());
    EXPECT_EQ(service.open("FAKE-1"), nullptr);

    device = backend->plug("FAKE-1");
    const auto again = service.open("FAKE-1");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, camera);
    EXPECT_TRUE(again->isConnected());
}

TEST_F(FakeBackendTest, FirmwareGoesThroughTheDevicesStoreAndSourceFailuresRefuseStart) {
    EvCameraService service;
    const auto camera = service.open("FAKE-1");
    ASSERT_NE(camera, nullptr);
    EXPECT_FALSE(camera->firmwareUpgrade("bad.img"));
    EXPECT_EQ(camera->getDescription().firmware_version, "1.0");
    EXPECT_TRUE(camera->firmwareUpgrade("good.img"));
    EXPECT_EQ(camera->getDescription().firmware_version, "2.0");
    EXPECT_EQ(device->version(), "2.0");

    device->broken = true;
    EXPECT_FALSE(camera->start());
    device->broken = false;
    EXPECT_TRUE(camera->start());
    EXPECT_TRUE(camera->stop());
    camera->close();
}

}  // namespace
}  // namespace vantrel::camera
