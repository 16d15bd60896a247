// The one way the driver opens named files: regular files only, never a
// wait on a FIFO, reads bounded, paths with NUL bytes refused.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "io/file_access.hpp"

namespace vantrel::io {
namespace {

namespace fs = std::filesystem;

class FileAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantrel_io_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    fs::path dir_;
};

TEST_F(FileAccessTest, ReadingTakesRegularFilesOnlyAndSaysWhyNot) {
    put("a", "hello");
    std::string text, error;
    ASSERT_TRUE(read_whole_file(path("a"), 5, text, error)) << error;
    EXPECT_EQ(text, "hello");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);

    const auto start = std::chrono::steady_clock::now();
    const std::pair<std::string, std::string> refused[] = {
        {path("missing"), "no such file"},
        {dir_.string(), "is a directory, not a file"},
        {path("fifo"), "is not a regular file (a FIFO)"},  // no writer: must not wait for one
        {"/dev/zero", "is not a regular file (a character device)"},
        {path("a") + std::string("\0b", 2), "the path holds a NUL byte (at position"},
    };
    for (const auto& [p, why] : refused) {
        EXPECT_FALSE(read_whole_file(p, 1 << 20, text, error)) << p;
        EXPECT_EQ(error.rfind(why, 0), 0u) << p << ": " << error;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(FileAccessTest, ReadsAreBoundedEvenWhenTheSizeIsNotKnownAhead) {
    put("six", "123456");
    std::string text, error;
    EXPECT_FALSE(read_whole_file(path("six"), 5, text, error));
    EXPECT_NE(error.find("is too large"), std::string::npos);
    ReadableFile file;
    EXPECT_FALSE(open_for_reading(path("six"), 5, file, error));
    ASSERT_TRUE(open_for_reading(path("six"), 6, file, error));
    EXPECT_EQ(file.size, 6u);
    // Files of /proc say they are empty and are not.
    ASSERT_TRUE(read_whole_file("/proc/self/status", 1 << 20, text, error)) << error;
    EXPECT_NE(text.find("Pid:"), std::string::npos);
    EXPECT_FALSE(read_whole_file("/proc/self/status", 10, text, error));
}

TEST_F(FileAccessTest, WritingRefusesSpecialFilesBeforeTouchingThem) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    FileDescriptor fd;
    FileIdentity id;
    std::string error;
    EXPECT_FALSE(create_for_writing(path("fifo"), false, fd, id, error));  // no reader: no wait
    EXPECT_EQ(error, "is not a regular file (a FIFO)");
    EXPECT_FALSE(create_for_writing("/dev/null", false, fd, id, error));
    EXPECT_EQ(error, "is not a regular file (a character device)");
    EXPECT_FALSE(create_for_writing(path("x") + std::string("\0y", 2), false, fd, id, error));
    EXPECT_FALSE(fs::exists(path("x")));

    put("old", "old content");
    ASSERT_TRUE(create_for_writing(path("old"), false, fd, id, error)) << error;
    EXPECT_EQ(fs::file_size(path("old")), 0u);
    EXPECT_FALSE(create_for_writing(path("old"), true, fd, id, error));  // exclusive
    fs::create_symlink(path("target"), path("link"));
    EXPECT_FALSE(create_for_writing(path("link"), true, fd, id, error));
    EXPECT_FALSE(fs::exists(path("target")));
}

TEST_F(FileAccessTest, RemovalSparesAFileThatReplacedOurs) {
    FileDescriptor fd;
    FileIdentity id;
    std::string error;
    ASSERT_TRUE(create_for_writing(path("out"), false, fd, id, error));
    fd.reset();
    fs::rename(path("out"), path("moved"));
    put("out", "someone else's");
    remove_if_same(path("out"), id);
    EXPECT_TRUE(fs::exists(path("out")));
    remove_if_same(path("moved"), id);
    EXPECT_FALSE(fs::exists(path("moved")));

    EXPECT_TRUE(write_new_file(path("w"), "bytes", false, error));
    std::string text;
    ASSERT_TRUE(read_whole_file(path("w"), 100, text, error));
    EXPECT_EQ(text, "bytes");
}

}  // namespace
}  // namespace vantrel::io
