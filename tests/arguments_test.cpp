#include "app/arguments.h"

#include <gtest/gtest.h>

#include <sstream>

#include <string>
#include <vector>

#include "app/report.h"
#include "test_support.h"

namespace quarvel {
namespace {

const std::string usage =
    "Usage: Quarvel <in> <out> <meter> <copies> <xshift> <yshift> <param1> [<param2>]...\n"
    "Use quotes around any argument that contains spaces.\n";

TEST(Arguments, ErrorsEchoLinesAndUsageText) {
    test::Scratch_dir dir;
    const std::string in = "in.ini";
    test::write_bytes(dir.file(in), "[Meter 1]\r\nName=A\r\n");
    const std::string echo = "In: " + in + "\nOut: o.ini\nMeter name: A\n";
    const struct {
        std::vector<std::string> args;
        std::string console;
    } cases[] = {
        {{}, "ERROR: Too few arguments\n" + usage},
        {{in, "o.ini", "A", "1", "2"}, "ERROR: Too few arguments\n" + usage},
        {{"missing.ini", "o.ini", "A", "1", "2", "3"}, "ERROR: Can't open file: missing.ini\n" + usage},
        {{"", "o.ini", "A", "1", "2", "3"}, "ERROR: Can't open file: \n" + usage},
        {{in, "o.ini", "A", "x", "2", "3"}, echo + "ERROR: <copies> must be a digit: x\n" + usage},
        {{in, "o.ini", "A", "", "2", "3"}, echo + "ERROR: <copies> must be a digit: \n" + usage},
        {{in, "o.ini", "A", "+1", "2", "3"}, echo + "ERROR: <copies> must be a digit: +1\n" + usage},
        {{in, "o.ini", "A", " 1", "2", "3"}, echo + "ERROR: <copies> must be a digit:  1\n" + usage},
        {{in, "o.ini", "A", "99999999999", "2", "3"},
         echo + "ERROR: <copies> must be a digit: 99999999999\n" + usage},
        {{in, "o.ini", "A", "1", "-4", "3"},
         echo + "Copies: 1\nERROR: <xshif>t  must be a digit: -4\n" + usage},
        {{in, "o.ini", "A", "1", "2147483648", "3"},
         echo + "Copies: 1\nERROR: <xshif>t  must be a digit: 2147483648\n" + usage},
        {{in, "o.ini", "A", "1", "2", "-3"},
         echo + "Copies: 1\nXshift: 2\nERROR: <yshift> must be a digit: -3\n" + usage},
    };
    for (const auto& c : cases) {
        const test::Run_result result = test::run_program(c.args, dir.path);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(test::console_text(result.console), c.console);
    }
    EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in.ini"});
}

TEST(Arguments, ValuesAndParameterKeys) {
    test::Scratch_dir dir;
    const std::string in = dir.file("in.ini");
    test::write_bytes(in, "");
    std::vector<std::string> args = {in, "out dir/o.ini", "My meter", "2abc", "0", "2147483647"};
    std::string expected =
        "In: " + in + "\nOut: out dir/o.ini\nMeter name: My meter\nCopies: 2\nXshift: 0\nYshift: 2147483647\n";
    for (int i = 0; i < 10; ++i) {
        args.push_back("Key" + std::to_string(i));
        expected += "params " + std::to_string(i) + ": Key" + std::to_string(i) + "\n";
    }
    const std::string long_key(200, 'k');
    args.push_back(long_key);
    expected += "params 10: " + long_key + "\n";

    std::ostringstream console;
    std::ostringstream errors;
    const auto settings = parse_arguments(args, console, errors);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(console.str(), expected);
    EXPECT_EQ(settings->copy.copies, 2);
    EXPECT_EQ(settings->copy.x_shift, 0);
    EXPECT_EQ(settings->copy.y_shift, 2147483647);
    ASSERT_EQ(settings->copy.parameter_keys.size(), 11u);
    EXPECT_EQ(settings->copy.parameter_keys[10], long_key);
}

TEST(Arguments, LeadingNumbers) {
    EXPECT_EQ(leading_number("0"), 0);
    EXPECT_EQ(leading_number("3x"), 3);
    EXPECT_EQ(leading_number("007"), 7);
    EXPECT_EQ(leading_number("2147483647"), 2147483647);
    EXPECT_FALSE(leading_number("2147483648").has_value());
    EXPECT_FALSE(leading_number("-1").has_value());
    EXPECT_FALSE(leading_number("").has_value());
}

// What standard error shows of a layout's or an argument's text.
TEST(Arguments, ErrorTextShownSafely) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"Name=CPU 1\tend", "Name=CPU 1\tend"},                     // tab stays
        {"a\x1b[2Jb\x07", "a\\x1B[2Jb\\x07"},                    // escape, bell
        {std::string("a\0b\r\n", 5), "a\\x00b\\x0D\\x0A"},   // NUL and line ends
        {"\x7f\x1f ", "\\x7F\\x1F "},                           // DEL, the last C0 control
        {"\xc2\x9b" "1m\xc2\x80\xc2\x9f\xc2\xa0", "\\xC2\\x9B1m\\xC2\\x80\\xC2\\x9F\xc2\xa0"},  // C1
        {"K\xc3\xa4n\xe6\x97\xa5\xf0\x9f\x8c\xa1", "K\xc3\xa4n\xe6\x97\xa5\xf0\x9f\x8c\xa1"},  // UTF-8 stays
        {"\x80\xff", "\\x80\\xFF"},                                // no lead, never UTF-8
        {"\xe6\x97", "\\xE6\\x97"},                                // cut short at the end
        {"\xe6" "A\xc0\xaf", "\\xE6A\\xC0\\xAF"},               // cut short, overlong
        {"\xed\xa0\x80\xf4\x90\x80\x80", "\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80"},  // surrogate, past U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(shown_safely(c.text), c.shown) << c.shown;
}

}  // namespace
}  // namespace quarvel
