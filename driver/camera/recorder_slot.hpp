#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

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
    // A recording taken out of the slot, to be finished (Recorder::stop) by
    // whoever took it. Until it is destroyed, waitUntilFinished() waits: a
    // stopRecording that finds the slot emptied by an unplug on another
    // thread returns only once that thread has completed the file.
    class Taken {
    public:
        Taken() = default;
        Taken(Taken&& other) noexcept : slot_(std::exchange(other.slot_, nullptr)), recorder_(std::move(other.recorder_)) {}
        Taken& operator=(Taken&& other) noexcept {
            if (this != &other) {
                release();
                slot_ = std::exchange(other.slot_, nullptr);
                recorder_ = std::move(other.recorder_);
            }
            return *this;
        }
        ~Taken() { release(); }
        explicit operator bool() const { return recorder_ != nullptr; }
        file::Recorder* operator->() const { return recorder_.get(); }

    private:
        friend class RecorderSlot;
        Taken(RecorderSlot* slot, std::unique_ptr<file::Recorder> recorder)
            : slot_(slot), recorder_(std::move(recorder)) {}
        void release() {
            recorder_.reset();
            if (slot_ != nullptr) std::exchange(slot_, nullptr)->finished();
        }
        RecorderSlot* slot_ = nullptr;
        std::unique_ptr<file::Recorder> recorder_;
    };

    Taken take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recorder_) return {};
        ++finishing_;
        return Taken(this, std::move(recorder_));
    }
    void waitUntilFinished() {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return finishing_ == 0; });
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
    void finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--finishing_ == 0) finished_.notify_all();
    }

    // Guards recorder_ and finishing_; held across Recorder::push (which never waits for
    // the disk), then only the recorder's own lock is taken under it.
    mutable std::mutex mutex_;
    std::unique_ptr<file::Recorder> recorder_;
    int finishing_ = 0;  // recordings taken and not finished yet
    std::condition_variable finished_;
};

}  // namespace vantrel::camera
