#include "generate/head_rewrite.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "test_support.h"

namespace quarvel {
namespace {

// The head block of `text` as written for `r` and `s`, with the tidy pass's closing blank line.
std::string written_head(const std::string& text, const Scan_results& r, const Copy_settings& s) {
    test::Memory_sink out;
    Tidy_writer writer = start_tidy_writer(out.sink);
    write_head_block(writer, text, r, s);
    finish_tidy_writer(writer);
    return out.bytes;
}

struct Head_case {
    std::int32_t min_left, max_right, target_width, copies, x_shift;
    std::int32_t expected_width;
};

TEST(HeadSizes, LargerOfLayoutAndRowOfCopies) {
    const Head_case cases[] = {
        {0, 180, 40, 3, 50, 190},   // the row of copies is wider
        {0, 180, 40, 3, 10, 180},   // never below the layout box
        {0, 10, 40, 5, 0, 40},      // no shift: the target's own width
        {10000, -10000, 7, 0, 0, 7},  // no positions at all: the sentinels
        {0, -5, 0, 2, INT32_MAX, -2},  // copies x shift wraps
        {INT32_MIN, INT32_MAX, 0, 0, 0, 0},  // the layout extent wraps to -1
    };
    const std::string text = "Width=0\r\n[Meter 1]\r\nName=A\r\n";
    for (const auto& c : cases) {
        Scan_results r = scan_input(text, "A");
        r.box.min_left = c.min_left;
        r.box.max_right = c.max_right;
        r.target_box.width = c.target_width;
        Copy_settings s;
        s.copies = c.copies;
        s.x_shift = c.x_shift;
        EXPECT_EQ(written_head(text, r, s), "Width=" + std::to_string(c.expected_width) + "\r\n\r\n")
            << c.max_right << " " << c.x_shift;
    }
}

TEST(HeadRewrite, RewritesEveryWidthAndHeightLineThroughTheTidyPass) {
    const std::string text =
        "\n[Settings]\nWidth=200\nWidth = 200\n\n\n\nHeight=\n [x]\r\nWidth=abc\r\n[Meter 1]\nName=A\n";
    Scan_results r = scan_input(text, "A");
    ASSERT_TRUE(r.found);
    r.box = {0, 180, 5, 25};
    r.target_box.width = 40;
    r.target_box.height = 3;
    Copy_settings s;
    s.copies = 3;
    s.x_shift = 50;
    s.y_shift = 1;
    EXPECT_EQ(written_head(text, r, s), "[Settings]\r\nWidth=190\r\nWidth = 200\r\n\r\nHeight=20\r\n [x]\r\nWidth=190\r\n\r\n");
}

}  // namespace
}  // namespace quarvel
