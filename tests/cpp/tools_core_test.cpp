#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tools/camera_tool_core.hpp"
#include "tools/tool_access.hpp"
#include "sim/tool_observer.hpp"
#include "tools/tool_set.hpp"
#include "vantrel/camera_tool.hpp"

namespace vantrel {
namespace {

using nlohmann::json;

std::shared_ptr<CameraTool> tool_of(const tools::ToolSet& set, ToolType type) {
    for (const auto& tool : set.tools) {
        if (tool->info().type == type) return tool;
    }
    return nullptr;
}

class ToolCoreTest : public ::testing::Test {
protected:
    tools::ToolSet set = tools::make_tool_set(
        std::vector<ToolType>(std::begin(kToolTypes), std::end(kToolTypes)),
        640, 480);
    std::shared_ptr<CameraTool> bias = tool_of(set, ToolType::TOOL_BIAS);
    std::shared_ptr<CameraTool> roi = tool_of(set, ToolType::TOOL_ROI);
    std::shared_ptr<CameraTool> sync = tool_of(set, ToolType::TOOL_SYNC);
    std::shared_ptr<CameraTool> flicker = tool_of(set, ToolType::TOOL_ANTI_FLICKER);
};

TEST_F(ToolCoreTest, CrossFieldRulesNameTheWrittenParameter) {
    // Moving the full-width window is refused: it would leave the sensor.
    ParamResult r = roi->set("x", 10);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.param, "x");
    EXPECT_NE(r.error.message.find("x + width must not exceed 640"), std::string::npos) << r.error.message;
    r = roi->set("height", 480);
    EXPECT_TRUE(r.ok);

    EXPECT_TRUE(roi->set("width", 100).ok);
    EXPECT_TRUE(roi->set("x", 540).ok);
    r = roi->set("width", 101);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.param, "width");

    r = flicker->set("low_frequency_hz", 200);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.param, "low_frequency_hz");
    EXPECT_TRUE(flicker->apply({{"low_frequency_hz", 200}, {"high_frequency_hz", 300}}).ok);
}

