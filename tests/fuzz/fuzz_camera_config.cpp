// Camera configuration import: whatever the file holds, an import is all or
// nothing. A refused one changes no parameter; an accepted one sets what the
// file names and leaves the rest; exporting and importing back is a no-op.
#include <cstdint>
#include <map>
#include <string>

#include "fuzz_support.hpp"
#include "tools/camera_config_file.hpp"
#include "tools/camera_tool_core.hpp"
#include "tools/json_bounds.hpp"
#include "tools/param_judge.hpp"
#include "tools/tool_access.hpp"
#include "tools/tool_set.hpp"

using namespace vantrel;

namespace {

using State = std::map<std::string, ParamValueMap>;

State state_of(const tools::ToolSet& set) {
    State s;
    for (const auto& tool : set.tools) s[tools::core_of(*tool).info().id] = tools::core_of(*tool).snapshot().values;
    return s;
}

const tools::ToolSet& camera_tools() {
    static const tools::ToolSet set = tools::make_tool_set(
        std::vector<ToolType>(std::begin(kToolTypes), std::end(kToolTypes)),
        640, 480);
    return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_logging();
    const tools::ToolSet& set = camera_tools();
    const std::string path = fuzz::scratch_file("config.json");
    fuzz::put_file(path, std::string_view(reinterpret_cast<const char*>(data), size));

    const State before = state_of(set);
    const auto refused = tools::import_camera_config(path, "FUZZ", set.tools);
    const State after = state_of(set);
    if (refused) {
        FUZZ_CHECK(after == before, "a refused import changed parameters: %s", refused->c_str());
        return 0;
    }
    // Accepted: the file is a bounded JSON object; every parameter it names
    // holds the judged value, every other one is unchanged.
    nlohmann::json document;
    FUZZ_CHECK(!tools::parse_bounded(std::string(reinterpret_cast<const char*>(data), size), document),
               "accepted a file that does not parse");
    for (const auto& [id, values] : after) {
        const auto section = document["tools"].find(id);
        for (const auto& [name, value] : values) {
            if (section == document["tools"].end() || !section->contains(name)) {
                FUZZ_CHECK(before.at(id).at(name) == value, "%s.%s changed without being named", id.c_str(), name.c_str());
            }
        }
    }
    // Exported and imported back, nothing changes.
    const CameraDescription camera{"FUZZ", "P", "M", 1, 2, InterfaceType::USB, "1.0"};
    const std::string out = fuzz::scratch_file("export.json");
    FUZZ_CHECK(!tools::write_camera_config(out, tools::make_camera_config(camera, set.tools)), "export failed");
    const auto again = tools::import_camera_config(out, "FUZZ", set.tools);
    FUZZ_CHECK(!again, "its own export refused: %s", again->c_str());
    FUZZ_CHECK(state_of(set) == after, "export and import changed parameters");
    return 0;
}
