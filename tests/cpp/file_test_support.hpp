#pragma once

// Shared helpers of the recording tests: scratch files, event generators,
// a log capture, and writing recordings with small blocks.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "file/recording_writer.hpp"
#include "vantrel/file_reader.hpp"
#include "vantrel/events.hpp"
#include "vantrel/logger.hpp"

namespace vantrel::file::testing {

namespace fs = std::filesystem;

// Events [from, to) of v, clamped to its end.
inline std::vector<Event2D> slice(const std::vector<Event2D>& v, std::size_t from, std::size_t to) {
    to = std::min(to, v.size());
    from = std::min(from, to);
    return {v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to)};
}

// Index of the first event at or after t in a non-decreasing stretch.
inline std::size_t first_index_at(const std::vector<Event2D>& v, std::uint64_t t) {
    std::size_t i = 0;
    while (i < v.size() && v[i].timestamp < t) ++i;
    return i;
}

inline bool same(const Event2D& a, const Event2D& b) {
    return a.timestamp == b.timestamp && a.x == b.x && a.y == b.y && a.polarity == b.polarity;
}

inline bool same(const std::vector<Event2D>& a, const std::vector<Event2D>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i])) return false;
    return true;
}

// A sensor-like stream: small non-decreasing steps, coordinates on the sensor.
inline std::vector<Event2D> stream_events(std::size_t n, std::uint64_t t0 = 1000,
                                          std::uint32_t seed = 1, std::uint16_t width = 640,
                                          std::uint16_t height = 480) {
    std::mt19937 rng(seed);
    std::vector<Event2D> v;
    std::uint64_t t = t0;
    for (std::size_t i = 0; i < n; ++i) {
        t += rng() % 4;
        v.emplace_back(static_cast<std::uint16_t>(rng() % width),
                       static_cast<std::uint16_t>(rng() % height),
                       static_cast<std::uint8_t>(rng() % 2), t);
    }
    return v;
}

// Every kind of event the packed word cannot hold, between ordinary ones.
inline std::vector<Event2D> awkward_events() {
    return {
        Event2D(65535, 65535, 255, 0xFFFFFFFFFFFFFFFFull),  // first event escaped
        Event2D(1, 2, 1, 5),                                 // time goes back
        Event2D(639, 479, 0, 5),
        Event2D(640, 0, 0, 6),       // x beyond the sensor
        Event2D(0, 480, 1, 7),       // y beyond the sensor
        Event2D(3, 3, 2, 8),         // polarity 2
        Event2D(3, 3, 1, 8 + 4094),  // largest plain delta
        Event2D(3, 3, 1, 8 + 4094 + 4095),  // escape delta itself
        Event2D(4, 4, 0, 1ull << 40),       // big gap
        Event2D(5, 5, 1, 1ull << 40),
        Event2D(0, 0, 0, 0),
    };
}

// A unique scratch folder, removed afterwards; captures the log into a file.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("vantrel_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        log_path_ = dir_ / "driver.log";
        Logger::Instance().setLogFile(log_path_.string());
        level_ = Logger::Instance().getLogLevel();
        Logger::Instance().setLogLevel(LogLevelType::LOG_WARNING);
    }
    void TearDown() override {
        Logger::Instance().setLogFile("");
        Logger::Instance().setLogLevel(level_);
        fs::remove_all(dir_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::unique_ptr<EvFileReader> open_reader(const std::string& p) {
        auto r = EvFileReader::createFileReader(p);
        EXPECT_TRUE(r);
        if (r) {
            EXPECT_TRUE(r->open());
        }
        return r;
    }

    std::string log_text() const {
        std::ifstream in(log_path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Writes events (and edges) with small blocks so tests cross many of them.
    std::string write(const std::string& name, const std::vector<Event2D>& events,
                      const std::vector<EventTriggerIn>& edges = {}, BlockLimits limits = {100, 8},
                      const RecordingInfo& info = {640, 480, "SER-1", 1234567}) {
        const std::string p = path(name);
        RecordingWriter w(limits);
        EXPECT_TRUE(w.open(p, info)) << w.error();
        EXPECT_TRUE(w.add(events.data(), events.size()));
        for (const auto& e : edges) EXPECT_TRUE(w.add(e));
        EXPECT_TRUE(w.finish()) << w.error();
        return p;
    }

    static std::string bytes_of(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void put_bytes(const std::string& p, const std::string& bytes) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    fs::path dir_;
    fs::path log_path_;
    LogLevelType level_ = LogLevelType::LOG_WARNING;
};

}  // namespace vantrel::file::testing
