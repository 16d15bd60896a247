#pragma once

#include <memory>
#include <mutex>

#include "file/recorder.hpp"
#include "stream/batch.hpp"

namespace vantrel::camera {

// The recording in progress on one camera, if any. Everything the camera
// delivers passes through push(), on the delivery thread, just before the
// callbacks get it; once take() has returned the recorder, nothing more
// reaches it.
class RecorderSlot {
public:
    bool active() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return recorder_ != nullptr;
    }
    void install(std::unique_ptr<file::Recorder> recorder) {
        std::lock_guard<std::mutex> lock(mutex_);
        recorder_ = std::move(recorder);
    }
    std::unique_ptr<file::Recorder> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(recorder_);
    }
    // False when a recording is running and dropped the data (its queue is
    // full). Recorder::push never waits for the disk, so holding the lock
    // is cheap.
    bool push(const stream::BatchPtr& batch) {
        std::lock_guard<std::mutex> lock(mutex_);
        return !recorder_ || recorder_->push(batch);
    }
    bool push(const EventTriggerIn& edge) {
        std::lock_guard<std::mutex> lock(mutex_);
        return !recorder_ || recorder_->push(edge);
    }

private:
    // Guards recorder_; held across Recorder::push (which never waits for
    // the disk), then only the recorder's own lock is taken under it.
    mutable std::mutex mutex_;
    std::unique_ptr<file::Recorder> recorder_;
};

}  // namespace vantrel::camera
