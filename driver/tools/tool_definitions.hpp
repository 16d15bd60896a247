#pragma once

// The seven tools of a simulated camera: each one's schema and rules
// (tool_<id>.cpp) and the settings its part of the stream reads.

#include <cstdint>
#include <memory>
#include <string>

#include "vantrel/camera_tool.hpp"
#include "vantrel/params.hpp"

namespace vantrel::tools {

// bias: contrast thresholds and gain; together they scale the event rate.
struct BiasSettings {
    int threshold_on;
    int threshold_off;
    float gain;
    // gain * 2^(-(threshold_on + threshold_off) / 50): 1 at the defaults,
    // rising as a threshold falls or the gain rises, falling otherwise.
    double rateScale() const;
};
BiasSettings read_bias(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_bias_core();

// trigger_in: a simulated signal on the trigger input.
struct TriggerInSettings {
    bool enabled;
    int channel;
    float frequency_hz;
};
TriggerInSettings read_trigger_in(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_trigger_in_core();

// sync: the camera's role in a group of synchronised cameras.
struct SyncSettings {
    enum class Mode { Standalone, Primary, Secondary } mode;
    std::uint64_t offset_us;
    std::string primary_serial;
    // What the camera's clock starts from at the next start.
    std::uint64_t timeOffset() const { return mode == Mode::Secondary ? offset_us : 0; }
};
SyncSettings read_sync(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_sync_core();

// anti_flicker: suppression of pixels that flicker within a frequency band.
struct AntiFlickerSettings {
    bool enabled;
    int low_frequency_hz;
    int high_frequency_hz;
};
AntiFlickerSettings read_anti_flicker(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_anti_flicker_core();

// event_trail_filter: drops a pixel's events that follow its previous one closely.
struct TrailFilterSettings {
    bool enabled;
    std::uint64_t threshold_us;
};
TrailFilterSettings read_trail_filter(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_event_trail_filter_core();

// event_rate_control: a ceiling on the delivered event rate.
struct RateControlSettings {
    bool enabled;
    std::uint64_t max_event_rate;  // events per second
};
RateControlSettings read_rate_control(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_event_rate_control_core();

// roi: a window of the sensor; events outside it are dropped.
struct RoiSettings {
    bool enabled;
    int x, y, width, height;
    bool contains(std::uint16_t ex, std::uint16_t ey) const {
        return ex >= x && ex < x + width && ey >= y && ey < y + height;
    }
};
RoiSettings read_roi(const ParamValueMap& values);
std::unique_ptr<CameraToolCore> make_roi_core(std::uint16_t sensor_width, std::uint16_t sensor_height);

}  // namespace vantrel::tools
