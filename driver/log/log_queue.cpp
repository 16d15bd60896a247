#include "vantrel/log_queue.hpp"

#include <atomic>
#include <utility>

#include "stream/bounded_queue.hpp"

namespace vantrel {

namespace {

struct RecordBytes {
    std::size_t operator()(const LogRecord& record) const noexcept { return record.text.size() + 1; }
};

}  // namespace

struct LogQueue::State {
    State(std::size_t max_records, std::size_t max_bytes) : queue(max_records, max_bytes) {}
    stream::BoundedQueue<LogRecord, RecordBytes> queue;
    std::atomic<std::uint64_t> dropped{0};
};

LogQueue::LogQueue(std::size_t max_records, std::size_t max_bytes)
    : state_(std::make_unique<State>(max_records, max_bytes)) {}

LogQueue::~LogQueue() = default;

void LogQueue::push(LogRecord record) {
    const auto result = state_->queue.push(std::move(record), stream::Overflow::DropOldest);
    if (result.dropped_items) state_->dropped.fetch_add(result.dropped_items, std::memory_order_relaxed);
}

std::vector<LogRecord> LogQueue::take(std::chrono::milliseconds timeout) {
    std::vector<LogRecord> records;
    auto first = state_->queue.pop(timeout);
    if (!first) return records;
    records.push_back(std::move(*first));
    while (auto next = state_->queue.pop(std::chrono::steady_clock::duration::zero())) {
        records.push_back(std::move(*next));
    }
    return records;
}

std::uint64_t LogQueue::dropped() const noexcept { return state_->dropped.load(std::memory_order_relaxed); }

LogSink LogQueue::sinkInto(std::shared_ptr<LogQueue> queue) {
    return [queue = std::move(queue)](const LogRecord& record) { queue->push(record); };
}

}  // namespace vantrel
