#include "generate/advance.h"

#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(AdvanceParameter, WholeNumbersAreWrittenAsTheGeneralNotationWritesThem) {
    // put_float writes whole numbers below a million the integer way; compare
    // with the general notation itself on both sides of every power of ten.
    const auto general = [](float value) {
        char text[64];
        return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr);
    };
    std::vector<float> values = {0.0f, -0.0f, 0.5f, 999999.5f, 1e6f, 1e6f + 1, -1.0f, -999999.0f};
    for (float power = 1; power <= 1e7f; power *= 10) {
        for (float delta = -3; delta <= 3; ++delta) values.push_back(power + delta);
    }
    for (int i = 0; i < 1100000; i += 997) values.push_back(static_cast<float>(i));
    for (const float value : values) {
        char text[float_text_limit];
        EXPECT_EQ(std::string(text, put_float(text, value)), general(value)) << value;
    }
}

TEST(AdvanceParameter, MatcherAgreesWithTheRegularExpression) {
    const std::regex pattern("[0-9](?:\\.[0-9]+)?", std::regex::ECMAScript);
    std::mt19937 rng(7);
    static const char alphabet[] = "0123456789..ab-=";
    std::uniform_int_distribution<int> length(0, 10);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    for (int i = 0; i < 100000; ++i) {
        std::string text;
        for (int n = length(rng); n > 0; --n) text += alphabet[pick(rng)];
        std::smatch match;
        const bool expected = std::regex_search(text, match, pattern);
        std::size_t begin = 0;
        std::size_t end = 0;
        ASSERT_EQ(find_value_number(text, begin, end), expected) << text;
        if (expected) {
            ASSERT_EQ(begin, static_cast<std::size_t>(match.position(0))) << text;
            ASSERT_EQ(end - begin, static_cast<std::size_t>(match.length(0))) << text;
        }
    }
}

}  // namespace
}  // namespace quarvel
