#include "layout/lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

std::vector<std::string> all_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < end_of_lines(text)) lines.emplace_back(next_line(text, pos));
    return lines;
}

TEST(WholeFileReader, SplitsLinesByTheLineEndRules) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a\r\n", {"a", ""}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b", ""}},
        {"\n\n", {"", "", ""}},
        {"a\rb\r\n", {"a\rb", ""}},            // a lone CR is ordinary
        {"a\r\r\n", {"a\r", ""}},              // only the CR right before LF goes
        {"a\r", {"a\r"}},                      // no LF: the CR stays
        {"\r\n", {"", ""}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3), ""}},
        {"\xff\xfe\n", {"\xff\xfe", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(all_lines(c.text), c.lines) << c.text;
}

TEST(TextTests, AreExactAndCaseSensitive) {
    EXPECT_TRUE(begins_with("Left=5", "Left="));
    EXPECT_FALSE(begins_with(" Left=5", "Left="));
    EXPECT_FALSE(begins_with("left=5", "Left="));
    EXPECT_FALSE(begins_with("Left", "Left="));
    EXPECT_TRUE(contains("Text=[Meter", "[Meter"));
    EXPECT_TRUE(contains("[MeterStyle]", "[Meter"));
    EXPECT_FALSE(contains("[meter 1]", "[Meter"));
    EXPECT_TRUE(equals("[PluginInfo]", "[PluginInfo]"));
    EXPECT_FALSE(equals("[PluginInfo] ", "[PluginInfo]"));
    EXPECT_FALSE(equals(std::string_view("Name=CPU1\0x", 11), "Name=CPU1"));
}

}  // namespace
}  // namespace quarvel
