// The safe replace of the output, end to end on every platform: refused
// outputs stay as they were, replaced ones keep what they must.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <set>

#include "platform/output.h"
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

#ifdef _WIN32
// ---- Windows: other programs holding the files, consoles without a window,
// spellings of one file and names that no valid text holds.

// Runs `exe` (the tool) with the wide command-line arguments `args` in `cwd`,
// its standard error into `errors` if given: its exit status, or -1 when it
// still ran after 15 s (it is then ended).
int spawn(const std::wstring& args, const std::string& cwd, DWORD flags = 0, const char* exe = QUARVEL_EXE_PATH,
          const std::string& errors = "") {
    std::wstring line = L"\"" + fs::path(exe).make_preferred().wstring() + L"\" " + args;
    STARTUPINFOW start{};
    start.cb = sizeof start;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    start.hStdError = errors.empty() ? nullptr : ::CreateFileW(fs::u8path(errors).wstring().c_str(), GENERIC_WRITE, 0,
                                                                &inherited, CREATE_ALWAYS, 0, nullptr);
    start.dwFlags = errors.empty() ? 0 : STARTF_USESTDHANDLES;
    PROCESS_INFORMATION child{};
    const BOOL started = ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, !errors.empty(), flags, nullptr,
                                          fs::u8path(cwd).wstring().c_str(), &start, &child);
    if (start.hStdError != nullptr) ::CloseHandle(start.hStdError);
    if (!started) return -2;
    DWORD status = 255;
    if (::WaitForSingleObject(child.hProcess, 15000) != WAIT_OBJECT_0) ::TerminateProcess(child.hProcess, 255);
    ::GetExitCodeProcess(child.hProcess, &status);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    return status == 255 ? -1 : static_cast<int>(status);
}

