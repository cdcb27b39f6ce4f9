#include "layout/scan.h"

#include <gtest/gtest.h>

#include <string>

#include "layout/lines.h"
#include "test_support.h"

namespace quarvel {
namespace {

struct Scanned {
    std::string text;
    Scan_results results;
    std::string head() const { return test::block_text(text, results.head); }
    std::string target() const { return test::block_text(text, results.target); }
    std::string trailing() const { return test::block_text(text, results.trailing); }
    std::string plugin() const { return test::block_text(text, results.plugin); }
};

Scanned scan(const std::string& text, const std::string& name) {
    Scanned s{text, {}};
    s.results = scan_input(s.text, name);
    return s;
}

const char* const road_layout =
    "[Settings]\nWidth=100\nHeight=20\n\n"
    "[Meter 0]\nName=Label\nLeft=0\nRight=10\nTop=0\nBottom=10\n\n"
    "[Meter 1]\nName=Clock\nLeft=12\nRight=20\n\n"
    "[Meter 2]\nName=CPU1\nLeft=10\nRight=40\nTop=0\nBottom=20\nCore=1\n\n"
    "[Meter 3]\nName=Disk\n\n[Meter 4]\nName=Net\n\n[Meter 5]\nName=Mem\nTop=-3\n\n"
    "[PluginInfo]\nAuthor=us\n";

TEST(Scan, CutsTheRoadOfOneRunIntoBlocks) {
    const Scanned s = scan(road_layout, "CPU1");
    ASSERT_TRUE(s.results.found);
    EXPECT_EQ(s.head(),
              "[Settings]\nWidth=100\nHeight=20\n\n[Meter 0]\nName=Label\nLeft=0\nRight=10\nTop=0\n"
              "Bottom=10\n\n[Meter 1]\nName=Clock\nLeft=12\nRight=20\n\n");
    EXPECT_EQ(s.target(), "[Meter 2]\nName=CPU1\nLeft=10\nRight=40\nTop=0\nBottom=20\nCore=1\n\n");
    EXPECT_EQ(s.trailing(), "[Meter 3]\nName=Disk\n\n[Meter 4]\nName=Net\n\n[Meter 5]\nName=Mem\nTop=-3\n\n");
    EXPECT_EQ(s.plugin(), "[PluginInfo]\nAuthor=us\n\n");  // with the end-of-file empty line
    EXPECT_EQ(s.results.target_number, 2u);
    EXPECT_EQ(s.results.highest_number, 5u);
    EXPECT_EQ(s.results.target_box.width, 30);
    EXPECT_EQ(s.results.target_box.height, 20);
    EXPECT_EQ(s.results.box.min_left, 0);
    EXPECT_EQ(s.results.box.max_right, 40);
    EXPECT_EQ(s.results.box.min_top, -3);
    EXPECT_EQ(s.results.box.max_bottom, 20);
}

TEST(Scan, BlocksPartitionTheLinesForOddLayouts) {
    const char* const layouts[] = {
        "", "\n", "[Meter 1]", "[Meter 1]\nName=A", "[Meter 1]\n[Meter 2]\nName=A\n",
        "[Meter 1]\n[MeterStyle]\nName=A\nx\n", "[Meter 1]\n[PluginInfo]\nName=A\n",
        "[PluginInfo]\n[Meter 1]\nName=A\n", "a\r\nb\nc\r\n[Meter 3]\r\nName=A\r\n\r\n",
        "[Meter 1]\nName=A\n[Meter 2]\nName=A\n[PluginInfo]\n[PluginInfo]\n",
    };
    for (const char* layout : layouts) {
        for (const char* name : {"A", "B"}) {
            const Scanned s = scan(layout, name);
            std::string joined = s.head() + s.target() + s.trailing() + s.plugin();
            std::string expected;
            std::size_t pos = 0;
            while (pos < end_of_lines(s.text)) expected += std::string(next_line(s.text, pos)) + "\n";
            EXPECT_EQ(joined, expected) << layout << " / " << name;
        }
    }
}

TEST(Scan, NumbersAreUnsortedRepeatedAndUnsigned) {
    const Scanned s = scan("[Meter 3]\nName=A\n[Meter 10]\nName=B\n[Meter 7]\n[Meter 10]\n", "A");
    EXPECT_EQ(s.results.target_number, 3u);
    EXPECT_EQ(s.results.highest_number, 10u);

    const Scanned negative = scan("[Meter -1]\nName=X\n[Meter 2]\nName=A\n", "A");
    EXPECT_EQ(negative.results.highest_number, 4294967295u);

    // A number that does not fit has no value: the previous one stays current.
    const Scanned huge = scan("[Meter 6]\nName=X\n[Meter 4294967295]\nName=A\n", "A");
    EXPECT_EQ(huge.results.target_number, 6u);
    EXPECT_EQ(huge.results.highest_number, 6u);

    // Meters after the plugin header still count towards the highest number.
    const Scanned late = scan("[Meter 1]\nName=A\n[PluginInfo]\n[Meter 9]\n", "A");
    EXPECT_EQ(late.results.highest_number, 9u);
}

TEST(Scan, HeadersThatCarryNoNumber) {
    // "[Meter12]" is a header, but keeps the previous number.
    const Scanned glued = scan("[Meter 4]\nName=X\n[Meter12]\nName=A\nLeft=1\n", "A");
    ASSERT_TRUE(glued.results.found);
    EXPECT_EQ(glued.results.target_number, 4u);
    EXPECT_EQ(glued.target(), "[Meter12]\nName=A\nLeft=1\n\n");

    const Scanned spaced = scan(" [Meter 3]\nName=A\n", "A");
    ASSERT_TRUE(spaced.results.found);
    EXPECT_EQ(spaced.results.target_number, 0u);

    // "[MeterStyle]" and a key whose value holds "[Meter" end the target.
    const Scanned style = scan("[Meter 2]\nName=A\nX=1\n[MeterStyle]\nY=2\n", "A");
    EXPECT_EQ(style.target(), "[Meter 2]\nName=A\nX=1\n");
    EXPECT_EQ(style.trailing(), "[MeterStyle]\nY=2\n\n");
    const Scanned text = scan("[Meter 2]\nName=A\nText=[Meter\nY=2\n", "A");
    EXPECT_EQ(text.target(), "[Meter 2]\nName=A\n");
}

TEST(Scan, HeaderAfterHeader) {
    // The later header carries a number: the earlier one goes to the head.
    const Scanned numbered = scan("W=1\n[Meter 1]\n[Meter 2]\nName=A\n", "A");
    ASSERT_TRUE(numbered.results.found);
    EXPECT_EQ(numbered.head(), "W=1\n[Meter 1]\n");
    EXPECT_EQ(numbered.target(), "[Meter 2]\nName=A\n\n");
    EXPECT_EQ(numbered.results.target_number, 2u);

    // It carries none: it joins the pending block behind the earlier one.
    const Scanned plain = scan("[Meter 5]\n[MeterStyle]\nName=A\n", "A");
    ASSERT_TRUE(plain.results.found);
    EXPECT_EQ(plain.head(), "");
    EXPECT_EQ(plain.target(), "[Meter 5]\n[MeterStyle]\nName=A\n\n");
    EXPECT_EQ(plain.results.target_number, 5u);
}

TEST(Scan, OnlyTheLineRightAfterTheHeaderNamesAMeter) {
    EXPECT_FALSE(scan("[Meter 1]\n\nName=A\n", "A").results.found);
    EXPECT_FALSE(scan("[Meter 1]\n;c\nName=A\n", "A").results.found);
    EXPECT_FALSE(scan("[Meter 1]\nName=A \n", "A").results.found);
    EXPECT_FALSE(scan("[Meter 1]\n[PluginInfo]\nName=A\n", "A").results.found);
    EXPECT_FALSE(scan("[PluginInfo]\n[Meter 1]\nName=A\n", "A").results.found);
    EXPECT_FALSE(scan("", "A").results.found);
    EXPECT_FALSE(scan(std::string("[Meter 1]\nName=A\0\n", 18), "A").results.found);
    EXPECT_TRUE(scan("[Meter 1]\nName=\n", "").results.found);
    EXPECT_TRUE(scan("[Meter 1]\r\nName=A", "A").results.found);  // last line without LF
}

TEST(Scan, TheFirstOfTwoNamesakesIsTheTarget) {
    const Scanned s = scan("[Meter 1]\nName=A\nLeft=1\n[Meter 2]\nName=A\nLeft=9\n", "A");
    EXPECT_EQ(s.results.target_number, 1u);
    EXPECT_EQ(s.target(), "[Meter 1]\nName=A\nLeft=1\n");
    EXPECT_EQ(s.trailing(), "[Meter 2]\nName=A\nLeft=9\n\n");
}

TEST(Scan, TargetGeometryComesFromTheTargetSectionOnly) {
    const struct {
        const char* keys;
        std::int32_t left, top, width, height;
    } cases[] = {
        {"Left=5\nRight=45\nTop=20\nBottom=30\n", 5, 20, 40, 10},
        {"Right=45\nBottom=30\n", 0, 0, 45, 30},             // missing Left/Top: 0
        {"Right=45\nLeft=5\n", 5, 0, 45, 0},                 // Right before Left
        {"Left=5\nTop=7\n", 5, 7, 0, 0},                     // no Right/Bottom
        {"Left=x\nRight=9\n", 0, 0, 9, 0},                   // a value that does not parse
        {"Left=99999999999\nRight=9\n", 0, 0, 9, 0},         // nor one that does not fit
        {"Left=-2147483648\nRight=2147483647\n", INT32_MIN, 0, -1, 0},  // wraps
        {" Left=5\nRight=9\n", 0, 0, 9, 0},
    };
    for (const auto& c : cases) {
        const Scanned s = scan(std::string("[Meter 0]\nName=Z\nLeft=-50\nTop=-50\n[Meter 1]\nName=A\n") +
                                   c.keys + "[Meter 2]\nName=B\nLeft=1\nRight=1000\n",
                               "A");
        ASSERT_TRUE(s.results.found) << c.keys;
        EXPECT_EQ(s.results.target_box.left, c.left) << c.keys;
        EXPECT_EQ(s.results.target_box.top, c.top) << c.keys;
        EXPECT_EQ(s.results.target_box.width, c.width) << c.keys;
        EXPECT_EQ(s.results.target_box.height, c.height) << c.keys;
    }
}

TEST(Scan, LayoutBoxKeepsSentinelsAndTrueExtremes) {
    const Scanned none = scan("[Meter 1]\nName=A\n", "A");
    EXPECT_EQ(none.results.box.min_left, 10000);
    EXPECT_EQ(none.results.box.max_right, -10000);
    EXPECT_EQ(none.results.box.min_top, 10000);
    EXPECT_EQ(none.results.box.max_bottom, -10000);

    const Scanned wide = scan("Left=20000\nRight=-20000\n[Meter 1]\nName=A\nLeft=-30000\nRight=30000\n"
                              "[PluginInfo]\nBottom=12345\nTop=99999999999\n",
                              "A");
    EXPECT_EQ(wide.results.box.min_left, -30000);
    EXPECT_EQ(wide.results.box.max_right, 30000);
    EXPECT_EQ(wide.results.box.min_top, 10000);
    EXPECT_EQ(wide.results.box.max_bottom, 12345);
}

TEST(Scan, NotesTheLinesNotInTheirWrittenForm) {
    using Runs = std::vector<std::string>;
    const struct {
        std::string text;
        Runs runs;  // the lines of each unfinished run
    } cases[] = {
        {"[Meter 1]\r\nName=A\r\nX=1", {"X=1\n"}},  // no line end
        {"a\nb\r\nc\rd\r\n", {"a\n", "\n"}},    // LF alone; a lone CR is ordinary; the end-of-file line
        {"\r\n\r\nA=1\r\n\r\n\r\n\r\nB=1\r\n", {"\n\n", "\n\n", "\n"}},  // leading blanks, blank runs
        {"Width=1\r\nHeight=2\nX\r\n[Meter 1]\r\nName=A\r\nWidth=3\r\n", {"Width=1\nHeight=2\n", "\n"}},
    };
    for (const auto& c : cases) {
        const Scanned s = scan(c.text, "A");
        Runs runs;
        for (const Text_block& run : s.results.unfinished) runs.push_back(test::block_text(s.text, run));
        EXPECT_EQ(runs, c.runs) << c.text;
    }
}

TEST(Scan, LineEndsDoNotChangeTheResult) {
    const std::string lf = road_layout;
    const Scanned a = scan(lf, "CPU1");
    const Scanned b = scan(test::crlf(lf), "CPU1");
    EXPECT_EQ(a.head(), b.head());
    EXPECT_EQ(a.target(), b.target());
    EXPECT_EQ(a.trailing(), b.trailing());
    EXPECT_EQ(a.plugin(), b.plugin());
}

}  // namespace
}  // namespace quarvel
