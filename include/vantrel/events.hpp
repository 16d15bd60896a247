#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vantrel {

// One event of the sensor. The layout is part of the Python interface: event
// arrays reinterpret driver memory through a dtype that mirrors it byte for
// byte, so any change here must be mirrored in the binding's dtype.
struct Event2D {
    std::uint64_t timestamp;  // microseconds on the camera's clock
    std::uint16_t x;
    std::uint16_t y;
    std::uint8_t polarity;

    // Defaulted so that value-initialisation (`Event2D()`, `std::vector(n)`)
    // zero-fills the record.
    Event2D() = default;
    constexpr Event2D(std::uint16_t x_, std::uint16_t y_, std::uint8_t polarity_,
                      std::uint64_t timestamp_) noexcept
        : timestamp(timestamp_), x(x_), y(y_), polarity(polarity_) {}
};

static_assert(sizeof(Event2D) == 16, "Event2D must stay 16 bytes");
static_assert(alignof(Event2D) == 8, "Event2D must stay 8-byte aligned");
static_assert(offsetof(Event2D, timestamp) == 0, "Event2D::timestamp offset");
static_assert(offsetof(Event2D, x) == 8, "Event2D::x offset");
static_assert(offsetof(Event2D, y) == 10, "Event2D::y offset");
static_assert(offsetof(Event2D, polarity) == 12, "Event2D::polarity offset");

// One edge on the camera's external trigger input.
struct EventTriggerIn {
    std::int16_t polarity;
    std::uint64_t timestamp;
    std::int16_t id;
};

// Stream statistics over one reporting period.
struct EvCameraStatisticInfo {
    std::uint64_t bandwidth_byte;
    std::uint64_t events_count;
};

// Callbacks run on the driver's delivery thread. A batch is the half-open
// range [begin, end) in the driver's buffer, valid until the callback returns.
using EventBatchCallback = std::function<void(Event2D* begin, Event2D* end)>;
using TriggerInCallback = std::function<void(const EventTriggerIn&)>;
using StatisticsCallback = std::function<void(const EvCameraStatisticInfo&)>;

}  // namespace vantrel
