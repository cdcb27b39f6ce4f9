// Hostile and odd input, end to end: huge lines, NUL bytes, odd line ends,
// byte-order marks, invalid UTF-8, endless blank lines, numbers at the 32-bit
// limits and very long names. Each run gives a defined result, and a run that
// ends in an error leaves the layout (here also the output) untouched.
// Inputs are made at test time; none is kept in the repository.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace quarvel {
namespace {

struct Hostile_run {
    std::string input;
    std::vector<std::string> args;  // the output is always the input: nothing may be lost
    std::string console;
    int status = 0;
    std::string output;  // the file afterwards; for a failed run, the input
    bool non_utf8_arguments = false;  // a Windows command line cannot carry these
};

// Echo lines of the arguments; every number here is written plainly.
std::string echo(const std::vector<std::string>& args) {
    std::string text = "In: " + args[0] + "\nOut: " + args[1] + "\nMeter name: " + args[2] + "\nCopies: " + args[3] +
                       "\nXshift: " + args[4] + "\nYshift: " + args[5] + "\n";
    for (std::size_t i = 6; i < args.size(); ++i) text += "params " + std::to_string(i - 6) + ": " + args[i] + "\n";
    return text;
}

Hostile_run succeeds(std::string input, std::vector<std::string> args, const std::string& highest, std::string output) {
    Hostile_run run{std::move(input), std::move(args), "", 0, std::move(output)};
    run.console = echo(run.args) + "Found meter: " + run.args[2] + "\nTotal meters: " + highest + "\n\nDONE: " +
                  run.args[3] + " copies made.\n\n";
    return run;
}

Hostile_run not_found(std::string input) {
    Hostile_run run{std::move(input), {"in.ini", "in.ini", "A1", "1", "4", "0"}, "", 1, ""};
    run.output = run.input;
    run.console = echo(run.args) + "ERROR: Can't find meter: A1\n";
    return run;
}

const std::string nul(1, '\0');
const std::size_t fifty_megabytes = std::size_t{50} << 20;

std::string repeat(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

Hostile_run one_huge_line() { return not_found("Name=A1 " + std::string(fifty_megabytes, 'x')); }

Hostile_run huge_line_in_the_target() {
    const std::string x(fifty_megabytes, 'x');
    // A name without a digit: the new number goes where nothing was.
    return succeeds(test::crlf("[Meter 1]\nName=A\nLeft=0\nRight=4\nText=") + x + "\r\n",
                    {"in.ini", "in.ini", "A", "2", "4", "0"}, "1",
                    test::crlf("[Meter 1]\nName=A\nLeft=0\nRight=4\nText=") + x +
                        test::crlf("\n\n[Meter 2]\nName=A1\nLeft=4\nRight=8\nText=") + x +
                        test::crlf("\n\n[Meter 3]\nName=A2\nLeft=8\nRight=12\nText=") + x + "\r\n\r\n");
}

Hostile_run nul_bytes() {
    // "Name=A1" followed by a NUL is another name; the digits around a NUL in
    // a parameter value are advanced each on its own.
    return succeeds("[Meter 1]\r\nName=A1" + nul + "x\r\n[Meter 2]\r\nName=A1\r\nLeft=0\r\nRight=4\r\nCore=1" + nul +
                        "2\r\n",
                    {"in.ini", "in.ini", "A1", "1", "4", "0", "Core"}, "2",
                    "[Meter 1]\r\nName=A1" + nul + "x\r\n[Meter 2]\r\nName=A1\r\nLeft=0\r\nRight=4\r\nCore=1" + nul +
                        "2\r\n\r\n[Meter 3]\r\nName=A2\r\nLeft=4\r\nRight=8\r\nCore=2" + nul + "3\r\n\r\n");
}

Hostile_run only_carriage_returns() { return not_found(std::string(1000, '\r')); }

Hostile_run carriage_return_line_ends() {
    // Without a line feed the whole file is one line: a header, never a name line.
    return not_found("[Meter 1]\rName=A1\rLeft=0\rRight=4\r");
}

Hostile_run byte_order_mark() {
    // The mark is not part of the first line, so its Width= is the head's.
    return succeeds("\xEF\xBB\xBFWidth=1\r\n[Meter 1]\r\nName=A1\r\nLeft=0\r\nRight=4\r\n",
                    {"in.ini", "in.ini", "A1", "1", "4", "0"}, "1",
                    "\xEF\xBB\xBFWidth=8\r\n[Meter 1]\r\nName=A1\r\nLeft=0\r\nRight=4\r\n\r\n"
                    "[Meter 2]\r\nName=A2\r\nLeft=4\r\nRight=8\r\n\r\n");
}

Hostile_run invalid_utf8() {
    // Bytes that are not UTF-8 are kept as they are, in any line and value.
    return succeeds("\xFE[Meter 0]\r\nName=Q\r\n[Meter 1]\r\nName=C7\r\n\xC3(=\xFF\r\nLabel=\xC0\xAF" "9\r\n",
                    {"in.ini", "in.ini", "C7", "1", "0", "0", "Label"}, "1",
                    "\xFE[Meter 0]\r\nName=Q\r\n[Meter 1]\r\nName=C7\r\n\xC3(=\xFF\r\nLabel=\xC0\xAF" "9\r\n\r\n"
                    "[Meter 2]\r\nName=C8\r\n\xC3(=\xFF\r\nLabel=\xC0\xAF" "10\r\n\r\n");
}

Hostile_run invalid_utf8_in_the_meter_name() {
    // Bytes are matched and kept as they are; a name with no digit takes 0 + k.
    Hostile_run run = succeeds("[Meter 1]\r\nName=C\xFF\xC3(\r\nLabel=\xC0\xAF" "9\r\n",
                    {"in.ini", "in.ini", "C\xFF\xC3(", "2", "0", "0", "Label"}, "1",
                    "[Meter 1]\r\nName=C\xFF\xC3(\r\nLabel=\xC0\xAF" "9\r\n\r\n"
                    "[Meter 2]\r\nName=C\xFF\xC3(1\r\nLabel=\xC0\xAF" "10\r\n\r\n"
                    "[Meter 3]\r\nName=C\xFF\xC3(2\r\nLabel=\xC0\xAF" "11\r\n\r\n");
    run.non_utf8_arguments = true;
    return run;
}

Hostile_run only_empty_lines() { return not_found(repeat("\r\n", 100000)); }

Hostile_run empty_line_runs() {
    const std::string blanks = repeat("\r\n", 100000);
    return succeeds(blanks + "[Meter 1]\r\nName=A1\r\n" + blanks + "Left=0\r\nRight=4\r\n" + blanks,
                    {"in.ini", "in.ini", "A1", "1", "4", "0"}, "1",
                    test::crlf("[Meter 1]\nName=A1\n\nLeft=0\nRight=4\n\n[Meter 2]\nName=A2\n\nLeft=4\nRight=8\n\n"));
}

Hostile_run meter_number_beyond_32_bits() {
    // 4294967295 does not fit a signed 32-bit field: that header keeps the
    // number before it, so the highest stays 1.
    return succeeds(test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n[Meter 4294967295]\nName=B\n"),
                    {"in.ini", "in.ini", "A1", "1", "4", "0"}, "1",
                    test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n[Meter 4294967295]\nName=B\n\n"
                               "[Meter 2]\nName=A2\nLeft=4\nRight=8\n\n"));
}

Hostile_run meter_number_at_the_signed_limit() {
    // Highest + k goes past INT32_MAX and is written as signed decimal.
    return succeeds(test::crlf("[Meter 2147483647]\nName=A1\nLeft=0\nRight=4\n"),
                    {"in.ini", "in.ini", "A1", "2", "4", "0"}, "2147483647",
                    test::crlf("[Meter 2147483647]\nName=A1\nLeft=0\nRight=4\n\n"
                               "[Meter -2147483648]\nName=A2\nLeft=4\nRight=8\n\n"
                               "[Meter -2147483647]\nName=A3\nLeft=8\nRight=12\n\n"));
}

Hostile_run positions_at_the_32_bit_limits() {
    // Target width 2147483647 - (-2147483648) wraps to -1 and height to 1;
    // head Width = max(2 * 2147483647 - 1, -1) = max(-3, -1) in wrapping
    // arithmetic, Height = max(2 * 1 + 1, -10000 - 10000) (Top/Bottom keep
    // their sentinels here). A value past the limit is copied unchanged.
    return succeeds(test::crlf("Width=0\nHeight=0\n[Meter 1]\nName=A1\nLeft=-2147483648\nRight=2147483647\n"
                               "Top=2147483647\nBottom=-2147483648\nRight=2147483648\n"),
                    {"in.ini", "in.ini", "A1", "2", "2147483647", "1"}, "1",
                    test::crlf("Width=-1\nHeight=3\n[Meter 1]\nName=A1\nLeft=-2147483648\nRight=2147483647\n"
                               "Top=2147483647\nBottom=-2147483648\nRight=2147483648\n\n"
                               "[Meter 2]\nName=A2\nLeft=-1\nRight=-2\nTop=-2147483648\nBottom=-2147483647\n"
                               "Right=2147483648\n\n"
                               "[Meter 3]\nName=A3\nLeft=2147483646\nRight=2147483645\nTop=-2147483647\n"
                               "Bottom=-2147483646\nRight=2147483648\n\n"));
}

Hostile_run long_name_and_key() {
    const std::string name = std::string(10000, 'N') + "7";
    const std::string key(10000, 'K');
    return succeeds("[Meter 1]\r\nName=" + name + "\r\n" + key + "=1 and 2.5\r\n",
                    {"in.ini", "in.ini", name, "1", "0", "0", key}, "1",
                    "[Meter 1]\r\nName=" + name + "\r\n" + key + "=1 and 2.5\r\n\r\n[Meter 2]\r\nName=" +
                        std::string(10000, 'N') + "8\r\n" + key + "=2 and 3.5\r\n\r\n");
}

Hostile_run parameter_keys_on_a_256_kib_layout() {
    // From this size the input was once mapped, and unmapped before the key
    // warnings read it: a crash after the new file was in place.
    const std::string comments = repeat("; " + std::string(60, 'c') + "\r\n", 4096);
    const std::string meter = test::crlf("[Meter 1]\nName=A1\nCore=1\n");
    return succeeds(comments + meter, {"in.ini", "in.ini", "A1", "1", "0", "0", "Core", "Cor"}, "1",
                    comments + meter + test::crlf("\n[Meter 2]\nName=A2\nCore=2\n\n"));
}

struct Hostile_case {
    const char* name;
    Hostile_run (*make)();  // built when the test runs: some inputs are large
};

void PrintTo(const Hostile_case& c, std::ostream* os) { *os << c.name; }

class Hostile : public ::testing::TestWithParam<Hostile_case> {};

TEST_P(Hostile, GivesADefinedResultAndLosesNothing) {
    const Hostile_run run = GetParam().make();
#ifdef _WIN32
    if (run.non_utf8_arguments) GTEST_SKIP() << "the Windows command line is UTF-16: it cannot carry bytes that are not UTF-8";
#endif
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), run.input);
    test::Run_options options;  // room for the expected output, and no more
    options.file_size_limit = static_cast<std::int64_t>(run.output.size()) + (std::int64_t{4} << 20);
    const test::Run_result result = test::run_program(run.args, dir.path, options);
    EXPECT_EQ(result.status, run.status);
    EXPECT_TRUE(result.console == run.console) << "console:\n" << result.console.substr(0, 2000);
    // Compared without printing: a failure message of 150 MB helps no one.
    const std::string output = test::read_bytes(dir.file("in.ini"));
    EXPECT_EQ(output.size(), run.output.size());
    EXPECT_TRUE(output == run.output);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini"}));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Hostile,
    ::testing::Values(Hostile_case{"one_50_megabyte_line", one_huge_line},
                      Hostile_case{"a_50_megabyte_line_in_the_target", huge_line_in_the_target},
                      Hostile_case{"nul_bytes", nul_bytes},
                      Hostile_case{"only_carriage_returns", only_carriage_returns},
                      Hostile_case{"carriage_return_line_ends", carriage_return_line_ends},
                      Hostile_case{"utf8_byte_order_mark_before_width", byte_order_mark},
                      Hostile_case{"invalid_utf8", invalid_utf8},
                      Hostile_case{"invalid_utf8_in_the_meter_name", invalid_utf8_in_the_meter_name},
                      Hostile_case{"only_100000_empty_lines", only_empty_lines},
                      Hostile_case{"runs_of_100000_empty_lines", empty_line_runs},
                      Hostile_case{"meter_4294967295", meter_number_beyond_32_bits},
                      Hostile_case{"meter_2147483647", meter_number_at_the_signed_limit},
                      Hostile_case{"positions_at_the_32_bit_limits", positions_at_the_32_bit_limits},
                      Hostile_case{"name_and_key_of_10000_characters", long_name_and_key},
                      Hostile_case{"parameter_keys_on_a_256_kib_layout", parameter_keys_on_a_256_kib_layout}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarvel
