#include "generate/copies.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "generate/advance.h"
#include "generate/output.h"

namespace quarvel {
namespace {

Run_settings settings_for(const std::string& name, std::vector<std::string> keys = {}) {
    Run_settings s;
    s.meter_name = name;
    s.parameter_keys = std::move(keys);
    return s;
}

std::string rewrite(const std::string& line, const Copy_rules& rules, Copy_step step) {
    std::string out;
    rewrite_copy_line(line, rules, step, out);
    return out;
}

TEST(CopyRules, RewriteEachKindOfLine) {
    const Copy_rules rules = make_copy_rules(settings_for("CPU1", {"Core", "Left", "Name"}), 3);
    const Copy_step step{2, 100, -20, 12};
    const struct {
        const char* line;
        const char* written;
    } cases[] = {
        {"[Meter 3]", "[Meter 12]\n"},
        {"[Source 3]", "[Source 12]\n"},
        {"[Output 3]", "[Output 12]\n"},
        {"[InputController 3]", "[InputController 12]\n"},
        {"[Source 5]", "[Source 5]\n"},            // not a header of the target
        {"[Output 7]", "[Output 12]\n"},           // any Output header takes the number
        {"[Output 3.2]", "[Output 12.2]\n"},       // only the first run of digits
        {"[OutputFormat]", "[OutputFormat]\n"},
        {"[InputController x9y]", "[InputController x12y]\n"},
        {"[Meter  3]", "[Meter  3]\n"},            // not written in the formatted form
        {"[Meter 03]", "[Meter 03]\n"},
        {"[Meter 3] ", "[Meter 3] \n"},
        {"Name=CPU1", "Name=CPU3\n"},
        {"Name=CPU1 ", "Name=CPU3 \n"},            // not the target's name: a parameter
        {"Left=10", "Left=110\n"},                 // a position, even as a parameter key
        {"Right= 40 px", "Right=140\n"},
        {"Top=0", "Top=-20\n"},
        {"Bottom=abc", "Bottom=abc\n"},            // no value: unchanged
        {"Left=99999999999", "Left=99999999999\n"},
        {" Left=10", " Left=10\n"},
        {"Core=1", "Core=3\n"},
        {"Coreless=1", "Coreless=1\n"},
        {"Width=5", "Width=5\n"},
        {"", "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(rewrite(c.line, rules, step), c.written) << c.line;
}

TEST(CopyRules, AKeyGivenTwiceWritesTheLineTwice) {
    const Copy_rules rules = make_copy_rules(settings_for("A", {"Core", "X", "Core"}), 0);
    EXPECT_EQ(rewrite("Core=1", rules, {1, 0, 0, 5}), "Core=2\nCore=2\n");
}

TEST(CopyRules, NameNumbers) {
    const struct {
        const char* name;
        std::int32_t k;
        const char* written;
    } cases[] = {
        {"CPU1", 2, "Name=CPU3\n"},
        {"Disk 1 free", 2, "Name=Disk 3 free\n"},
        {"5", 2, "Name=7\n"},
        {"Core", 1, "Name=Core1\n"},
        {"", 1, "Name=1\n"},
        {"a=b7", 1, "Name=a=b8\n"},
        {"CPU-1", 1, "Name=CPU-2\n"},
        {"CPU2147483647", 1, "Name=CPU-2147483648\n"},  // wraps
        {"CPU99999999999", 1, "Name=CPU99999999999\n"},  // does not fit: unchanged
    };
    for (const auto& c : cases) {
        const Copy_rules rules = make_copy_rules(settings_for(c.name), 0);
        EXPECT_EQ(rewrite(std::string("Name=") + c.name, rules, {c.k, 0, 0, 1}), c.written) << c.name;
    }
}

TEST(CopyRules, PositionsWrapAt32Bits) {
    const Copy_rules rules = make_copy_rules(settings_for("A"), 0);
    EXPECT_EQ(rewrite("Left=2147483647", rules, {1, 1, 0, 1}), "Left=-2147483648\n");
    EXPECT_EQ(rewrite("Top=-2147483648", rules, {1, 0, -1, 1}), "Top=2147483647\n");
}

TEST(CopyRules, HeadersOfAWrappedNumber) {
    Run_settings s = settings_for("A");
    const Copy_rules rules = make_copy_rules(s, 4294967295u);
    EXPECT_EQ(rules.target_headers[0], "[Meter 4294967295]");
    EXPECT_EQ(rewrite("[Meter 4294967295]", rules, {1, 0, 0, 0}), "[Meter 0]\n");
    EXPECT_EQ(rewrite("[Meter -1]", rules, {1, 0, 0, 0}), "[Meter -1]\n");
}

TEST(CopyRules, ParameterLinesAgreeWithTheAdvancingRule) {
    // Copies take each parameter value apart once and format lone digits once
    // per copy; the result must be what the advancing rule writes for the line.
    const Copy_rules rules = make_copy_rules(settings_for("A", {"K"}), 0);
    std::mt19937 rng(11);
    static const char alphabet[] = "0123456789..ab-=e ";
    std::uniform_int_distribution<int> length(0, 14);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    const std::int32_t ks[] = {1, 2, 9, 10, 99999, 999991, 16777215, 16777217, INT_MAX};
    for (int i = 0; i < 20000; ++i) {
        std::string line = "K=";
        for (int n = length(rng); n > 0; --n) line += alphabet[pick(rng)];
        for (const std::int32_t k : ks) {
            std::string expected;
            advance_parameter_line(line, k, expected);
            ASSERT_EQ(rewrite(line, rules, {k, 0, 0, 1}), expected + "\n") << line << " k=" << k;
        }
    }
}

TEST(CopyRules, EveryCopyFormatsItsOwnNumbers) {
    // Lone digits shared by several lines, a fraction, a key given twice, the
    // name, positions and companions, over three copies: nothing may carry
    // over from one line or copy to the next.
    const std::string text =
        "[Meter 4]\n\n"
        "Name=Disk 1 free\nLeft=10 px\nTop=5\n\n\n"
        "A=1 and 2\nB=2.5/9\n[Output 4.1]\nA=\n";
    Run_settings s = settings_for("Disk 1 free", {"A", "B", "A"});
    s.copies = 3;
    s.x_shift = 40;
    s.y_shift = -5;
    Scan_results r;
    r.target = {0, end_of_lines(text)};
    r.target_number = 4;
    r.highest_number = 9;
    Tidy_writer writer = start_tidy_writer(nullptr);
    write_copies(writer, text, r, s);
    std::string expected;
    for (int k = 1; k <= 3; ++k) {
        const std::string n = std::to_string(9 + k);
        const std::string a = "A=" + std::to_string(1 + k) + " and " + std::to_string(2 + k) + "\r\n";
        expected += "[Meter " + n + "]\r\n\r\nName=Disk " + std::to_string(1 + k) + " free\r\n" +
                    "Left=" + std::to_string(10 + 40 * k) + "\r\nTop=" + std::to_string(5 - 5 * k) +
                    "\r\n\r\n" + a + a + "B=" + std::to_string(2 + k) + ".5/" + std::to_string(9 + k) +
                    "\r\n[Output " + n + ".1]\r\nA=\r\nA=\r\n\r\n";  // the block's last, empty line
    }
    EXPECT_EQ(writer.buffer, expected);
}

}  // namespace
}  // namespace quarvel
