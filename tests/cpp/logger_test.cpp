#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log.hpp"
#include "log/log_line.hpp"
#include "vantrel/log_queue.hpp"
#include "vantrel/logger.hpp"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Points the logger at a fresh file and restores stderr and the level after.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantrel_logger_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        path_ = dir_ / "driver.log";
        ASSERT_TRUE(logger().setLogFile(path_.string()));
    }
    void TearDown() override {
        logger().setLogFile("");
        logger().setLogLevel(LogLevelType::LOG_WARNING);
        fs::remove_all(dir_);
    }
    static Logger& logger() { return Logger::Instance(); }

    fs::path dir_;
    fs::path path_;
};

TEST_F(LoggerTest, DefaultLevelIsWarningAndFilters) {
    EXPECT_EQ(logger().getLogLevel(), LogLevelType::LOG_WARNING);
    log::debug("hidden debug");
    log::info("hidden info");
    log::warning("shown warning");
    log::error("shown error");
    const auto lines = lines_of(read_file(path_));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" WARNING shown warning"), std::string::npos);
    EXPECT_NE(lines[1].find(" ERROR shown error"), std::string::npos);
}

TEST_F(LoggerTest, LevelOffSilencesAndDebugShowsAll) {
    logger().setLogLevel(LogLevelType::LOG_OFF);
    log::error("nothing");
    EXPECT_EQ(read_file(path_), "");
    logger().setLogLevel(LogLevelType::LOG_DEBUG);
    log::debug("now visible");
    EXPECT_NE(read_file(path_).find("DEBUG now visible"), std::string::npos);
}

TEST_F(LoggerTest, RefusesLevelsThatAreNotLevels) {
    logger().setLogLevel(LogLevelType::LOG_INFO);
    logger().setLogLevel(LogLevelType::LOG_INVALID);
    EXPECT_EQ(logger().getLogLevel(), LogLevelType::LOG_INFO);
    logger().setLogLevel(static_cast<LogLevelType>(-5));
    EXPECT_EQ(logger().getLogLevel(), LogLevelType::LOG_INFO);
    EXPECT_NE(read_file(path_).find("refusing log level LEVEL(-5)"), std::string::npos);
}

TEST_F(LoggerTest, FileIsAppendedAndKeptWhenTheNewOneCannotOpen) {
    log::warning("first");
    ASSERT_TRUE(logger().setLogFile(path_.string()));  // reopen: append, not truncate
    log::warning("second");
    EXPECT_FALSE(logger().setLogFile((dir_ / "missing" / "x.log").string()));
    log::warning("third");
    const auto lines = lines_of(read_file(path_));
    ASSERT_EQ(lines.size(), 4u);  // three messages and the explanation of the refusal
    EXPECT_NE(lines[0].find("first"), std::string::npos);
    EXPECT_NE(lines[1].find("second"), std::string::npos);
    EXPECT_NE(lines[2].find("cannot open log file"), std::string::npos);
    EXPECT_NE(lines[3].find("third"), std::string::npos);
}

TEST_F(LoggerTest, ConcurrentWritersNeverInterleaveLines) {
    constexpr int kThreads = 4;
    constexpr int kMessages = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kMessages; ++i) log::warning("thread ", t, " message ", i, " end");
        });
    }
    for (auto& thread : threads) thread.join();
    const auto lines = lines_of(read_file(path_));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kMessages));
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind(" end"), line.size() - 4) << line;
    }
}

TEST_F(LoggerTest, SinkTakesMessagesInsteadOfTheFileUntilRemoved) {
    std::vector<LogRecord> seen;
    logger().setSink([&](const LogRecord& record) { seen.push_back(record); });
    log::info("filtered out");
    log::warning("to the sink ", 42);
    logger().setSink({});
    log::warning("to the file again");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].level, LogLevelType::LOG_WARNING);
    EXPECT_EQ(seen[0].text, "to the sink 42");
    const auto age = std::chrono::system_clock::now() - seen[0].time;
    EXPECT_LT(age, std::chrono::seconds(5));
    const auto lines = lines_of(read_file(path_));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("to the file again"), std::string::npos);
}

TEST_F(LoggerTest, SinkRunsWithoutTheLoggersLock) {
    // A sink that calls back into the logger would deadlock if it ran under
    // the logger's lock.
    int calls = 0;
    logger().setSink([&](const LogRecord&) {
        ++calls;
        EXPECT_TRUE(logger().setLogFile(path_.string()));
        logger().setLogLevel(LogLevelType::LOG_WARNING);
    });
    log::error("reentrant");
    logger().setSink({});
    EXPECT_EQ(calls, 1);
}

TEST(LogQueue, KeepsOrderDropsTheOldestWhenFullAndCountsDrops) {
    LogQueue queue(3, 1 << 20);
    for (int i = 0; i < 5; ++i) {
        queue.push(LogRecord{LogLevelType::LOG_ERROR, {}, "line " + std::to_string(i)});
    }
    const auto records = queue.take(std::chrono::milliseconds(0));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].text, "line 2");
    EXPECT_EQ(records[2].text, "line 4");
    EXPECT_EQ(queue.dropped(), 2u);
    EXPECT_TRUE(queue.take(std::chrono::milliseconds(1)).empty());
}

TEST(LogQueue, BoundedByTextBytes) {
    LogQueue queue(1000, 100);
    for (int i = 0; i < 10; ++i) queue.push(LogRecord{LogLevelType::LOG_ERROR, {}, std::string(30, 'a' + i)});
    const auto records = queue.take(std::chrono::milliseconds(0));
    EXPECT_EQ(records.size(), 3u);  // 3 x 31 bytes fit in 100
    EXPECT_EQ(queue.dropped(), 7u);
    EXPECT_EQ(records.back().text[0], 'a' + 9);
}

TEST(LogQueue, TakeWaitsForTheFirstRecordFromAnotherThread) {
    auto queue = std::make_shared<LogQueue>(100, 1 << 20);
    Logger::Instance().setSink(LogQueue::sinkInto(queue));
    std::thread writer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log::error("from a driver thread");
    });
    const auto records = queue->take(std::chrono::seconds(10));
    writer.join();
    Logger::Instance().setSink({});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "from a driver thread");
}

TEST(LogLine, OneLineWithTimeLevelAndEscapedText) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::microseconds(1234567));
    const std::string line = log::format_line(when, LogLevelType::LOG_ERROR, "a\nb\tc");
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_NE(line.find(".234567 ERROR a\\nb\\x09c"), std::string::npos) << line;
}

}  // namespace
}  // namespace vantrel
