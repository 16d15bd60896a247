#include "vantrel/process_exit.hpp"

#include "sim/device_registry.hpp"
#include "sim/sim_camera.hpp"
#include "stream/activity.hpp"

namespace vantrel {

bool quiesceForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // First, so that no callback starts and no stream starts while the
    // streams are being stopped.
    stream::Activity::quiesce();
    for (const auto& camera : sim::DeviceRegistry::instance().openCameras()) camera->quiesceForExit();
    return stream::Activity::waitIdle(deadline);
}

bool exiting() noexcept { return stream::Activity::quiesced(); }

bool onExitingThread() noexcept { return stream::Activity::onQuiescingThread(); }

ExitGuard::ExitGuard() noexcept : entered_(stream::Activity::enter().keep()) {}

ExitGuard::~ExitGuard() {
    if (entered_) stream::Activity::Token::adopt().release();
}

}  // namespace vantrel
