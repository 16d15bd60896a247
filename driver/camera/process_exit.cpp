#include "vantrel/process_exit.hpp"

#include <memory>
#include <vector>

#include "camera/camera_table.hpp"
#include "camera/device_camera.hpp"
#include "stream/activity.hpp"

namespace vantrel {

bool quiesceForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // First, so that no callback starts and no stream starts while the
    // streams are being stopped.
    stream::Activity::quiesce();
    std::vector<std::shared_ptr<camera::StreamSession>> stopped;
    for (const auto& camera : camera::CameraTable::instance().openCameras()) {
        if (auto session = camera->quiesceForExit()) stopped.push_back(std::move(session));
    }
    const bool idle = stream::Activity::waitIdle(deadline);
    // Once idle, every delivery thread has returned (joining it is a
    // formality); otherwise some may never return, and are left to the exit.
    for (const auto& session : stopped) session->finishDelivery(idle);
    return idle;
}

bool exiting() noexcept { return stream::Activity::quiesced(); }

bool onExitingThread() noexcept { return stream::Activity::onQuiescingThread(); }

ExitGuard::ExitGuard() noexcept : entered_(stream::Activity::enter().keep()) {}

ExitGuard::~ExitGuard() {
    if (entered_) stream::Activity::Token::adopt().release();
}

}  // namespace vantrel
