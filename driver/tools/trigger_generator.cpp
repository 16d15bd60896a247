#include <cmath>

#include "tools/trigger_generator.hpp"

namespace vantrel::tools {

void TriggerGenerator::configure(const TriggerInSettings& settings) {
    settings_ = settings;
    half_period_us_ = 500000.0 / static_cast<double>(settings.frequency_hz);
    anchored_ = false;
}

std::uint64_t TriggerGenerator::edgeTime(std::uint64_t n) const {
    return origin_ + static_cast<std::uint64_t>(std::llround(static_cast<double>(n) * half_period_us_));
}

void TriggerGenerator::generate(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out) {
    if (!settings_.enabled || t_end <= t_begin) return;
    if (!anchored_ || t_begin < origin_) {
        origin_ = t_begin;
        next_ = 0;
        anchored_ = true;
    }
    if (edgeTime(next_) < t_begin) {
        // A gap between slices: continue with the first edge of this one.
        next_ = static_cast<std::uint64_t>(static_cast<double>(t_begin - origin_) / half_period_us_);
        while (edgeTime(next_) < t_begin) ++next_;
    }
    const auto channel = static_cast<std::int16_t>(settings_.channel);
    for (std::uint64_t t = edgeTime(next_); t < t_end; t = edgeTime(++next_)) {
        out.push_back(EventTriggerIn{static_cast<std::int16_t>(next_ % 2 == 0 ? 1 : 0), t, channel});
    }
}

}  // namespace vantrel::tools
