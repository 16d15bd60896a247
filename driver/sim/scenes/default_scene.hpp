#pragma once

#include <array>
#include <cstdint>

#include "sim/scenes/event_clock.hpp"
#include "sim/scenes/random.hpp"
#include "camera/event_source.hpp"

namespace vantrel::sim {

// The default scene (events come in short runs from one component at a
// time): a vertical bar sweeping right and a horizontal bar
// sweeping down (their leading edges give ON events, trailing edges OFF),
// a patch lit by a 100 Hz flickering light (bursts of ON after each rise,
// OFF after each fall), a few hot pixels that fire all the time, and
// uniform background noise.
class DefaultScene final : public camera::EventSource {
public:
    DefaultScene(std::uint16_t width, std::uint16_t height, double rate, std::uint64_t seed);

    void generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls& controls,
                  std::vector<Event2D>& out) override;

    // Shares of the event rate, out of 65536.
    static constexpr std::uint32_t kVerticalBarShare = 18000;
    static constexpr std::uint32_t kHorizontalBarShare = 18000;
    static constexpr std::uint32_t kFlickerShare = 13000;
    static constexpr std::uint32_t kHotPixelShare = 3500;
    // The light of the flickering patch: 100 Hz, bursts of this length.
    static constexpr std::uint64_t kFlickerPeriodUs = 10'000;
    static constexpr std::uint64_t kFlickerBurstUs = 1'500;
    static constexpr std::uint64_t kVerticalSweepUs = 2'000'000;
    static constexpr std::uint64_t kHorizontalSweepUs = 3'000'000;
    // Consecutive events drawn from the same component.
    static constexpr std::uint32_t kRunLength = 16;

    struct Rect {
        std::uint32_t x, y, width, height;
    };
    const Rect& flickerPatch() const noexcept { return flicker_; }
    const std::array<std::uint32_t, 8>& hotPixels() const noexcept { return hot_pixels_; }  // y << 16 | x

private:
    std::uint32_t width_;
    std::uint32_t height_;
    double rate_;
    FastRandom random_;
    EventClock clock_;
    std::uint32_t bar_width_;   // of the vertical bar, in columns
    std::uint32_t bar_height_;  // of the horizontal bar, in rows
    std::uint64_t vertical_step_;    // sweep phase per microsecond, 32.16 fixed point
    std::uint64_t horizontal_step_;
    Rect flicker_;
    std::array<std::uint32_t, 8> hot_pixels_{};
    std::uint32_t run_left_ = 0;
    std::uint32_t run_select_ = 0;
    bool run_trailing_ = false;
};

}  // namespace vantrel::sim
