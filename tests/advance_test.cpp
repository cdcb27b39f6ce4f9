#include "generate/advance.h"

#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace quarvel {
namespace {

std::string advanced(const std::string& line, std::int32_t k) {
    std::string out;
    advance_parameter_line(line, k, out);
    return out;
}

TEST(AdvanceParameter, WorkedExamples) {
    const struct {
        const char* line;
        std::int32_t k;
        const char* written;
    } cases[] = {
        {"Core=0", 1, "Core=1"},
        {"Text=CPU 2 load", 1, "Text=CPU 3 load"},
        {"Drive=12", 1, "Drive=23"},  // each digit on its own
        {"Scale=1.5", 1, "Scale=2.5"},
        {"Scale=0.25", 1, "Scale=1.25"},
        {"Range=1-4", 1, "Range=2-5"},
        {"Ratio=1.2345678", 1, "Ratio=2.23457"},  // single precision, 6 digits
        {"Label=none", 1, "Label=none"},
        {"Expr=a=3", 1, "Expr=a=4"},  // the value is everything after the first "="
        {"Core=9", 3, "Core=12"},
        {"Key=", 1, "Key="},
        {"V=ver1.2.3", 1, "V=ver2.2.4"},
        {"V=-2", 1, "V=-3"},
        {"V=1.", 1, "V=2."},
        {"V=.5", 1, "V=.6"},
        {"V=9", 999991, "V=1e+06"},  // exponent form, two exponent digits
        {"V=0", 16777217, "V=1.67772e+07"},
        {"V=5", -7, "V=-2"},
        {"V=0.1", 2147483647, "V=2.14748e+09"},
        {"=7", 1, "=8"},
        {"K=x\xff" "1", 1, "K=x\xff" "2"},
    };
    for (const auto& c : cases) EXPECT_EQ(advanced(c.line, c.k), c.written) << c.line << " k=" << c.k;
    EXPECT_EQ(advanced(std::string("K=1\0" "2", 6), 1), std::string("K=2\0" "3", 6));
}

TEST(AdvanceParameter, SumsAreRoundedToSinglePrecision) {
    // 0.1f + 1 is 1.10000002384185791015625 in single precision.
    EXPECT_EQ(advanced("V=0.1", 1), "V=1.1");
    // 16777216 + 1 is not representable: the sum rounds to 16777216.
    EXPECT_EQ(advanced("V=1", 16777215), "V=1.67772e+07");
    std::string out;
    append_float(out, 16777217.0f);
    EXPECT_EQ(out, "1.67772e+07");
    out.clear();
    append_float(out, 100000.0f);
    EXPECT_EQ(out, "100000");
    out.clear();
    append_float(out, 0.0001f);
    EXPECT_EQ(out, "0.0001");
    out.clear();
    append_float(out, 0.00001f);
    EXPECT_EQ(out, "1e-05");
}

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
