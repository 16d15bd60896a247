#include "sim/scenes/default_scene.hpp"
#include "sim/scenes/noise_scene.hpp"
#include "sim/scenes/scene.hpp"

namespace vantrel::sim {

namespace {

// Emits nothing by itself: a scripted camera's stream is what tests push.
class ScriptedScene final : public camera::EventSource {
public:
    void generate(std::uint64_t, std::uint64_t, const tools::SourceControls&, std::vector<Event2D>&) override {}
    bool exhausted() const override { return true; }
};

}  // namespace

bool is_known_scene(const std::string& name) {
    return name == "default" || name == "noise" || name == "scripted";
}

const char* known_scenes_text() { return "'default', 'noise' or 'scripted'"; }

std::unique_ptr<camera::EventSource> make_scene(const std::string& name, std::uint16_t width,
                                                std::uint16_t height, double rate, std::uint64_t seed) {
    if (name == "default") return std::make_unique<DefaultScene>(width, height, rate, seed);
    if (name == "noise") return std::make_unique<NoiseScene>(width, height, rate, seed);
    if (name == "scripted") return std::make_unique<ScriptedScene>();
    return nullptr;
}

}  // namespace vantrel::sim
