#include "layout/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>

namespace quarvel {
namespace {

TEST(ScanInt, ReadsLikePercentDWithinRange) {
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"42", 42},           {"  -7x", -7},        {"+3", 3},
        {"\t\r\v\f 9", 9},    {"", std::nullopt},   {"-", std::nullopt},
        {"- 5", std::nullopt}, {"abc", std::nullopt}, {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt}, {"99999999999999999999", std::nullopt},
        {"0000000000000000000012", 12}, {"12 34", 12},
        // Around nine digits, where plain digits stop being read the short way.
        {"999999999", 999999999}, {"123456789x", 123456789}, {"1234567890", 1234567890},
        {"0000000007", 7},        {"4294967296", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(scan_int(c.text), c.value) << c.text;
}

// Random short ASCII strings drawn from the characters that matter to the scans.
std::string random_text(std::mt19937& rng) {
    static const char alphabet[] = "0123456789 \t=-+[]aM.\r";
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string text;
    for (int i = length(rng); i > 0; --i) text += alphabet[pick(rng)];
    return text;
}

// Whether a "%d" conversion at the start of `text` stays in 32 bits, where
// the C library's result is defined.
bool fits(const std::string& text) {
    long long v = 0;
    return std::sscanf(text.c_str(), "%lld", &v) != 1 || (v >= INT_MIN && v <= INT_MAX);
}

TEST(FieldScans, AgreeWithTheCLibrary) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 200000; ++i) {
        const std::string text = random_text(rng);

        int value = 0;
        if (fits(text)) {
            const bool read = std::sscanf(text.c_str(), "%d", &value) == 1;
            const auto ours = scan_int(text);
            ASSERT_EQ(ours.has_value(), read) << '"' << text << '"';
            if (read) {
                ASSERT_EQ(*ours, value) << text;
            }
        }

        const std::size_t space = text.find(' ');
        if (space == std::string::npos || fits(text.substr(space))) {
            const bool read = std::sscanf(text.c_str(), "%*[^ ] %d", &value) == 1;
            const auto ours = scan_meter_number(text);
            ASSERT_EQ(ours.has_value(), read) << '"' << text << '"';
            if (read) {
                ASSERT_EQ(*ours, value) << text;
            }
        }

        const auto parts = scan_prefixed_number(text);
        char prefix[64] = {};
        const int got = std::sscanf(text.c_str(), "%63[^0123456789]%d", prefix, &value);
        if (got >= 1) {
            ASSERT_EQ(parts.prefix, prefix) << text;
        } else {
            ASSERT_TRUE(parts.prefix.empty()) << text;
        }
        if (got == 2 && fits(text.substr(parts.prefix.size()))) {
            ASSERT_TRUE(parts.number.has_value()) << text;
            EXPECT_EQ(*parts.number, value) << text;
        }
    }
}

TEST(FieldScans, MeterNumbersOfHeaders) {
    const struct {
        const char* line;
        std::optional<std::int32_t> number;
    } cases[] = {
        {"[Meter 12]", 12},     {"[Meter12]", std::nullopt}, {" [Meter 3]", std::nullopt},
        {"[Meter  3]", 3},      {"[Meter -1]", -1},          {"[Meter 4294967295]", std::nullopt},
        {"[MeterStyle]", std::nullopt}, {"[Meter\t5]", std::nullopt}, {"[Meter 03]", 3},
        {"Text=[Meter", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(scan_meter_number(c.line), c.number) << c.line;
}

TEST(FieldScans, PrefixedNumbersKeepTheRest) {
    const auto disk = scan_prefixed_number("Disk 1 free");
    EXPECT_EQ(disk.prefix, "Disk ");
    EXPECT_EQ(disk.number, 1);
    EXPECT_EQ(disk.rest, " free");
    const auto bare = scan_prefixed_number("5");
    EXPECT_EQ(bare.prefix, "");
    EXPECT_EQ(bare.number, 5);
    const auto none = scan_prefixed_number("Core");
    EXPECT_EQ(none.prefix, "Core");
    EXPECT_FALSE(none.number.has_value());
    EXPECT_EQ(none.rest, "");
    const auto huge = scan_prefixed_number("CPU99999999999x");
    EXPECT_EQ(huge.prefix, "CPU");
    EXPECT_FALSE(huge.number.has_value());
}

TEST(WrappingArithmetic, WrapsAt32Bits) {
    EXPECT_EQ(wrap_add(INT32_MAX, 1), INT32_MIN);
    EXPECT_EQ(wrap_sub(INT32_MIN, 1), INT32_MAX);
    EXPECT_EQ(wrap_mul(65536, 65536), 0);
    EXPECT_EQ(wrap_mul(-3, 5), -15);
}

}  // namespace
}  // namespace quarvel
