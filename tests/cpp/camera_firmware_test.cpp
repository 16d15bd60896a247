#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/firmware_image.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim::firmware {
namespace {

std::vector<std::uint8_t> sample(const std::string& version = "2.1.0") {
    return build_image(version, std::vector<std::uint8_t>(100, 0xAB));
}

TEST(FirmwareImage, Crc32MatchesTheStandardCheckValue) {
    const std::string text = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0xCBF43926u);
}

TEST(FirmwareImage, AValidImageParses) {
    const auto image = sample();
    ASSERT_EQ(image.size(), kHeaderSize + 5 + 100 + kTrailerSize);
    const auto parsed = parse_image(image.data(), image.size());
    EXPECT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.version, "2.1.0");
}

TEST(FirmwareImage, EveryTruncationIsRefused) {
    const auto image = sample();
    for (std::size_t size = 0; size < image.size(); ++size) {
        const auto parsed = parse_image(image.data(), size);
        EXPECT_FALSE(parsed.ok) << size;
        EXPECT_NE(parsed.error.find("truncated"), std::string::npos) << size << ": " << parsed.error;
    }
}

TEST(FirmwareImage, EveryFlippedBitIsRefused) {
    const auto image = sample();
    for (std::size_t i = 0; i < image.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            auto corrupt = image;
            corrupt[i] ^= static_cast<std::uint8_t>(1 << bit);
            EXPECT_FALSE(parse_image(corrupt.data(), corrupt.size()).ok) << i << "/" << bit;
        }
    }
}

TEST(FirmwareImage, WrongMagicTrailingBytesAndFormatVersionAreNamed) {
    auto image = sample();
    auto other = image;
    other[0] = 'X';
    EXPECT_NE(parse_image(other.data(), other.size()).error.find("magic"), std::string::npos);
    other = image;
    other.push_back(0);
    EXPECT_NE(parse_image(other.data(), other.size()).error.find("after its end"), std::string::npos);
    other = image;
    other[8] = 2;
    EXPECT_NE(parse_image(other.data(), other.size()).error.find("format version 2"), std::string::npos);
}

TEST(FirmwareImage, VersionTextRules) {
    EXPECT_FALSE(check_version_text("").empty());
    EXPECT_FALSE(check_version_text(std::string(65, 'a')).empty());
    EXPECT_FALSE(check_version_text("1.0\n").empty());
    EXPECT_TRUE(check_version_text(std::string(64, 'a')).empty());
    EXPECT_TRUE(check_version_text("v2.0-β").empty());
}

TEST(FirmwareImage, WrittenFilesAreAccepted) {
    const std::string path = ::testing::TempDir() + "firmware_test.img";
    writeFirmwareImage(path, "9.9.9");
    const auto parsed = read_image_file(path);
    EXPECT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.version, "9.9.9");
    std::remove(path.c_str());
    EXPECT_NE(read_image_file(path).error.find("cannot open"), std::string::npos);
    EXPECT_THROW(writeFirmwareImage(path, ""), std::invalid_argument);
    EXPECT_THROW(writeFirmwareImage("/nonexistent-dir/x.img", "1.0"), std::runtime_error);
}

}  // namespace
}  // namespace vantrel::sim::firmware
