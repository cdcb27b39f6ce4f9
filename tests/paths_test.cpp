// File names beyond ASCII: on Windows they only work through the wide file
// APIs and the wide command line, so the same runs are checked everywhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace quarvel {
namespace {

namespace fs = std::filesystem;

const std::string layout = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n");
const std::string written =
    test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n\n[Meter 2]\nName=A2\nLeft=4\nRight=8\n\n");

std::string echo_and_done(const std::string& in, const std::string& out) {
    return "In: " + in + "\nOut: " + out + "\nMeter name: A1\nCopies: 1\nXshift: 4\nYshift: 0\n"
           "Found meter: A1\nTotal meters: 1\n\nDONE: 1 copies made.\n\n";
}

TEST(UnicodePaths, InputAndOutputOutsideAsciiAreReadWrittenAndEchoed) {
    const struct {
        std::string folder;  // made in the run folder, holds the input
        std::string in;      // the input's name in that folder
        std::string out;     // output path, relative to the run folder
    } cases[] = {
        {"\xC3\x9C" "berwachung", "Ansicht.ini", "\xC3\x9C" "berwachung/Ansicht.ini"},  // output = input
        {"", "\xE8\xA8\x88\xE5\x99\xA8.ini", "\xE8\xA8\x88\xE5\x99\xA8 2.ini"},         // CJK names
        {"Mo\xC3\xAF \xF0\x9F\x98\x80", "in.ini", "Mo\xC3\xAF \xF0\x9F\x98\x80/out \xC3\xA9.ini"},  // beyond the BMP
    };
    for (const auto& c : cases) {
        test::Scratch_dir dir;
        const std::string in = c.folder.empty() ? c.in : c.folder + "/" + c.in;
        if (!c.folder.empty()) fs::create_directory(fs::u8path(dir.file(c.folder)));
        test::write_bytes(dir.file(in), layout);
        const test::Run_result result = test::run_program({in, c.out, "A1", "1", "4", "0"}, dir.path);
        EXPECT_EQ(result.status, 0) << in;
        EXPECT_EQ(test::console_text(result.console), echo_and_done(in, c.out));
        EXPECT_EQ(test::read_bytes(dir.file(c.out)), written) << c.out;
        if (c.out != in) {
            EXPECT_EQ(test::read_bytes(dir.file(in)), layout) << in;
        }
        // No temporary file is left beside the output.
        const std::string out_folder = fs::u8path(dir.file(c.out)).parent_path().u8string();
        for (const std::string& name : test::list_dir(out_folder))
            EXPECT_EQ(name.find(".tmp."), std::string::npos) << name;
    }
}

// Beyond the 260 characters of the old Windows limit: as a new output given
// relative to the run's folder, then as output = input given in full.
TEST(UnicodePaths, PathsLongerThan300CharactersWork) {
    test::Scratch_dir dir;
    std::string deep;
    for (int i = 0; i < 8; ++i) deep += "folder_with_a_name_of_forty_characters_" + std::to_string(i) + "/";
    fs::create_directories(fs::u8path(dir.file(deep)));
    test::write_bytes(dir.file("in.ini"), layout);
    const std::string out = deep + "out.ini";
    ASSERT_GT(dir.file(out).size(), 300u);
    test::Run_result result = test::run_program({"in.ini", out, "A1", "1", "4", "0"}, dir.path);
    EXPECT_EQ(test::console_text(result.console), echo_and_done("in.ini", out));
    EXPECT_EQ(test::read_bytes(dir.file(out)), written);

    test::write_bytes(dir.file(out), layout);
    result = test::run_program({dir.file(out), dir.file(out), "A1", "1", "4", "0"}, dir.path);
    EXPECT_EQ(test::console_text(result.console), echo_and_done(dir.file(out), dir.file(out)));
    EXPECT_EQ(test::read_bytes(dir.file(out)), written);
}

#ifdef _WIN32
TEST(UnicodePaths, BackslashesAndAFullPathWork) {
    test::Scratch_dir dir;
    fs::create_directory(fs::u8path(dir.file("\xC3\x9C" "berwachung")));
    const std::string in = fs::u8path(dir.file("\xC3\x9C" "berwachung/Ansicht.ini")).make_preferred().u8string();
    test::write_bytes(in, layout);
    const test::Run_result result = test::run_program({in, in, "A1", "1", "4", "0"}, dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::console_text(result.console), echo_and_done(in, in));
    EXPECT_EQ(test::read_bytes(in), written);
}
#endif

}  // namespace
}  // namespace quarvel
