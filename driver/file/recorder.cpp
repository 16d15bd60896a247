#include "file/recorder.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

#include "log/log.hpp"

namespace vantrel::file {

namespace {

using Batch = std::shared_ptr<const std::vector<Event2D>>;
using Clock = std::chrono::steady_clock;

std::uint64_t cost(const std::vector<Event2D>& batch) { return batch.size() * sizeof(Event2D) + 128; }

std::int64_t now_ticks() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class ThreadedRecorder final : public Recorder {
public:
    ThreadedRecorder(std::string path, const RecorderLimits& limits, const BlockLimits& blocks,
                     const Compression& compression)
        : path_(std::move(path)), limits_(limits), writer_(blocks, compression) {}

    ~ThreadedRecorder() override { stop(); }

    bool begin(const RecordingInfo& info) {
        if (!writer_.open(path_, info)) {
            log::error("recording ", path_, ": ", writer_.error());
            return false;
        }
        thread_ = std::thread([this] { run(); });
        return true;
    }

    bool push(Batch batch) override {
        if (!batch || batch->empty()) return true;
        const std::uint64_t bytes = cost(*batch);
        std::lock_guard lock(mutex_);
        if (!stopping_ && queued_bytes_ + bytes <= limits_.queued_bytes) {
            queue_.emplace_back(std::move(batch));
            queued_bytes_ += bytes;
            wake_.notify_one();
            return true;
        }
        dropped_events_ += batch->size();
        return false;
    }

    bool push(const EventTriggerIn& edge) override {
        std::lock_guard lock(mutex_);
        if (!stopping_ && queued_edges_ < limits_.queued_edges) {
            queue_.emplace_back(edge);
            ++queued_edges_;
            wake_.notify_one();
            return true;
        }
        ++dropped_edges_;
        return false;
    }

    bool stop() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            wake_.notify_one();
        }
        std::lock_guard join_lock(join_mutex_);
        if (thread_.joinable()) thread_.join();
        return ok_;
    }

    std::uint64_t droppedEvents() const override {
        std::lock_guard lock(mutex_);
        return dropped_events_;
    }

private:
    using Item = std::variant<Batch, EventTriggerIn>;

    void drop(std::uint64_t n) {
        std::lock_guard lock(mutex_);
        dropped_events_ += n;
    }

    // Writes one item; once the file has failed, everything is dropped.
    void write(const Item& item) {
        if (const Batch* batch = std::get_if<Batch>(&item)) {
            if (writer_.failed() || !writer_.add((*batch)->data(), (*batch)->size())) {
                report_failure();
                drop((*batch)->size());
            }
        } else if (writer_.failed() || !writer_.add(std::get<EventTriggerIn>(item))) {
            report_failure();
            std::lock_guard lock(mutex_);
            ++dropped_edges_;
        }
    }

    void report_failure() {
        if (failure_reported_) return;
        failure_reported_ = true;
        log::error("recording ", path_, ": ", writer_.error(),
                   "; the rest of the recording is dropped");
    }

    // While recording, the camera reports what push() refused, queue by
    // queue; the recording's own total comes once, when it ends.
    void report_drops() {
        std::uint64_t events, edges;
        {
            std::lock_guard lock(mutex_);
            events = dropped_events_;
            edges = dropped_edges_;
        }
        if (events == 0 && edges == 0) return;
        log::warning("recording ", path_, ": ", events, " events and ", edges,
                     " trigger edges were dropped in all");
    }

    void run() {
        std::deque<Item> work;
        auto last_flush = Clock::now();
        const auto interval = std::chrono::milliseconds(limits_.flush_interval_ms);
        for (;;) {
            bool stopping;
            {
                std::unique_lock lock(mutex_);
                wake_.wait_for(lock, interval, [&] { return stopping_ || !queue_.empty(); });
                work.swap(queue_);
                stopping = stopping_;
            }
            for (Item& item : work) {
                write(item);
                std::lock_guard lock(mutex_);
                if (const Batch* batch = std::get_if<Batch>(&item))
                    queued_bytes_ -= cost(**batch);
                else
                    --queued_edges_;
            }
            work.clear();
            if (Clock::now() - last_flush >= interval) {
                if (!writer_.failed() && !writer_.flush()) report_failure();
                last_flush = Clock::now();
            }
            if (stopping) {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) break;
            }
        }
        ok_ = !writer_.failed() && writer_.finish();
        if (!ok_) report_failure();
        report_drops();
        log::info("recording ", path_, ": finished with ", writer_.eventCount(), " events and ",
                  writer_.triggerCount(), " trigger edges");
    }

    const std::string path_;
    const RecorderLimits limits_;
    RecordingWriter writer_;  // used by the writer thread only
    std::thread thread_;
    std::mutex join_mutex_;  // one stop() at a time joins thread_; never held together with mutex_
    bool ok_ = false;
    bool failure_reported_ = false;

    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable wake_;
    std::deque<Item> queue_;
    std::uint64_t queued_bytes_ = 0;  // batches queued or being written
    std::uint64_t queued_edges_ = 0;
    std::uint64_t dropped_events_ = 0;
    std::uint64_t dropped_edges_ = 0;
    bool stopping_ = false;
};

}  // namespace

std::unique_ptr<Recorder> start_recorder(const std::string& path, const RecordingInfo& info,
                                         const RecorderLimits& limits, const BlockLimits& blocks,
                                         const Compression& compression) {
    RecordingInfo header = info;
    if (header.local_time_ticks == 0) header.local_time_ticks = now_ticks();
    auto recorder = std::make_unique<ThreadedRecorder>(path, limits, blocks, compression);
    if (!recorder->begin(header)) return nullptr;
    return recorder;
}

std::unique_ptr<Recorder> Recorder::start(const std::string& path, const RecordingInfo& info) {
    return start_recorder(path, info, RecorderLimits{}, BlockLimits{}, default_compression());
}

}  // namespace vantrel::file
