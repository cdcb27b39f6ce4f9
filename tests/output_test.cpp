#include "generate/output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "config/line_rules.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quarvel {
namespace {

// The tidy pass done the slow way: write the untidied text, read it back with
// the whole-file reader, filter, and write it again.
std::string tidy_by_rereading(const std::vector<std::string>& lines) {
    std::string written;
    for (const std::string& line : lines) written += line + "\r\n";
    std::string tidied;
    Blank_filter filter = collapse_and_trim();
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
        Tidy_writer writer = start_tidy_writer(nullptr);
        for (const std::string& line : lines) write_line(writer, line);
        finish_tidy_writer(writer);
        ASSERT_EQ(writer.buffer, tidy_by_rereading(lines));
    }
}

TEST(TidyWriter, WholeRunsOfLinesMatchLineByLine) {
    // Texts with CR LF, bare LF, stray CR, blank runs and no final line end,
    // cut into a block anywhere: write_lines must equal write_line per line,
    // whatever the filter's state when the block starts.
    std::mt19937 rng(5);
    const std::string pieces[] = {"\r\n", "\r\n", "\n", "\r", "a", "bc", "[Meter 1]", "\r\r\n"};
    std::uniform_int_distribution<int> count(0, 16);
    std::uniform_int_distribution<std::size_t> pick(0, 7);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = count(rng); n > 0; --n) text += pieces[pick(rng)];
        // The filter's state as the block starts: fresh, after text, after one blank.
        const std::vector<std::string> lead = i % 3 == 0 ? std::vector<std::string>{}
                                              : i % 3 == 1 ? std::vector<std::string>{"x"}
                                                           : std::vector<std::string>{"x", ""};
        std::vector<std::size_t> starts;  // line starts, as next_line walks them
        for (std::size_t pos = 0; pos < end_of_lines(text); next_line(text, pos)) starts.push_back(pos);
        starts.push_back(end_of_lines(text));
        std::uniform_int_distribution<std::size_t> cut(0, starts.size() - 1);
        std::size_t begin = starts[cut(rng)];
        std::size_t end = starts[cut(rng)];
        if (begin > end) std::swap(begin, end);

        Tidy_writer expected = start_tidy_writer(nullptr);
        Tidy_writer actual = start_tidy_writer(nullptr);
        for (const std::string& line : lead) {
            write_line(expected, line);
            write_line(actual, line);
        }
        for (std::size_t pos = begin; pos < end;) write_line(expected, next_line(text, pos));
        write_lines(actual, text, begin, end);
        write_line(expected, "z");
        write_line(actual, "z");
        ASSERT_EQ(actual.buffer, expected.buffer) << i;
    }
}

TEST(GenerateOutput, CopiesStandBeforeThePluginPart) {
    const std::string text =
        "[Settings]\nWidth=1\nHeight=1\n\n\n[Meter 0]\nName=T\nLeft=0\nRight=10\n\n[Meter 1]\nName=CPU1\n"
        "Left=10\nRight=40\nTop=0\nBottom=20\nCore=1\n\n\n[Meter 2]\nName=U\n[PluginInfo]\nA=1\n";
    Run_settings s;
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

}  // namespace
}  // namespace quarvel

namespace quarvel {
namespace {

namespace fs = std::filesystem;

const std::string layout = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n");
const std::vector<std::string> copy_a1(const std::string& out) { return {"in.ini", out, "A1", "1", "4", "0"}; }
const std::string written = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n\n[Meter 2]\nName=A2\nLeft=4\nRight=8\n\n");

std::string refused(const std::string& out) {
    return "In: in.ini\nOut: " + out + "\nMeter name: A1\nCopies: 1\nXshift: 4\nYshift: 0\nFound meter: A1\n"
           "Total meters: 1\n\nERROR: Can't write file: " + out + "\n";
}

fs::perms mode_of(const std::string& path) { return fs::status(path).permissions(); }

TEST(SafeOutput, ReadOnlyOutputIsRefusedAndLeftAlone) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    fs::permissions(dir.file("out.ini"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // The folder is open to all: only the file's own protection may stop the run.
    fs::permissions(dir.path, fs::perms::all);
    const test::Run_result result = test::run_program(copy_a1("out.ini"), dir.path, test::Run_as::unprivileged);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, refused("out.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
}

TEST(SafeOutput, ExistingOutputKeepsItsPermissionBits) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no permission bits (only the read-only attribute)";
#endif
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    const fs::perms odd = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_write;
    fs::permissions(dir.file("out.ini"), odd);
    const test::Run_result result = test::run_program(copy_a1("out.ini"), dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), written);
    EXPECT_EQ(mode_of(dir.file("out.ini")), odd);
}

TEST(SafeOutput, NewOutputGetsTheUsualMode) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no umask and no file modes";
#else
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    test::run_program(copy_a1("out.ini"), dir.path);
    EXPECT_EQ(static_cast<unsigned>(mode_of(dir.file("out.ini"))), 0666u & ~static_cast<unsigned>(mask));
#endif
}

TEST(SafeOutput, SymbolicLinkStaysALinkAndItsTargetIsReplaced) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links on Windows need a privilege layouts are not written with";
#endif
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    fs::create_directory(dir.file("real"));
    test::write_bytes(dir.file("real/target.ini"), "old");
    fs::create_symlink("real/target.ini", dir.file("link.ini"));
    const test::Run_result result = test::run_program(copy_a1("link.ini"), dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(fs::read_symlink(dir.file("link.ini")).string(), "real/target.ini");
    EXPECT_EQ(test::read_bytes(dir.file("real/target.ini")), written);
    EXPECT_EQ(test::list_dir(dir.file("real")), (std::vector<std::string>{"target.ini"}));
}

TEST(SafeOutput, DeviceIsWrittenDirectly) {
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/null";
#endif
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    const test::Run_result result = test::run_program(copy_a1(device), dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini"}));
#ifndef _WIN32
    EXPECT_TRUE(fs::is_character_file(device));
#endif
}

}  // namespace
}  // namespace quarvel

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>
#endif
#include <chrono>
#include <thread>

