#include "generate/output.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "layout/lines.h"
#include "test_support.h"

namespace quarvel {
namespace {

TEST(GenerateOutput, CopiesStandBeforeThePluginPart) {
    const std::string text =
        "[Settings]\nWidth=1\nHeight=1\n\n\n[Meter 0]\nName=T\nLeft=0\nRight=10\n\n[Meter 1]\nName=CPU1\n"
        "Left=10\nRight=40\nTop=0\nBottom=20\nCore=1\n\n\n[Meter 2]\nName=U\n[PluginInfo]\nA=1\n";
    Copy_settings s;
    s.meter_name = "CPU1";
    s.copies = 2;
    s.x_shift = 40;
    s.parameter_keys = {"Core"};
    const Scan_results r = scan_input(text, s.meter_name);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(generate_output(text, r, s, "\xEF\xBB\xBF"),
              test::crlf("\xEF\xBB\xBF[Settings]\nWidth=110\nHeight=20\n\n[Meter 0]\nName=T\nLeft=0\nRight=10\n\n"
                         "[Meter 1]\nName=CPU1\nLeft=10\nRight=40\nTop=0\nBottom=20\nCore=1\n\n"
                         "[Meter 2]\nName=U\n"
                         "[Meter 3]\nName=CPU2\nLeft=50\nRight=80\nTop=0\nBottom=20\nCore=2\n\n"
                         "[Meter 4]\nName=CPU3\nLeft=90\nRight=120\nTop=0\nBottom=20\nCore=3\n\n"
                         "[PluginInfo]\nA=1\n\n"));
}

TEST(GenerateOutput, LinesInTheirWrittenFormGoOutAsTheyStand) {
    // The fast path: only the lines the scan notes as unfinished are rebuilt.
    // The plain path: every line is rebuilt. Both must write the same bytes,
    // for texts with CR LF, bare LF, stray CR, blank runs, size lines and no
    // final line end, and in UTF-16 too.
    std::mt19937 rng(5);
    const std::string pieces[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "a", "Width=9", "Left=3", "[Meter 1]",
                                  "[Meter 2]", "Name=A", "[PluginInfo]", "\r\r\n", "\xC3\xA4"};
    std::uniform_int_distribution<int> count(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    Copy_settings s;
    s.meter_name = "A";
    int found = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = count(rng); n > 0; --n) text += pieces[pick(rng)];
        s.copies = i % 3;
        Scan_results r = scan_input(text, s.meter_name);
        if (!r.found) continue;
        ++found;
        const Text_encoding encoding = i % 2 ? Text_encoding::bytes : Text_encoding::utf16_be;
        const std::string fast = generate_output(text, r, s, {}, encoding);
        r.unfinished = {{0, end_of_lines(text)}};
        ASSERT_EQ(fast, generate_output(text, r, s, {}, encoding)) << testing::PrintToString(text);
    }
    EXPECT_GT(found, 500);
}

}  // namespace
}  // namespace quarvel
