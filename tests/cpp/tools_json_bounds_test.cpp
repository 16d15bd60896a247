#include <gtest/gtest.h>

#include <random>

#include "tools/json_bounds.hpp"

namespace vantrel::tools {
namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonBounds, ParsingRefusesNestingPastTheLimitWithoutRecursing) {
    nlohmann::json doc;
    EXPECT_FALSE(parse_bounded(nested(kMaxJsonDepth), doc));
    EXPECT_FALSE(too_deep(doc));
    for (const std::string& text : {nested(kMaxJsonDepth + 1), "{\"format\": " + nested(1'000'000) + "}"}) {
        const auto why = parse_bounded(text, doc);
        ASSERT_TRUE(why);
        EXPECT_EQ(*why, "the document is nested deeper than 64 levels");
    }
    const auto why = parse_bounded("{\"a\": ", doc);
    ASSERT_TRUE(why);
    EXPECT_EQ(why->rfind("malformed JSON: [json.exception.parse_error.101]", 0), 0u);
}

// A random document of every kind of value, at most `depth` levels deep.
nlohmann::json random_document(std::mt19937& rng, int depth) {
    switch (rng() % (depth > 0 ? 8 : 6)) {
        case 0: return nullptr;
        case 1: return static_cast<bool>(rng() % 2);
        case 2: return -static_cast<std::int64_t>(rng());
        case 3: return std::uint64_t{rng()} << 33;
        case 4: return static_cast<double>(rng()) / 7.0;
        case 5: return std::string("t\"\\\n\xc3\xa9") + std::to_string(rng() % 10);
        case 6: {
            nlohmann::json object = nlohmann::json::object();
            for (unsigned i = rng() % 4; i > 0; --i) object["k" + std::to_string(rng() % 6)] = random_document(rng, depth - 1);
            return object;
        }
        default: {
            nlohmann::json array = nlohmann::json::array();
            for (unsigned i = rng() % 4; i > 0; --i) array.push_back(random_document(rng, depth - 1));
            return array;
        }
    }
}

TEST(JsonBounds, CompactTextIsTheLibrarysCompactDumpWithoutItsRecursion) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        const nlohmann::json doc = random_document(rng, 5);
        EXPECT_EQ(compact_text(doc), doc.dump()) << doc.dump();
    }
    EXPECT_EQ(compact_text(nlohmann::json::parse(R"({"b":[1,{"c":"\u00e9"}],"a":{}})")),
              R"({"a":{},"b":[1,{"c":"é"}]})");
    // Invalid UTF-8 (names given as raw bytes) is replaced, not thrown over.
    EXPECT_EQ(compact_text(nlohmann::json{{"\xff", 1}}), "{\"\xef\xbf\xbd\":1}");

    nlohmann::json huge = nlohmann::json::parse(nested(200'000));  // the parser does not recurse either
    EXPECT_TRUE(too_deep(huge));
    EXPECT_EQ(compact_text(huge).size(), 400'000u);
    EXPECT_EQ(compact_text(huge, 10), "[[[[[[[[[[...");
}

}  // namespace
}  // namespace vantrel::tools