TEST_F(ToolCoreTest, ApplyIsAllOrNothing) {
    const std::uint64_t before = tools::core_of(*roi).version();
    ParamResult r = roi->apply({{"enabled", true}, {"x", 10}, {"width", 5000}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.param, "width");
    EXPECT_EQ(std::get<bool>(*roi->get("enabled")), false);
    EXPECT_EQ(std::get<int>(*roi->get("x")), 0);
    EXPECT_EQ(tools::core_of(*roi).version(), before);

    // Together the values fit, although x alone would not.
    r = roi->apply({{"enabled", true}, {"x", 600}, {"width", 40}});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(std::get<int>(*roi->get("x")), 600);
    EXPECT_GT(tools::core_of(*roi).version(), before);

    EXPECT_TRUE(roi->apply({}).ok);
}

TEST_F(ToolCoreTest, JsonRoundTripAndJudging) {
    json doc = bias->toJson();
    EXPECT_EQ(doc, json({{"gain", 1.0}, {"threshold_off", 0}, {"threshold_on", 0}}));

    EXPECT_TRUE(bias->fromJson(json{{"gain", 0.7}, {"threshold_on", -3}}).ok);
    doc = bias->toJson();
    EXPECT_EQ(doc["gain"].get<double>(), static_cast<double>(0.7f));
    EXPECT_EQ(doc["threshold_on"], -3);
    // What toJson gives, fromJson takes back unchanged.
    EXPECT_TRUE(bias->fromJson(doc).ok);
    EXPECT_EQ(bias->toJson(), doc);

    // Unsigned JSON integers (as files parse) count as integers.
    EXPECT_TRUE(bias->fromJson(json::parse(R"({"threshold_off": 7, "gain": 2})")).ok);
    EXPECT_EQ(std::get<float>(*bias->get("gain")), 2.0f);

    ParamResult r = bias->fromJson(json{{"threshold_on", 5}, {"threshold_off", 2.0}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.param, "threshold_off");
    EXPECT_EQ(r.error.message, "expects int, got JSON real");
    EXPECT_EQ(std::get<int>(*bias->get("threshold_on")), -3);  // nothing written

    r = bias->fromJson(json{{"threshold_on", 4294967296LL}});
    EXPECT_EQ(r.error.message, "value 4294967296 is outside the range -50..50");
    r = bias->fromJson(json{{"threshold_on", std::uint64_t{18446744073709551615ULL}}});
    EXPECT_EQ(r.error.message, "value 18446744073709551615 is outside the range -50..50");
    r = bias->fromJson(json{{"gain", nullptr}});
    EXPECT_EQ(r.error.message, "expects float, got JSON null");
    r = bias->fromJson(json{{"gain", 1e300}});
    EXPECT_EQ(r.error.message, "value inf is outside the range 0.5..2");
    r = bias->fromJson(json::array({1, 2}));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.param, "");
    EXPECT_EQ(r.error.message, "expects a JSON object of parameter names and values, got JSON array");
    r = bias->fromJson(json{{"bogus", 1}});
    EXPECT_EQ(r.error.param, "bogus");
}

TEST_F(ToolCoreTest, TheObservedJournalIsBoundedAndEndsWithForget) {
    auto& observer = sim::ToolObserver::instance();
    auto journal = std::make_shared<sim::ToolJournal>();
    observer.track(set, journal);
    observer.observe();
    for (std::size_t i = 0; i < sim::ToolJournal::kCapacity + 5; ++i) bias->set("gain", 1);
    bias->set("threshold_on", 1);
    roi->apply({{"x", 10}});
    auto writes = journal->entries();
    ASSERT_EQ(writes.size(), sim::ToolJournal::kCapacity);
    EXPECT_EQ(writes[writes.size() - 2].name, "threshold_on");
    EXPECT_EQ(writes.back().op, "apply");
    EXPECT_EQ(writes.back().tool, "roi");

    observer.overrideDocument(tools::core_of(*bias), json{{"stand", "in"}});
    EXPECT_EQ(bias->toJson(), (json{{"stand", "in"}}));
    EXPECT_EQ(bias->toJson().at("threshold_on"), 1);

    observer.forget(set);
    bias->set("threshold_on", 2);
    EXPECT_EQ(journal->entries().back().op, "apply");
}

TEST_F(ToolCoreTest, SnapshotsStayConsistentUnderConcurrentWrites) {
    // Writers keep x + width == 640; a reader must never see a torn pair.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; i = (i + 1) % 600) roi->apply({{"x", i}, {"width", 640 - i}});
    });
    std::uint64_t last = 0;
    int changes = 0;
    for (int n = 0; n < 20000; ++n) {
        const auto version = tools::core_of(*roi).version();
        if (version == last) continue;
        const auto snap = tools::core_of(*roi).snapshot();
        EXPECT_EQ(std::get<int>(snap.values.at("x")) + std::get<int>(snap.values.at("width")), 640);
        EXPECT_GE(snap.version, version);
        last = snap.version;
        ++changes;
    }
    stop = true;
    writer.join();
    EXPECT_GT(changes, 0);
}

TEST(ToolSetTest, BuildsTheRequestedToolsInOrder) {
    auto set = tools::make_tool_set({ToolType::TOOL_ROI, ToolType::TOOL_BIAS}, 32, 16);
    ASSERT_EQ(set.tools.size(), 2u);
    EXPECT_EQ(set.tools[0]->info().id, "roi");
    EXPECT_EQ(set.tools[1]->info().id, "bias");
    EXPECT_EQ(std::get<int>(*set.tools[0]->get("width")), 32);
    EXPECT_EQ(std::get<ParamConstraint::IntRange>(set.tools[0]->schema()[2].constraint.value).max, 15);
    EXPECT_THROW(tools::make_tool_set({ToolType::TOOL_ROI, ToolType::TOOL_ROI}, 32, 16), std::invalid_argument);
    EXPECT_TRUE(tools::make_tool_set({}, 32, 16).tools.empty());
}

}  // namespace
}  // namespace vantrel
