#include "generate/copies.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "layout/lines.h"
#include "test_support.h"

namespace quarvel {
namespace {

Copy_settings settings_for(const std::string& name, std::vector<std::string> keys = {}, std::int32_t x_shift = 0,
                          std::int32_t y_shift = 0) {
    Copy_settings s;
    s.meter_name = name;
    s.parameter_keys = std::move(keys);
    s.x_shift = x_shift;
    s.y_shift = y_shift;
    return s;
}

// What copy `k` writes for `line`, the only line of a target block.
std::string copy_of(const std::string& line, const Copy_settings& s, std::int32_t k, std::uint32_t target_number = 0,
                    std::uint32_t highest_number = 0) {
    Scan_results r;
    r.target = {0, end_of_lines(line)};
    r.target_number = target_number;
    r.highest_number = highest_number;
    test::Memory_sink out;
    Tidy_writer writer = start_tidy_writer(out.sink);
    write_copy(writer, plan_copy_template(line, r, s), k);
    finish_tidy_writer(writer);  // adds nothing: the filter saw no line
    return out.bytes;
}

TEST(CopyRules, RewriteEachKindOfLine) {
    // Copy 2 of target meter 3, highest meter 10: new number 12, x + 100, y - 20.
    const Copy_settings s = settings_for("CPU1", {"Core", "Left", "Name"}, 50, -10);
    const struct {
        const char* line;
        const char* written;
    } cases[] = {
        {"[Meter 3]", "[Meter 12]"},
        {"[Source 3]", "[Source 12]"},
        {"[Output 3]", "[Output 12]"},
        {"[InputController 3]", "[InputController 12]"},
        {"[Source 5]", "[Source 5]"},            // not a header of the target
        {"[Output 7]", "[Output 12]"},           // any Output header takes the number
        {"[Output 3.2]", "[Output 12.2]"},       // only the first run of digits
        {"[OutputFormat]", "[OutputFormat]"},
        {"[InputController x9y]", "[InputController x12y]"},
        {"[Meter  3]", "[Meter  3]"},            // not written in the formatted form
        {"[Meter 03]", "[Meter 03]"},
        {"[Meter 3] ", "[Meter 3] "},
        {"Name=CPU1", "Name=CPU3"},
        {"Name=CPU1 ", "Name=CPU3 "},            // not the target's name: a parameter
        {"Left=10", "Left=110"},                 // a position, even as a parameter key
        {"Right= 40 px", "Right=140"},
        {"Top=0", "Top=-20"},
        {"Bottom=abc", "Bottom=abc"},            // no value: unchanged
        {"Left=99999999999", "Left=99999999999"},
        {" Left=10", " Left=10"},
        {"Core=1", "Core=3"},
        {"Coreless=1", "Coreless=1"},
        {"Width=5", "Width=5"},
    };
    for (const auto& c : cases) EXPECT_EQ(copy_of(c.line, s, 2, 3, 10), std::string(c.written) + "\r\n") << c.line;
}

TEST(CopyRules, NameNumbers) {
    const struct {
        const char* name;
        std::int32_t k;
        const char* written;
    } cases[] = {
        {"CPU1", 2, "Name=CPU3"},
        {"Disk 1 free", 2, "Name=Disk 3 free"},
        {"5", 2, "Name=7"},
        {"Core", 1, "Name=Core1"},
        {"", 1, "Name=1"},
        {"a=b7", 1, "Name=a=b8"},
        {"CPU-1", 1, "Name=CPU-2"},
        {"CPU2147483647", 1, "Name=CPU-2147483648"},  // wraps
        {"CPU99999999999", 1, "Name=CPU99999999999"},  // does not fit: unchanged
    };
    for (const auto& c : cases) {
        EXPECT_EQ(copy_of(std::string("Name=") + c.name, settings_for(c.name), c.k), std::string(c.written) + "\r\n")
            << c.name;
    }
}

TEST(CopyRules, NumbersWrapAt32Bits) {
    EXPECT_EQ(copy_of("Left=2147483647", settings_for("A", {}, 1, 0), 1), "Left=-2147483648\r\n");
    EXPECT_EQ(copy_of("Top=-2147483648", settings_for("A", {}, 0, -1), 1), "Top=2147483647\r\n");
    EXPECT_EQ(copy_of("Left=0", settings_for("A", {}, 65536, 0), 65536), "Left=0\r\n");  // k x shift wraps
    EXPECT_EQ(copy_of("[Meter 4294967295]", settings_for("A"), 1, 4294967295u, 4294967295u), "[Meter 0]\r\n");
    EXPECT_EQ(copy_of("[Meter -1]", settings_for("A"), 1, 4294967295u, 4294967295u), "[Meter -1]\r\n");
    EXPECT_EQ(copy_of("[Meter 7]", settings_for("A"), 1, 7, 2147483647u), "[Meter -2147483648]\r\n");
}

TEST(CopyRules, ParameterValuesWorkedExamples) {
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
        {"V=0.1", 1, "V=1.1"},         // 1.10000002 in single precision
        {"V=1", 16777215, "V=1.67772e+07"},  // 16777216 + 1 rounds to 16777216
        {"V=9", 999991, "V=1e+06"},    // exponent form, two exponent digits
        {"V=0", 16777217, "V=1.67772e+07"},
        {"V=0.1", 2147483647, "V=2.14748e+09"},
        {"=7", 1, "=8"},               // an empty key
        {"K=x\xff" "1", 1, "K=x\xff" "2"},
    };
    for (const auto& c : cases) {
        const std::string line = c.line;
        const Copy_settings s = settings_for("A", {line.substr(0, line.find('='))});
        EXPECT_EQ(copy_of(line, s, c.k), std::string(c.written) + "\r\n") << c.line << " k=" << c.k;
    }
    EXPECT_EQ(copy_of(std::string("K=1\0" "2", 6), settings_for("A", {"K"}), 1), std::string("K=2\0" "3\0\r\n", 8));
    // A key given twice writes the line twice.
    EXPECT_EQ(copy_of("Core=1", settings_for("A", {"Core", "X", "Core"}), 1), "Core=2\r\nCore=2\r\n");
}

// The advancing rule written out plainly: every match of the value pattern in
// the value gets + k in single precision, written as an output stream writes
// a float.
std::string advanced_plainly(const std::string& line, std::int32_t k) {
    static const std::regex pattern("[0-9](?:\\.[0-9]+)?", std::regex::ECMAScript);
    const std::size_t value_start = line.find('=') + 1;
    std::ostringstream out;
    out << line.substr(0, value_start);
    std::string rest = line.substr(value_start);
    std::smatch match;
    while (std::regex_search(rest, match, pattern)) {
        out << match.prefix() << static_cast<float>(std::stof(match.str()) + static_cast<float>(k));
        rest = match.suffix();
    }
    out << rest << "\r\n";
    return out.str();
}

TEST(CopyRules, ParameterLinesAgreeWithThePlainRule) {
    std::mt19937 rng(11);
    static const char alphabet[] = "0123456789..ab-=e ";
    std::uniform_int_distribution<int> length(0, 14);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    const std::int32_t ks[] = {1, 2, 9, 10, 99999, 999991, 16777215, 16777217, INT_MAX};
    const Copy_settings s = settings_for("A", {"K"});
    for (int i = 0; i < 3000; ++i) {
        std::string line = "K=";
        for (int n = length(rng); n > 0; --n) line += alphabet[pick(rng)];
        for (const std::int32_t k : ks) ASSERT_EQ(copy_of(line, s, k), advanced_plainly(line, k)) << line << " k=" << k;
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
    Copy_settings s = settings_for("Disk 1 free", {"A", "B", "A"}, 40, -5);
    s.copies = 3;
    Scan_results r;
    r.target = {0, end_of_lines(text)};
    r.target_number = 4;
    r.highest_number = 9;
    test::Memory_sink out;
    Tidy_writer writer = start_tidy_writer(out.sink);
    write_copies(writer, text, r, s);
    finish_tidy_writer(writer);
    std::string expected;
    for (int k = 1; k <= 3; ++k) {
        const std::string n = std::to_string(9 + k);
        const std::string a = "A=" + std::to_string(1 + k) + " and " + std::to_string(2 + k) + "\r\n";
        expected += "[Meter " + n + "]\r\n\r\nName=Disk " + std::to_string(1 + k) + " free\r\n" +
                    "Left=" + std::to_string(10 + 40 * k) + "\r\nTop=" + std::to_string(5 - 5 * k) +
                    "\r\n\r\n" + a + a + "B=" + std::to_string(2 + k) + ".5/" + std::to_string(9 + k) +
                    "\r\n[Output " + n + ".1]\r\nA=\r\nA=\r\n\r\n";  // the block's last, empty line
    }
    EXPECT_EQ(out.bytes, expected);
}

}  // namespace
}  // namespace quarvel
