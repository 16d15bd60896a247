#include "sim/scenes/default_scene.hpp"

#include <algorithm>
#include <type_traits>

namespace vantrel::sim {

namespace {

std::uint64_t sweep_step(std::uint64_t period_us) {
    return ((std::uint64_t{1} << 48) + period_us / 2) / period_us;
}

// Position along a sweep of `span` positions at time t.
inline std::uint32_t sweep_position(std::uint64_t t, std::uint64_t step, std::uint32_t span) {
    const auto phase = static_cast<std::uint32_t>((t * step) >> 16);
    return FastRandom::below(phase, span);
}

// -1, 0 or +1 from two random bits, kept inside [0, limit).
inline std::uint32_t nudge(std::uint32_t v, std::uint64_t bits, std::uint32_t limit) {
    switch (bits & 3) {
        case 0: return v > 0 ? v - 1 : v;
        case 1: return v + 1 < limit ? v + 1 : v;
        default: return v;
    }
}

}  // namespace

DefaultScene::DefaultScene(std::uint16_t width, std::uint16_t height, double rate, std::uint64_t seed)
    : width_(std::max<std::uint32_t>(width, 1)),
      height_(std::max<std::uint32_t>(height, 1)),
      rate_(rate),
      random_(seed),
      bar_width_(std::max<std::uint32_t>(width_ / 10, 2)),
      bar_height_(std::max<std::uint32_t>(height_ / 10, 2)),
      vertical_step_(sweep_step(kVerticalSweepUs)),
      horizontal_step_(sweep_step(kHorizontalSweepUs)) {
    flicker_.width = std::max<std::uint32_t>(width_ / 6, 1);
    flicker_.height = std::max<std::uint32_t>(height_ / 6, 1);
    flicker_.x = std::min(width_ * 5 / 8, width_ - flicker_.width);
    flicker_.y = std::min(height_ / 8, height_ - flicker_.height);
    // The hot pixels come from the seed, independently of the event stream.
    FastRandom placement(seed ^ 0x5ca1ab1e0ddba11ULL);
    for (auto& pixel : hot_pixels_) {
        const std::uint64_t r = placement.next();
        pixel = FastRandom::below(static_cast<std::uint32_t>(r >> 32), height_) << 16 |
                FastRandom::below(static_cast<std::uint32_t>(r), width_);
    }
}

void DefaultScene::generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls& controls,
                            std::vector<Event2D>& out) {
    if (!clock_.beginSlice(t_begin, t_end, rate_ * controls.rate_scale)) return;
    out.reserve(out.size() + clock_.remainingEstimate());

    const std::uint32_t w = width_, h = height_;
    const std::uint32_t bar_rows = std::max<std::uint32_t>(h / 2, 1), bar_row0 = h / 4;
    const std::uint32_t bar_cols = std::max<std::uint32_t>(w / 2, 1), bar_col0 = w / 4;

    // The component (bar and edge, patch, hot pixel, noise) is drawn once
    // per run of kRunLength events rather than per event: a random choice per event would
    // make every branch unpredictable, and runs of a few microseconds are
    // invisible in the result. A run continues into the next slice, so the
    // output does not depend on the slicing.
    const auto run = [&]<int Kind>(std::integral_constant<int, Kind>, bool trailing) {
        for (; run_left_ > 0 && clock_.more(); --run_left_) {
            const std::uint64_t r1 = random_.next();
            const std::uint64_t r2 = random_.next();
            const std::uint64_t t = clock_.take(r1 & 0xFFFF);
            const auto rx = static_cast<std::uint32_t>(r2);
            const auto ry = static_cast<std::uint32_t>(r2 >> 32);
            std::uint32_t x = 0, y = 0, polarity = 0;
            bool placed = false;
            if constexpr (Kind == 0) {
                // Edges of the vertical bar: the bar enters on the left and leaves on the right.
                const std::uint32_t lead = sweep_position(t, vertical_step_, w + bar_width_);
                if (trailing ? lead >= bar_width_ : lead < w) {
                    x = nudge(trailing ? lead - bar_width_ : lead, r1 >> 33, w);
                    y = bar_row0 + FastRandom::below(ry, bar_rows);
                    polarity = trailing ? 0 : 1;
                    placed = true;
                }
            } else if constexpr (Kind == 1) {
                const std::uint32_t lead = sweep_position(t, horizontal_step_, h + bar_height_);
                if (trailing ? lead >= bar_height_ : lead < h) {
                    y = nudge(trailing ? lead - bar_height_ : lead, r1 >> 33, h);
                    x = bar_col0 + FastRandom::below(rx, bar_cols);
                    polarity = trailing ? 0 : 1;
                    placed = true;
                }
            } else if constexpr (Kind == 2) {
                const std::uint64_t phase = t % kFlickerPeriodUs;
                const bool rise = phase < kFlickerBurstUs;
                const bool fall = phase >= kFlickerPeriodUs / 2 && phase < kFlickerPeriodUs / 2 + kFlickerBurstUs;
                if (rise || fall) {
                    x = flicker_.x + FastRandom::below(rx, flicker_.width);
                    y = flicker_.y + FastRandom::below(ry, flicker_.height);
                    polarity = rise ? 1 : 0;
                    placed = true;
                }
            } else if constexpr (Kind == 3) {
                const std::uint32_t pixel = hot_pixels_[(r1 >> 33) & 7];
                x = pixel & 0xFFFF;
                y = pixel >> 16;
                polarity = (r1 >> 36) & 1;
                placed = true;
            }
            if (!placed) {
                // Background noise (also where a bar is off the sensor or the light is steady).
                x = FastRandom::below(rx, w);
                y = FastRandom::below(ry, h);
                polarity = (r1 >> 40) & 1;
            }
            out.emplace_back(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
                             static_cast<std::uint8_t>(polarity), t);
        }
    };

    constexpr std::uint32_t t1 = kVerticalBarShare;
    constexpr std::uint32_t t2 = t1 + kHorizontalBarShare;
    constexpr std::uint32_t t3 = t2 + kFlickerShare;
    constexpr std::uint32_t t4 = t3 + kHotPixelShare;
    while (clock_.more()) {
        if (run_left_ == 0) {
            const std::uint64_t choice = random_.next();
            run_select_ = static_cast<std::uint32_t>(choice & 0xFFFF);
            run_trailing_ = (choice >> 16) & 1;  // which edge of a bar this run shows
            run_left_ = kRunLength;
        }
        const std::uint32_t select = run_select_;
        const bool trailing = run_trailing_;
        if (select < t1) {
            run(std::integral_constant<int, 0>{}, trailing);
        } else if (select < t2) {
            run(std::integral_constant<int, 1>{}, trailing);
        } else if (select < t3) {
            run(std::integral_constant<int, 2>{}, trailing);
        } else if (select < t4) {
            run(std::integral_constant<int, 3>{}, trailing);
        } else {
            run(std::integral_constant<int, 4>{}, trailing);
        }
    }
}

}  // namespace vantrel::sim
