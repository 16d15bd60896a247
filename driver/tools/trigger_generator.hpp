#pragma once

#include <cstdint>
#include <vector>

#include "vantrel/events.hpp"

namespace vantrel::tools {

// The simulated signal of the trigger_in tool.
struct TriggerInSettings {
    bool enabled;
    int channel;
    float frequency_hz;
};

// A square wave on the trigger input: edge n at origin + n * half period,
// rising (polarity 1) for even n, falling (polarity 0) for odd n. The
// origin is the start of the first slice after the settings took effect.
class TriggerGenerator {
public:
    void configure(const TriggerInSettings& settings);
    void reset() { anchored_ = false; }
    void generate(std::uint64_t t_begin, std::uint64_t t_end, std::vector<EventTriggerIn>& out);

private:
    std::uint64_t edgeTime(std::uint64_t n) const;

    TriggerInSettings settings_{false, 0, 100.0f};
    double half_period_us_ = 5000.0;
    bool anchored_ = false;
    std::uint64_t origin_ = 0;
    std::uint64_t next_ = 0;
};

}  // namespace vantrel::tools
