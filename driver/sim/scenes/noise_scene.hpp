#pragma once

#include <cstdint>

#include "sim/scenes/event_clock.hpp"
#include "sim/scenes/random.hpp"
#include "camera/event_source.hpp"

namespace vantrel::sim {

// Uniform background noise: every pixel equally likely, either polarity.
class NoiseScene final : public camera::EventSource {
public:
    NoiseScene(std::uint16_t width, std::uint16_t height, double rate, std::uint64_t seed)
        : width_(width), height_(height), rate_(rate), random_(seed) {}

    void generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls& controls,
                  std::vector<Event2D>& out) override {
        if (!clock_.beginSlice(t_begin, t_end, rate_ * controls.rate_scale)) return;
        out.reserve(out.size() + clock_.remainingEstimate());
        while (clock_.more()) {
            const std::uint64_t r1 = random_.next();
            const std::uint64_t r2 = random_.next();
            const std::uint64_t t = clock_.take(r1 & 0xFFFF);
            out.emplace_back(static_cast<std::uint16_t>(FastRandom::below(static_cast<std::uint32_t>(r2), width_)),
                             static_cast<std::uint16_t>(FastRandom::below(static_cast<std::uint32_t>(r2 >> 32), height_)),
                             static_cast<std::uint8_t>((r1 >> 16) & 1), t);
        }
    }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    double rate_;
    FastRandom random_;
    EventClock clock_;
};

}  // namespace vantrel::sim