namespace quarvel {
namespace {

#ifdef _WIN32
// Opens `path` the way a virus scanner does, sharing it with no one; -1 on failure.
int hold_exclusively(const std::string& path) {
    int held = -1;
    if (_wsopen_s(&held, std::filesystem::u8path(path).wstring().c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW,
                  _S_IREAD) != 0)
        return -1;
    return held;
}
#endif

// A virus scanner or an indexer holds a fresh file for a moment: the replace
// waits for it rather than failing the run.
TEST(SafeOutput, ReplaceWaitsForAProgramBrieflyHoldingTheOutput) {
#ifndef _WIN32
    GTEST_SKIP() << "a POSIX rename is not held up by other programs' open files";
#else
    test::Scratch_dir dir;
    const std::string out_path = dir.file("out.ini");
    test::write_bytes(out_path, "old");
    const int held = hold_exclusively(out_path);
    ASSERT_GE(held, 0);
    std::thread scanner([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        _close(held);
    });
    const std::string text = "[Meter 1]\nName=A1\nLeft=0\nRight=4\n";
    Run_settings settings;
    settings.output_path = out_path;
    settings.meter_name = "A1";
    settings.copies = 1;
    settings.x_shift = 4;
    const bool written_ok = test::write_output_file(text, settings);
    scanner.join();
    EXPECT_TRUE(written_ok);
    EXPECT_EQ(test::read_bytes(out_path), written);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"out.ini"}));
#endif
}

TEST(SafeOutput, OutputHeldForGoodIsAWriteFailureAndLeftAlone) {
#ifndef _WIN32
    GTEST_SKIP() << "a POSIX rename is not held up by other programs' open files";
#else
    test::Scratch_dir dir;
    const std::string out_path = dir.file("out.ini");
    test::write_bytes(out_path, "old");
    const int held = hold_exclusively(out_path);
    ASSERT_GE(held, 0);
    const std::string text = "[Meter 1]\nName=A1\n";
    Run_settings settings;
    settings.output_path = out_path;
    settings.meter_name = "A1";
    settings.copies = 1;
    const bool written_ok = test::write_output_file(text, settings);
    _close(held);
    EXPECT_FALSE(written_ok);
    EXPECT_EQ(test::read_bytes(out_path), "old");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"out.ini"}));
#endif
}

}  // namespace
}  // namespace quarvel

namespace quarvel {
namespace {

#ifdef _WIN32
// The file attributes as the C runtime's folder search reports them.
unsigned attributes_of(const std::string& path) {
    _wfinddata_t found{};
    const intptr_t search = _wfindfirst(std::filesystem::u8path(path).wstring().c_str(), &found);
    if (search == -1) return ~0u;
    _findclose(search);
    return found.attrib;
}
#endif

TEST(SafeOutput, ExistingOutputKeepsItsHiddenAndSystemAttributes) {
#ifndef _WIN32
    GTEST_SKIP() << "hidden and system attributes are Windows file attributes";
#else
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    test::write_bytes(dir.file("plain.ini"), "old");
    const std::wstring quoted = L" \"" + std::filesystem::u8path(dir.file("out.ini")).make_preferred().wstring() + L"\"";
    ASSERT_EQ(_wsystem((L"attrib +h" + quoted).c_str()), 0);
    ASSERT_EQ(_wsystem((L"attrib +s" + quoted).c_str()), 0);
    ASSERT_EQ(attributes_of(dir.file("out.ini")) & (_A_HIDDEN | _A_SYSTEM), unsigned{_A_HIDDEN | _A_SYSTEM});
    for (const std::string name : {"out.ini", "plain.ini"}) {
        const test::Run_result result = test::run_program(copy_a1(name), dir.path);
        EXPECT_EQ(result.status, 0) << name;
        EXPECT_EQ(test::read_bytes(dir.file(name)), written) << name;
    }
    EXPECT_EQ(attributes_of(dir.file("out.ini")) & (_A_HIDDEN | _A_SYSTEM | _A_RDONLY), unsigned{_A_HIDDEN | _A_SYSTEM});
    EXPECT_EQ(attributes_of(dir.file("plain.ini")) & (_A_HIDDEN | _A_SYSTEM | _A_RDONLY), 0u);
#endif
}

}  // namespace
}  // namespace quarvel
