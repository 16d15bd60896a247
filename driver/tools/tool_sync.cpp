#include "tools/tool_building.hpp"

namespace vantrel::tools {

namespace {

constexpr std::size_t kMaxSerialLength = 32;

std::optional<std::string> check_serial(const ParamValue& value) {
    const auto& text = std::get<std::string>(value);
    if (text.size() > kMaxSerialLength) {
        return "a serial has at most " + std::to_string(kMaxSerialLength) + " characters, got " +
               std::to_string(text.size());
    }
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7e) return std::string("a serial holds printable ASCII characters only");
    }
    return std::nullopt;
}

// The camera's role in a group of synchronised cameras.
struct SyncSettings {
    enum class Mode { Standalone, Primary, Secondary } mode;
    std::uint64_t offset_us;
    std::string primary_serial;
    // What the camera's clock starts from at the next start.
    std::uint64_t timeOffset() const { return mode == Mode::Secondary ? offset_us : 0; }
};

SyncSettings read_sync(const ParamValueMap& values) {
    const std::string& mode = text_of(values, "mode");
    SyncSettings settings{SyncSettings::Mode::Standalone,
                          static_cast<std::uint64_t>(int_of(values, "offset_us")),
                          text_of(values, "primary_serial")};
    if (mode == "primary") settings.mode = SyncSettings::Mode::Primary;
    if (mode == "secondary") settings.mode = SyncSettings::Mode::Secondary;
    return settings;
}

class SyncStage final : public ToolStage {
public:
    explicit SyncStage(std::shared_ptr<CameraTool> tool) : sync_(std::move(tool), &read_sync) {}
    std::uint64_t timeOffset() override {
        sync_.refresh();
        return sync_.get().timeOffset();
    }

private:
    WatchedSettings<SyncSettings> sync_;
};

std::unique_ptr<CameraToolCore> make_core(ToolInfo info, std::uint16_t, std::uint16_t) {
    std::vector<ParamSpec> params;
    params.push_back(enum_param("mode",
                                "standalone: own clock from 0; primary: own clock from 0, which secondaries "
                                "follow; secondary: clock follows the primary's, starting offset_us ahead "
                                "(takes effect at the next start)",
                                {"standalone", "primary", "secondary"}, "standalone"));
    params.push_back(int_param("offset_us",
                               "In secondary mode, the primary's clock reading when this camera starts: added "
                               "to every timestamp of the next stream",
                               "us", 0, 1000000000, 0));
    params.push_back(string_param("primary_serial",
                                  "Serial of the primary camera this camera follows (kept with the "
                                  "configuration; up to 32 printable ASCII characters)",
                                  "", check_serial));
    return std::make_unique<CameraToolCore>(std::move(info), std::move(params));
}

std::unique_ptr<ToolStage> make_stage(std::shared_ptr<CameraTool> tool, std::uint16_t, std::uint16_t) {
    return std::make_unique<SyncStage>(std::move(tool));
}

}  // namespace

const ToolDefinition& sync_tool() {
    static const ToolDefinition definition{"Role of the camera in a synchronised group and its time base",
                                           &make_core, &make_stage, 0};
    return definition;
}

}  // namespace vantrel::tools
