#include <stdexcept>

#include "tools/roi_filter.hpp"
#include "tools/tool_building.hpp"

namespace vantrel::tools {

namespace {

RoiSettings read_roi(const ParamValueMap& values) {
    return RoiSettings{bool_of(values, "enabled"), int_of(values, "x"), int_of(values, "y"),
                       int_of(values, "width"), int_of(values, "height")};
}

class RoiStage final : public ToolStage {
public:
    explicit RoiStage(std::shared_ptr<CameraTool> tool) : settings_(std::move(tool), &read_roi) {}
    void filter(std::vector<Event2D>& events, std::uint64_t, std::uint64_t) override {
        settings_.refresh();
        if (settings_.get().enabled) filter_roi(settings_.get(), events);
    }

private:
    WatchedSettings<RoiSettings> settings_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t sensor_width, std::uint16_t sensor_height) {
    if (sensor_width == 0 || sensor_height == 0) throw std::invalid_argument("roi: sensor size must not be 0");
    const int w = sensor_width;
    const int h = sensor_height;
    std::vector<ParamSpec> params;
    params.push_back(bool_param("enabled", "Deliver only the events inside the window", false));
    params.push_back(int_param("x", "Left column of the window", "px", 0, w - 1, 0));
    params.push_back(int_param("y", "Top row of the window", "px", 0, h - 1, 0));
    params.push_back(int_param("width", "Width of the window; x + width must not exceed the sensor width", "px",
                               1, w, w));
    params.push_back(int_param("height", "Height of the window; y + height must not exceed the sensor height",
                               "px", 1, h, h));
    std::vector<CrossRule> rules;
    rules.push_back(CrossRule{{"x", "width"}, [w](const ParamValueMap& v) -> std::optional<std::string> {
                                  const int x = int_of(v, "x");
                                  const int width = int_of(v, "width");
                                  if (x + width <= w) return std::nullopt;
                                  return "window columns " + std::to_string(x) + ".." +
                                         std::to_string(x + width - 1) + " reach outside the sensor (width " +
                                         std::to_string(w) + "): x + width must not exceed " + std::to_string(w);
                              }});
    rules.push_back(CrossRule{{"y", "height"}, [h](const ParamValueMap& v) -> std::optional<std::string> {
                                  const int y = int_of(v, "y");
                                  const int height = int_of(v, "height");
                                  if (y + height <= h) return std::nullopt;
                                  return "window rows " + std::to_string(y) + ".." +
                                         std::to_string(y + height - 1) + " reach outside the sensor (height " +
                                         std::to_string(h) + "): y + height must not exceed " + std::to_string(h);
                              }});
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params), std::move(rules));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t, std::uint16_t) {
    return std::make_unique<RoiStage>(std::move(tool));
}

}  // namespace

const ToolDefinition& roi_tool() {
    static const ToolDefinition definition{"Region of interest: a window of the sensor", &make_core, &make_stage, 1};
    return definition;
}

}  // namespace vantrel::tools
