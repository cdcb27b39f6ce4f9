// The safe replace of the output, end to end on every platform: refused
// outputs stay as they were, replaced ones keep what they must.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#endif

namespace quarvel {
namespace {

namespace fs = std::filesystem;

const std::string layout = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n");
std::vector<std::string> copy_a1(const std::string& out) { return {"in.ini", out, "A1", "1", "4", "0"}; }
const std::string written = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n\n[Meter 2]\nName=A2\nLeft=4\nRight=8\n\n");

std::string console_until_write(const std::string& out) {
    return "In: in.ini\nOut: " + out + "\nMeter name: A1\nCopies: 1\nXshift: 4\nYshift: 0\nFound meter: A1\n"
           "Total meters: 1\n\n";
}
std::string refused(const std::string& out) { return console_until_write(out) + "ERROR: Can't write file: " + out + "\n"; }
std::string done(const std::string& out) { return console_until_write(out) + "DONE: 1 copies made.\n\n"; }

TEST(SafeOutput, ReadOnlyOutputIsRefusedAndLeftAlone) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    fs::permissions(dir.file("out.ini"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // The folder is open to all: only the file's own protection may stop the run.
    fs::permissions(dir.path, fs::perms::all);
    test::Run_options options;
    options.who = test::Run_as::unprivileged;
    const test::Run_result result = test::run_program(copy_a1("out.ini"), dir.path, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(test::console_text(result.console), refused("out.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
#ifndef _WIN32
    EXPECT_EQ(fs::status(dir.file("out.ini")).permissions(), fs::perms(0444));
#endif
}

TEST(SafeOutput, NewOutputGetsTheUsualMode) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no umask and no file modes";
#else
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(test::run_program(copy_a1("out.ini"), dir.path).status, 0);
    EXPECT_EQ(static_cast<unsigned>(fs::status(dir.file("out.ini")).permissions()), 0666u & ~static_cast<unsigned>(mask));
#endif
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
    EXPECT_EQ(test::console_text(result.console), done(device));
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini"}));
#ifndef _WIN32
    EXPECT_TRUE(fs::is_character_file(device));
#endif
}

#ifdef _WIN32
// Opens `path` the way a virus scanner does, sharing it with no one (and not
// with the tool run from here); -1 on failure.
int hold_exclusively(const std::string& path) {
    int held = -1;
    if (_wsopen_s(&held, fs::u8path(path).wstring().c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD) != 0)
        return -1;
    return held;
}

// The file attributes as the C runtime's folder search reports them.
unsigned attributes_of(const std::string& path) {
    _wfinddata_t found{};
    const intptr_t search = _wfindfirst(fs::u8path(path).wstring().c_str(), &found);
    if (search == -1) return ~0u;
    _findclose(search);
    return found.attrib;
}
#endif

// A virus scanner or an indexer holds a fresh file for a moment: the replace
// waits for it rather than failing the run; held for good, it fails the run.
TEST(SafeOutput, ReplaceWaitsForAProgramBrieflyHoldingTheOutput) {
#ifndef _WIN32
    GTEST_SKIP() << "a POSIX rename is not held up by other programs' open files";
#else
    for (const bool briefly : {true, false}) {
        test::Scratch_dir dir;
        test::write_bytes(dir.file("in.ini"), layout);
        test::write_bytes(dir.file("out.ini"), "old");
        const int held = hold_exclusively(dir.file("out.ini"));
        ASSERT_GE(held, 0);
        std::thread scanner([held, briefly] {
            std::this_thread::sleep_for(std::chrono::milliseconds(briefly ? 400 : 0));
            if (briefly) _close(held);
        });
        const test::Run_result result = test::run_program(copy_a1("out.ini"), dir.path);
        scanner.join();
        if (!briefly) _close(held);
        EXPECT_EQ(result.status, briefly ? 0 : 1);
        EXPECT_EQ(test::read_bytes(dir.file("out.ini")), briefly ? written : "old");
        EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
    }
#endif
}

TEST(SafeOutput, ExistingOutputKeepsItsHiddenAndSystemAttributes) {
#ifndef _WIN32
    GTEST_SKIP() << "hidden and system attributes are Windows file attributes";
#else
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    test::write_bytes(dir.file("plain.ini"), "old");
    const std::wstring quoted = L" \"" + fs::u8path(dir.file("out.ini")).make_preferred().wstring() + L"\"";
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