// A scanner opens each fresh temporary file for 2 ms without delete sharing.
void scanner_holds_each_fresh_file(const test::Scratch_dir& dir) {
    std::atomic<bool> stop{false};
    std::thread scanner([&] {
        const std::wstring folder = fs::u8path(dir.path).wstring() + L"\\";
        std::set<std::wstring> seen;
        WIN32_FIND_DATAW found{};
        while (!stop) {
            const HANDLE search = ::FindFirstFileW((folder + L"*.tmp.*").c_str(), &found);
            for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
                const HANDLE held = seen.count(found.cFileName) ? INVALID_HANDLE_VALUE
                    : ::CreateFileW((folder + found.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
                if (held != INVALID_HANDLE_VALUE) seen.insert(found.cFileName), ::Sleep(2), ::CloseHandle(held);
            }
            if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
        }
    });
    for (int run = 1; run <= 10; ++run) {
        EXPECT_EQ(test::run_program({"in.ini", "in.ini", "A1", "1", "4", "0"}, dir.path).status, 0) << run;
        ASSERT_TRUE(test::file_exists(dir.file("in.ini"))) << "the layout is gone after run " << run;
    }
    stop = true;
    scanner.join();
    EXPECT_NE(test::read_bytes(dir.file("in.ini")).find("[Meter 11]\r\nName=A2\r\n"), std::string::npos);  // ten copies of A1
    EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in.ini"});
}

// Another program holds the output (sharing reads), writes its version at
// 1.5 s and lets go at 1.8 s, while the run waits for it.
void another_program_saves_while_the_run_waits(const test::Scratch_dir& dir) {
    test::write_bytes(dir.file("out.ini"), "old");
    const HANDLE held = ::CreateFileW(fs::u8path(dir.file("out.ini")).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread other([held] {
        DWORD wrote = 0;
        ::Sleep(1500), ::WriteFile(held, "saved", 5, &wrote, nullptr), ::Sleep(300), ::CloseHandle(held);
    });
    const test::Run_result result = test::run_program(copy_a1("out.ini"), dir.path);
    other.join();
    EXPECT_EQ(test::console_text(result.console), refused("out.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "saved");
}

// Another run holds the lock through another spelling of the same file.
void another_spelling_holds_the_lock(const test::Scratch_dir& dir) {
    test::write_bytes(dir.file("out.ini"), "old");
    Safe_output other;
    ASSERT_FALSE(lock_output("\\\\?\\" + fs::u8path(dir.file("OUT.INI")).make_preferred().u8string(), other));
    EXPECT_EQ(test::console_text(test::run_program(copy_a1("out.ini"), dir.path).console), refused("out.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
}

// A run ended at each step of its replace, as End task or a crash would end it:
// the output holds the old layout or the whole new one, and the next run,
// spelling the name in another case, removes what the ended one left.
void ended_at_every_step(const test::Scratch_dir& dir) {
    for (int step = 1; step <= 4; ++step) {
        test::write_bytes(dir.file("in.ini"), layout);
        ::SetEnvironmentVariableW(L"QUARVEL_STOP_AT", std::to_wstring(step).c_str());
        EXPECT_EQ(spawn(L"in.ini in.ini A1 1 4 0", dir.path, 0, QUARVEL_HOST_DRIVE QUARVEL_STOPS_EXE), 9) << step;
        ::SetEnvironmentVariableW(L"QUARVEL_STOP_AT", nullptr);
        const std::string at_the_name = test::read_bytes(dir.file("in.ini"));
        EXPECT_TRUE(at_the_name == layout || at_the_name == written) << step;
        EXPECT_EQ(test::list_dir(dir.path).size(), step == 4 ? 1u : 2u) << step;
        EXPECT_EQ(test::run_program({"IN.INI", "IN.INI", "A1", "1", "4", "0"}, dir.path).status, 0);
        EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in.ini"}) << step;
    }
}

// Ten runs at once in place, and a program that watches the layout's name.
void ten_runs_at_once_and_a_watcher(const test::Scratch_dir& dir) {
    std::atomic<bool> stop{false};
    std::atomic<int> missing{0}, done{0};
    const std::wstring name = fs::u8path(dir.file("in.ini")).wstring();
    std::thread watcher([&] { while (!stop) missing += ::GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES; });
    std::vector<std::thread> runs;
    for (int i = 0; i < 10; ++i) runs.emplace_back([&] { done += spawn(L"in.ini in.ini A1 1 4 0", dir.path) == 0; });
    for (std::thread& run : runs) run.join();
    stop = true;
    watcher.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(done, 10);
    EXPECT_NE(test::read_bytes(dir.file("in.ini")).find("[Meter 11]\r\nName=A2\r\n"), std::string::npos);
}

// A program holds the old file for half a second, sharing it fully, as it is
// replaced: nothing is left of it beside the output.
void program_holds_the_old_file_as_it_is_replaced(const test::Scratch_dir& dir) {
    test::write_bytes(dir.file("out.ini"), "old");
    const HANDLE held = ::CreateFileW(fs::u8path(dir.file("out.ini")).wstring().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    std::thread program([held] { ::Sleep(500), ::CloseHandle(held); });
    const test::Run_result result = test::run_program(copy_a1("out.ini"), dir.path);
    program.join();
    EXPECT_EQ(test::console_text(result.console), done("out.ini"));
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
}

void output_spelled_with_forward_slashes_in_long_form(const test::Scratch_dir& dir) {
    std::string out = "//?/" + fs::absolute(fs::u8path(dir.file("out.ini"))).u8string();
    std::replace(out.begin(), out.end(), '\\', '/');
    EXPECT_EQ(test::console_text(test::run_program(copy_a1(out), dir.path).console), done(out));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), written);
}

void no_console_window(const test::Scratch_dir& dir) {
    EXPECT_EQ(spawn(L"", dir.path, CREATE_NO_WINDOW), 1) << "waited for a key no one can press";
    EXPECT_EQ(spawn(L"--help", dir.path, CREATE_NO_WINDOW), 0);
}

void output_at_the_root_of_a_drive(const test::Scratch_dir& dir) {
    const fs::path folder = fs::u8path(dir.path);
    const std::string out = (folder.root_path() / folder.filename()).u8string() + ".ini";
    if (!(std::ofstream(fs::u8path(out)) << "old")) GTEST_SKIP() << "this user may not write at " << out;
    const test::Run_result result = test::run_program(copy_a1(out), dir.path);
    EXPECT_EQ(test::console_text(result.console), done(out));
    EXPECT_EQ(test::read_bytes(out), written);
    fs::remove(fs::u8path(out));
}

void output_name_with_a_lone_surrogate(const test::Scratch_dir& dir) {
    EXPECT_EQ(spawn(std::wstring(L"in.ini \"out") + wchar_t(0xD800) + L".ini\" A1 1 4 0", dir.path), 1);
    EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in.ini"});
    test::Scratch_dir errors;
    EXPECT_EQ(spawn(std::wstring(L"\"in") + wchar_t(0xD800) + L".ini\" out.ini A1 1 4 0", dir.path, 0, QUARVEL_EXE_PATH,
                    errors.file("err")), 1);
    EXPECT_NE(test::read_bytes(errors.file("err")).find("not valid Unicode"), std::string::npos);
}

struct Windows_row {
    const char* name;
    void (*scene)(const test::Scratch_dir& dir);  // sets it up, runs the tool, checks what must hold
};

class WindowsSurroundings : public ::testing::TestWithParam<Windows_row> {};

TEST_P(WindowsSurroundings, NothingIsLostAndNoRunHangs) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    GetParam().scene(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WindowsSurroundings,
    ::testing::Values(Windows_row{"scanner_holds_each_fresh_file", scanner_holds_each_fresh_file},
                      Windows_row{"another_program_saves_while_the_run_waits", another_program_saves_while_the_run_waits},
                      Windows_row{"another_spelling_holds_the_lock", another_spelling_holds_the_lock},
                      Windows_row{"ended_at_every_step", ended_at_every_step},
                      Windows_row{"ten_runs_at_once_and_a_watcher", ten_runs_at_once_and_a_watcher},
                      Windows_row{"program_holds_the_old_file_as_it_is_replaced", program_holds_the_old_file_as_it_is_replaced},
                      Windows_row{"output_spelled_with_forward_slashes_in_long_form", output_spelled_with_forward_slashes_in_long_form},
                      Windows_row{"no_console_window", no_console_window},
                      Windows_row{"output_at_the_root_of_a_drive", output_at_the_root_of_a_drive},
                      Windows_row{"output_name_with_a_lone_surrogate", output_name_with_a_lone_surrogate}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace quarvel
