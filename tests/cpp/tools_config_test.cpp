#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/camera_config_file.hpp"
#include "tools/camera_tool_core.hpp"
#include "tools/tool_set.hpp"

namespace vantrel::tools {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::vector<ToolType> kAll = {ToolType::TOOL_BIAS,
                                    ToolType::TOOL_TRIGGER_IN,
                                    ToolType::TOOL_SYNC,
                                    ToolType::TOOL_ANTI_FLICKER,
                                    ToolType::TOOL_EVENT_TRAIL_FILTER,
                                    ToolType::TOOL_EVENT_RATE_CONTROL,
                                    ToolType::TOOL_ROI};

json state_of(const ToolSet& set) {
    json all;
    for (const auto& tool : set.tools) all[tool->info().id] = tool->toJson();
    return all;
}

class CameraConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vantrel_config_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        camera.serial = "VTR-TEST-1";
        camera.product = "Test";
        camera.firmware_version = "1.0.0";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write_text(const std::string& name, const std::string& text) {
        const auto path = (dir / name).string();
        std::ofstream(path) << text;
        return path;
    }
    std::string exported(const ToolSet& from) {
        const auto path = (dir / "exported.json").string();
        EXPECT_FALSE(write_camera_config(path, make_camera_config(camera, from.tools)).has_value());
        return path;
    }

    fs::path dir;
    CameraDescription camera{};
    ToolSet set = make_tool_set(kAll, 640, 480);
};

TEST_F(CameraConfigTest, ExportThenImportIsAnIdentity) {
    ASSERT_TRUE(set.tools[0]->apply({{"threshold_on", -17}, {"gain", 0.1f * 7}}).ok);
    ASSERT_TRUE(set.tools[2]->apply({{"mode", std::string("secondary")}, {"primary_serial", std::string("P-1")}}).ok);
    ASSERT_TRUE(set.tools[6]->apply({{"enabled", true}, {"x", 3}, {"width", 600}}).ok);
    const json before = state_of(set);
    const auto path = exported(set);

    const json file = json::parse(std::ifstream(path));
    EXPECT_EQ(file["format"], "vantrel-camera-config");
    EXPECT_EQ(file["version"], 1);
    EXPECT_EQ(file["camera"]["serial"], "VTR-TEST-1");
    EXPECT_EQ(file["tools"].size(), 7u);

    // Onto a fresh set of tools: everything comes back bit for bit.
    ToolSet other = make_tool_set(kAll, 640, 480);
    EXPECT_FALSE(import_camera_config(path, "VTR-TEST-2", other.tools).has_value());
    EXPECT_EQ(state_of(other), before);
    EXPECT_EQ(std::get<float>(*other.tools[0]->get("gain")), 0.1f * 7);
    // And onto the same tools, nothing moves.
    EXPECT_FALSE(import_camera_config(path, "VTR-TEST-1", set.tools).has_value());
    EXPECT_EQ(state_of(set), before);
}

TEST_F(CameraConfigTest, EveryFailureNamesTheFaultAndChangesNothing) {
    const json good = json::parse(std::ifstream(exported(set)));
    ASSERT_TRUE(set.tools[0]->set("threshold_on", 9).ok);
    const json before = state_of(set);

    const auto failure = [&](const std::string& text) {
        const auto path = write_text("case.json", text);
        auto why = import_camera_config(path, camera.serial, set.tools);
        EXPECT_EQ(state_of(set), before) << text;
        return why.value_or("(accepted)");
    };
    const auto variant = [&](auto edit) {
        json doc = good;
        edit(doc);
        return failure(doc.dump());
    };

    EXPECT_EQ(import_camera_config((dir / "missing.json").string(), camera.serial, set.tools), "no such file");
    EXPECT_EQ(import_camera_config(dir.string(), camera.serial, set.tools), "is a directory, not a file");
    EXPECT_EQ(failure("{\"format\": ").rfind("malformed JSON: [json.exception.parse_error.101]", 0), 0u);
    EXPECT_EQ(failure("[1]"), "expected a JSON object at the top, got array");
    EXPECT_EQ(variant([](json& d) { d.erase("format"); }), "not a camera configuration: no \"format\" member");
    EXPECT_EQ(variant([](json& d) { d["version"] = 2; }), "unknown version 2 (this driver reads version 1)");
    EXPECT_EQ(variant([](json& d) { d["version"] = "1"; }), "unknown version \"1\" (this driver reads version 1)");
    EXPECT_EQ(variant([](json& d) { d["extra"] = 1; }), "unknown member 'extra' at the top");
    EXPECT_EQ(variant([](json& d) { d["tools"]["laser"] = json::object(); }),
              "unknown tool 'laser' (this camera has: bias, trigger_in, sync, anti_flicker, event_trail_filter, "
              "event_rate_control, roi)");
    EXPECT_EQ(variant([](json& d) { d["tools"]["roi"]["x"] = 700; }),
              "tool 'roi', parameter 'x': value 700 is outside the range 0..639");
    EXPECT_EQ(variant([](json& d) { d["tools"]["roi"]["x"] = 100; }),
              "tool 'roi', parameter 'x': window columns 100..739 reach outside the sensor (width 640): x + width "
              "must not exceed 640");
    EXPECT_EQ(variant([](json& d) { d["tools"]["sync"]["mode"] = "boss"; }),
              "tool 'sync', parameter 'mode': 'boss' is not one of: standalone, primary, secondary");
    EXPECT_EQ(variant([](json& d) { d["tools"]["bias"] = 3; }),
              "tool 'bias': expects a JSON object of parameter names and values, got JSON integer");
    // A bad value in the last tool keeps the earlier, valid tools unchanged too.
    EXPECT_EQ(variant([](json& d) {
                  d["tools"]["bias"]["threshold_on"] = -40;
                  d["tools"]["roi"]["enabled"] = 1;
              }),
              "tool 'roi', parameter 'enabled': expects bool, got JSON integer");
}

TEST_F(CameraConfigTest, PartialSectionsKeepTheOtherValues) {
    const auto path = write_text(
        "partial.json", R"({"format": "vantrel-camera-config", "version": 1, "tools": {"bias": {"gain": 2}}})");
    EXPECT_FALSE(import_camera_config(path, camera.serial, set.tools).has_value());
    EXPECT_EQ(std::get<float>(*set.tools[0]->get("gain")), 2.0f);
    EXPECT_EQ(std::get<int>(*set.tools[0]->get("threshold_on")), 0);
}

TEST_F(CameraConfigTest, AFailedExportLeavesTheOldFile) {
    const auto path = exported(set);
    const json old = json::parse(std::ifstream(path));
    auto why = write_camera_config((dir / "no_such_dir" / "c.json").string(), make_camera_config(camera, set.tools));
    ASSERT_TRUE(why.has_value());
    EXPECT_NE(why->find("No such file or directory"), std::string::npos) << *why;
    why = write_camera_config(dir.string(), make_camera_config(camera, set.tools));
    ASSERT_TRUE(why.has_value());
    EXPECT_EQ(json::parse(std::ifstream(path)), old);
    // No temporary files stay behind.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace vantrel::tools
