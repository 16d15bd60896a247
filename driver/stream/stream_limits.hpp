#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// The bounds of a camera's stream. Documented for users in docs/simulator.md;
// keep both in step.
namespace vantrel::stream::limits {

// Batches cover this much event time when no batch condition is set.
inline constexpr std::uint64_t kDefaultWindowUs = 10'000;
// No batch holds more events than this (setBatchEventsNum is clamped to it,
// longer time windows are delivered in parts).
inline constexpr std::uint64_t kMaxBatchEvents = std::uint64_t{1} << 24;

// getNextBatch gives up after this long without a batch.
inline constexpr std::chrono::milliseconds kPollTimeout{1000};

// Batches waiting to be polled; beyond either bound the oldest are dropped.
inline constexpr std::size_t kPollQueueBatches = 256;
inline constexpr std::size_t kPollQueueEvents = std::size_t{1} << 22;

// Items waiting for the delivery thread (batches, trigger edges, statistics).
inline constexpr std::size_t kDeliveryQueueItems = 256;
inline constexpr std::size_t kDeliveryQueueEvents = std::size_t{1} << 22;

// Once a stream is told to stop, its callbacks get what was already
// produced for at most this long after the call in progress returned; what
// is still queued then is dropped (counted and logged).
inline constexpr std::chrono::milliseconds kStopDrainTime{100};

// Statistics reports come once per this much stream time.
inline constexpr std::uint64_t kStatisticsPeriodUs = 1'000'000;

}  // namespace vantrel::stream::limits
