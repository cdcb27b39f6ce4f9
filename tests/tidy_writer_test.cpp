#include "generate/tidy_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "layout/lines.h"
#include "test_support.h"

namespace quarvel {
namespace {

std::string filter_lines(const std::vector<std::string>& lines) {
    Blank_filter filter;
    std::string kept;
    for (const std::string& line : lines)
        if (keep_line(filter, line)) kept += line + "|";
    return kept;
}

TEST(BlankFilter, CollapsesAndTrims) {
    EXPECT_EQ(filter_lines({"", "", "a", "", "", "", "b", " ", "", "c", ""}), "a||b| ||c||");
    EXPECT_EQ(filter_lines({"", "", ""}), "");
}

// The tidy pass done the slow way: write the untidied text, read it back with
// the whole-file reader, filter, and write it again.
std::string tidy_by_rereading(const std::vector<std::string>& lines) {
    std::string written;
    for (const std::string& line : lines) written += line + "\r\n";
    std::string tidied;
    Blank_filter filter;
    std::size_t pos = 0;
    while (pos < end_of_lines(written)) {
        const std::string_view line = next_line(written, pos);
        if (keep_line(filter, line)) tidied += std::string(line) + "\r\n";
    }
    return tidied;
}

TEST(TidyWriter, MatchesWritingReadingBackAndRewriting) {
    std::mt19937 rng(99);
    const std::string pieces[] = {"", "", "", "a", " ", "\r", "b\rc", "[Meter 1]"};
    std::uniform_int_distribution<int> count(1, 12);
    std::uniform_int_distribution<std::size_t> pick(0, 7);
    for (int i = 0; i < 5000; ++i) {
        std::vector<std::string> lines;
        for (int n = count(rng); n > 0; --n) lines.push_back(pieces[pick(rng)]);
        test::Memory_sink out;
        Tidy_writer writer = start_tidy_writer(out.sink);
        for (const std::string& line : lines) write_line(writer, line);
        ASSERT_TRUE(finish_tidy_writer(writer));
        ASSERT_EQ(out.bytes, tidy_by_rereading(lines));
    }
}

// UTF-16 text long enough to be handed to the sink several times, and one
// line larger than the buffer.
TEST(TidyWriter, EncodesUtf16AcrossHandOvers) {
    const std::string wide_char = "\xE8\xA8\x88";  // U+8A08, 08 8A in UTF-16LE
    std::vector<std::string> lines = {"[Meter 1]", "", "", "Name=A1"};
    for (int i = 0; i < 3000; ++i) lines.push_back("Key=" + std::string(100, 'x') + wide_char);
    std::string huge;
    for (std::size_t i = 0; i < tidy_flush_size / 2; ++i) huge += wide_char;
    lines.push_back(huge);

    std::string expected("\xFF\xFE", 2);
    auto add = [&expected](const std::string& ascii_then_wide) {
        for (std::size_t i = 0; i < ascii_then_wide.size(); ++i) {
            if (ascii_then_wide.compare(i, 3, "\xE8\xA8\x88") == 0) {
                expected += "\x08\x8A";
                i += 2;
            } else {
                expected += ascii_then_wide[i];
                expected += '\0';
            }
        }
        expected += std::string("\r\0\n\0", 4);
    };
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (i != 2) add(lines[i]);  // two blank lines in a row become one
    add("");                        // the single blank line at the end

    test::Memory_sink out;
    Tidy_writer writer = start_tidy_writer(out.sink, "\xEF\xBB\xBF", Text_encoding::utf16_le);
    for (const std::string& line : lines) write_line(writer, line);
    ASSERT_TRUE(finish_tidy_writer(writer));
    EXPECT_GT(out.writes, 2);
    EXPECT_TRUE(out.bytes == expected);
}

TEST(TidyWriter, ASinkThatFailsFailsTheWriter) {
    int calls = 0;
    const Byte_sink refusing = [&calls](std::string_view) { return ++calls > 1; };
    Tidy_writer writer = start_tidy_writer(refusing);
    write_line(writer, std::string(tidy_flush_size, 'x'));  // the first hand-over fails
    write_line(writer, "y");
    EXPECT_FALSE(finish_tidy_writer(writer));
    EXPECT_EQ(calls, 1);  // nothing more is sent after a failure
}

}  // namespace
}  // namespace quarvel
