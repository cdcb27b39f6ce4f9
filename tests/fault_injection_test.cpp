// Fault injection, end to end: the real executable under a file-size limit,
// with outputs it may not or cannot replace, through links, devices and
// pipes. Whatever fails, the old file stays byte for byte, no temporary file
// is left, and a failure is never reported as success.
#include <gtest/gtest.h>

#ifdef _WIN32

TEST(FaultInjection, PosixOnly) { GTEST_SKIP() << "file-size limits, links, pipes and permission bits are POSIX cases"; }

#else

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "platform/output.h"
#include "test_support.h"

namespace quarvel {
namespace {

namespace fs = std::filesystem;

// The console text of a run of "in.ini <out> A1 <copies> 4 0" that gets as
// far as writing.
std::string console_until_write(const std::string& in, const std::string& out, int copies) {
    return "In: " + in + "\nOut: " + out + "\nMeter name: A1\nCopies: " + std::to_string(copies) +
           "\nXshift: 4\nYshift: 0\nFound meter: A1\nTotal meters: 1\n\n";
}

std::string refused(const std::string& in, const std::string& out, int copies = 1) {
    return console_until_write(in, out, copies) + "ERROR: Can't write file: " + out + "\n";
}

std::string done(const std::string& out, int copies = 1) {
    return console_until_write("in.ini", out, copies) + "DONE: " + std::to_string(copies) + " copies made.\n\n";
}

std::vector<std::string> copy_a1(const std::string& in, const std::string& out, int copies = 1) {
    return {in, out, "A1", std::to_string(copies), "4", "0"};
}

const std::string layout = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n");
// What one copy of `layout` with x shift 4 gives.
const std::string written = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n\n[Meter 2]\nName=A2\nLeft=4\nRight=8\n\n");

unsigned mode_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<unsigned>(st.st_mode & 07777);
}

// ---- Disk full: a file-size limit makes the writes fail with EFBIG.

// A layout whose target carries a long line, so that copies make a big file.
std::string layout_with_filler(std::size_t filler) {
    return test::crlf("[Settings]\nWidth=10\n\n[Meter 1]\nName=A1\nLeft=0\nRight=4\nText=") + std::string(filler, 'x') +
           "\r\n";
}

struct Disk_full_case {
    const char* name;
    rlim_t limit;
    std::size_t filler;
    int copies;
    bool output_is_input;
};

void PrintTo(const Disk_full_case& c, std::ostream* os) { *os << c.name; }

class DiskFull : public ::testing::TestWithParam<Disk_full_case> {};

TEST_P(DiskFull, FailsWithTheOldFileWholeAndNoTemporaryFile) {
    const Disk_full_case& c = GetParam();
    test::Scratch_dir dir;
    const std::string input = layout_with_filler(c.filler);
    ASSERT_LT(input.size(), c.limit);
    ASSERT_GT(input.size() * static_cast<std::size_t>(c.copies + 1), c.limit);  // the output cannot fit
    test::write_bytes(dir.file("in.ini"), input);
    const std::string out = c.output_is_input ? "in.ini" : "out.ini";
    if (!c.output_is_input) test::write_bytes(dir.file("out.ini"), "old");

    test::Run_options options;
    options.file_size_limit = c.limit;
    const test::Run_result result = test::run_program(copy_a1("in.ini", out, c.copies), dir.path, options);

    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, refused("in.ini", out, c.copies));
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), input);
    std::vector<std::string> names{"in.ini"};
    if (!c.output_is_input) {
        EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
        names.push_back("out.ini");
    }
    EXPECT_EQ(test::list_dir(dir.path), names);
}

// The tidy pass hands the file 1 MiB at a time and writes a line of 1 MiB or
// more straight out: the limit is met at the closing write, in the middle of
// the buffered writes, and inside a huge line.
INSTANTIATE_TEST_SUITE_P(
    Limits, DiskFull,
    ::testing::Values(Disk_full_case{"at_the_last_write_output_is_input", 64 << 10, 10 << 10, 20, true},
                      Disk_full_case{"at_the_last_write_new_output", 64 << 10, 10 << 10, 20, false},
                      Disk_full_case{"between_buffered_writes_output_is_input", 1536 << 10, 100 << 10, 20, true},
                      Disk_full_case{"inside_a_huge_line_output_is_input", 4 << 20, 2 << 20, 3, true},
                      Disk_full_case{"inside_a_huge_line_new_output", 4 << 20, 2 << 20, 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaultInjection, UnderTheLimitTheRunSucceeds) {
    // The limit itself is not what fails the runs above.
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::Run_options options;
    options.file_size_limit = 64 << 10;
    const test::Run_result result = test::run_program(copy_a1("in.ini", "in.ini"), dir.path, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, done("in.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), written);
}

// ---- Outputs that cannot be written: refused, nothing touched.

struct Refusal_case {
    const char* name;
    const char* out;
    void (*prepare)(const test::Scratch_dir& dir);
};

void no_preparation(const test::Scratch_dir&) {}
void make_folder(const test::Scratch_dir& dir) { fs::create_directory(dir.file("sub")); }
void make_old_output(const test::Scratch_dir& dir) { test::write_bytes(dir.file("out.ini"), "old"); }
void make_link_loop(const test::Scratch_dir& dir) {
    fs::create_symlink("b.ini", dir.file("a.ini"));
    fs::create_symlink("a.ini", dir.file("b.ini"));
}
void make_link_into_missing_folder(const test::Scratch_dir& dir) {
    fs::create_symlink("nowhere/out.ini", dir.file("link.ini"));
}
// The system cannot follow a link to nothing without making the file it names.
void make_link_to_missing_file(const test::Scratch_dir& dir) {
    fs::create_directory(dir.file("real"));
    fs::create_symlink("real/new.ini", dir.file("link.ini"));
}

void PrintTo(const Refusal_case& c, std::ostream* os) { *os << c.name; }

class Refused : public ::testing::TestWithParam<Refusal_case> {};

TEST_P(Refused, ReportsCantWriteAndLeavesTheFolderAsItWas) {
    const Refusal_case& c = GetParam();
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    c.prepare(dir);
    const std::vector<std::string> before = test::list_dir(dir.path);
    const bool had_old = test::file_exists(dir.file("out.ini"));

    const test::Run_result result = test::run_program(copy_a1("in.ini", c.out), dir.path);

    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, refused("in.ini", c.out));
    EXPECT_EQ(test::list_dir(dir.path), before);
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), layout);
    if (had_old) {
        EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
    }
    for (const char* folder : {"sub", "real"}) {
        if (fs::is_directory(dir.file(folder))) {
            EXPECT_TRUE(test::list_dir(dir.file(folder)).empty()) << folder;
        }
    }
    if (c.prepare == make_link_loop) {
        EXPECT_EQ(fs::read_symlink(dir.file("a.ini")).string(), "b.ini");
        EXPECT_EQ(fs::read_symlink(dir.file("b.ini")).string(), "a.ini");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, Refused,
    ::testing::Values(Refusal_case{"in_a_missing_folder", "nowhere/out.ini", no_preparation},
                      Refusal_case{"naming_a_folder", "sub", make_folder},
                      Refusal_case{"naming_the_current_folder", ".", no_preparation},
                      Refusal_case{"ending_in_a_slash_after_a_file", "out.ini/", make_old_output},
                      Refusal_case{"ending_in_a_slash_after_a_folder", "sub/", make_folder},
                      Refusal_case{"empty", "", no_preparation},
                      Refusal_case{"a_loop_of_links", "a.ini", make_link_loop},
                      Refusal_case{"a_link_into_a_missing_folder", "link.ini", make_link_into_missing_folder},
                      Refusal_case{"a_link_to_a_missing_file", "link.ini", make_link_to_missing_file}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Permission cases: run as an unprivileged user, since root may write anything.

bool can_drop_privileges() { return ::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) == 0; }

test::Run_options unprivileged() {
    test::Run_options options;
    options.who = test::Run_as::unprivileged;
    return options;
}

TEST(FaultInjection, WritableOutputInAReadOnlyFolderIsRefusedUnchanged) {
    if (!can_drop_privileges()) GTEST_SKIP() << "running as root without setpriv: root may write in a read-only folder";
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    fs::permissions(dir.file("out.ini"), fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec);
    // No temporary file can be made beside the output, so it cannot be replaced safely.
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const test::Run_result result = test::run_program(copy_a1("in.ini", "out.ini"), dir.path, unprivileged());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, refused("in.ini", "out.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
}

TEST(FaultInjection, UnreadableInputIsCantOpen) {
    if (!can_drop_privileges()) GTEST_SKIP() << "running as root without setpriv: root may read any file";
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    fs::permissions(dir.file("in.ini"), fs::perms::owner_write);
    fs::permissions(dir.path, fs::perms::all);
    const test::Run_result result = test::run_program(copy_a1("in.ini", "in.ini"), dir.path, unprivileged());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console,
              "In: in.ini\nOut: in.ini\nMeter name: A1\nCopies: 1\nXshift: 4\nYshift: 0\nERROR: Can't open file: in.ini\n");
    fs::permissions(dir.file("in.ini"), fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), layout);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini"}));
}

TEST(FaultInjection, InputFolderIsCantOpen) {
    test::Scratch_dir dir;
    fs::create_directory(dir.file("in.ini"));
    const test::Run_result result = test::run_program(copy_a1("in.ini", "out.ini"), dir.path);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console,
              "In: in.ini\nOut: out.ini\nMeter name: A1\nCopies: 1\nXshift: 4\nYshift: 0\nERROR: Can't open file: in.ini\n");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini"}));
}

#if defined(__SANITIZE_ADDRESS__)
#define QUARVEL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARVEL_UNDER_ASAN 1
#endif
#endif

// Memory that runs out is a failure like any other: an endless input, and a
// value of 20 million digits whose copy template does not fit.
TEST(FaultInjection, MemoryThatRunsOutIsReportedNotACrash) {
#ifdef QUARVEL_UNDER_ASAN
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit this case sets";
#endif
    const struct {
        std::string in, layout, message;
    } cases[] = {{"/dev/zero", "", "Can't read file: /dev/zero"},
                 {"in.ini", "[Meter 1]\r\nName=A1\r\nP=" + std::string(20 << 20, '1') + "\r\n", "Can't write file: in.ini"}};
    for (const auto& c : cases) {
        test::Scratch_dir dir;
        if (!c.layout.empty()) test::write_bytes(dir.file("in.ini"), c.layout);
        test::Run_options options;
        options.address_space_limit = rlim_t{512} << 20;
        options.file_size_limit = std::int64_t{64} << 20;
        const test::Run_result result = test::run_program({c.in, "in.ini", "A1", "1", "4", "0", "P"}, dir.path, options);
        EXPECT_EQ(result.status, 1) << c.in;
        EXPECT_EQ(result.console.substr(result.console.rfind("ERROR: ")), "ERROR: " + c.message + "\n");
        EXPECT_EQ(result.errors, "quarvel: " + c.message.substr(c.message.find(": ") + 2) + ": not enough memory\n");
        EXPECT_EQ(test::list_dir(dir.path), c.layout.empty() ? std::vector<std::string>{} : std::vector<std::string>{"in.ini"});
        if (!c.layout.empty()) {
            EXPECT_TRUE(test::read_bytes(dir.file("in.ini")) == c.layout);
        }
    }
}

// ---- Interrupted runs: the old output stays, the temporary file goes.

class Interrupted : public ::testing::TestWithParam<int> {};

TEST_P(Interrupted, LeavesTheOldOutputAndNoTemporaryFile) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    std::vector<std::string> argv_text{QUARVEL_EXE, "in.ini", "out.ini", "A1", "2000000000", "4", "0"};
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(null_fd, 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(GetParam(), SIG_DFL);
        // Long enough (about half a second) for the signal to come while the
        // copies are written; should it never come, the run stops at 256 MB.
        const rlimit limit{rlim_t{256} << 20, rlim_t{256} << 20};
        const rlimit no_core{0, 0};
        if (::dup2(null_fd, 1) < 0 || ::chdir(dir.path.c_str()) != 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
            ::setrlimit(RLIMIT_CORE, &no_core) != 0)
            ::_exit(125);
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    ::close(null_fd);
    // Wait until the copies are being written: the tool holds a file of the
    // folder open that is neither the layout nor the output (a temporary
    // name, or a file without one).
    const std::string folder = fs::canonical(dir.path).string() + "/";
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    bool writing = false;
    for (int poll = 0; poll < 2000 && !writing; ++poll) {
        std::error_code error;
        for (const auto& fd : fs::directory_iterator(fds, error)) {
            const std::string open = fs::read_symlink(fd.path(), error).string();
            writing = writing || (open.rfind(folder, 0) == 0 && open != folder + "in.ini" && open != folder + "out.ini");
        }
        if (!writing) ::usleep(5000);
    }
    ::kill(pid, GetParam());
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    EXPECT_TRUE(writing);
    ASSERT_TRUE(WIFSIGNALED(raw)) << "exit status " << (WIFEXITED(raw) ? WEXITSTATUS(raw) : -1);
    EXPECT_EQ(WTERMSIG(raw), GetParam());
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), "old");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
}

// Ctrl+C, a kill, a closed terminal, Ctrl+\\, and signals a script or a timer may send.
INSTANTIATE_TEST_SUITE_P(Signals, Interrupted, ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM),
                         [](const auto& info) { return "signal_" + std::to_string(info.param); });

// ---- Outputs that are replaced in place of something special.

TEST(FaultInjection, LinkChainKeepsEveryLinkAndReplacesTheFinalTarget) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    fs::create_directory(dir.file("real"));
    test::write_bytes(dir.file("real/target.ini"), "old");
    test::write_bytes(dir.file("real/other.ini"), "other");
    fs::create_symlink("real/target.ini", dir.file("second.ini"));
    fs::create_symlink("second.ini", dir.file("first.ini"));
    const test::Run_result result = test::run_program(copy_a1("in.ini", "first.ini"), dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, done("first.ini"));
    EXPECT_EQ(fs::read_symlink(dir.file("first.ini")).string(), "second.ini");
    EXPECT_EQ(fs::read_symlink(dir.file("second.ini")).string(), "real/target.ini");
    EXPECT_EQ(test::read_bytes(dir.file("real/target.ini")), written);
    EXPECT_EQ(test::read_bytes(dir.file("real/other.ini")), "other");
    EXPECT_EQ(test::list_dir(dir.file("real")), (std::vector<std::string>{"other.ini", "target.ini"}));
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"first.ini", "in.ini", "real", "second.ini"}));
}

// A relative link target is found beside the link, not in the run's folder;
// a chain as long as the system follows (40 links) is followed to its end.
TEST(FaultInjection, LinksAreFollowedAsTheSystemFollowsThem) {
    for (const int links : {1, 40}) {
        test::Scratch_dir dir;
        test::write_bytes(dir.file("in.ini"), layout);
        fs::create_directory(dir.file("sub"));
        test::write_bytes(dir.file("sub/target.ini"), "old");
        std::string next = "target.ini";
        for (int i = links; i > 0; --i) {
            const std::string name = "link" + std::to_string(i) + ".ini";
            fs::create_symlink(next, dir.file("sub/" + name));
            next = name;
        }
        const test::Run_result result = test::run_program(copy_a1("in.ini", "sub/" + next), dir.path);
        EXPECT_EQ(result.status, 0) << links;
        EXPECT_EQ(test::read_bytes(dir.file("sub/target.ini")), written) << links;
        EXPECT_TRUE(fs::is_symlink(dir.file("sub/link1.ini"))) << links;
        EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "sub"})) << links;
        EXPECT_EQ(test::list_dir(dir.file("sub")).size(), static_cast<std::size_t>(links) + 1) << links;
    }
}

TEST(FaultInjection, LinkToTheInputUnderADiskLimitLeavesBothWhole) {
    test::Scratch_dir dir;
    const std::string input = layout_with_filler(10 << 10);
    test::write_bytes(dir.file("in.ini"), input);
    fs::create_symlink("in.ini", dir.file("link.ini"));
    test::Run_options options;
    options.file_size_limit = 64 << 10;
    const test::Run_result result = test::run_program(copy_a1("in.ini", "link.ini", 20), dir.path, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, refused("in.ini", "link.ini", 20));
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), input);
    EXPECT_EQ(fs::read_symlink(dir.file("link.ini")).string(), "in.ini");
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "link.ini"}));
}

class UnusualMode : public ::testing::TestWithParam<unsigned> {};

TEST_P(UnusualMode, IsKeptWhenTheOutputIsReplaced) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    test::write_bytes(dir.file("out.ini"), "old");
    ASSERT_EQ(::chmod(dir.file("out.ini").c_str(), GetParam()), 0);
    ASSERT_EQ(mode_of(dir.file("out.ini")), GetParam());
    const test::Run_result result = test::run_program(copy_a1("in.ini", "out.ini"), dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, done("out.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), written);
    EXPECT_EQ(mode_of(dir.file("out.ini")), GetParam());
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
}

// Odd owner/other bits (writable by others, not by the group), set-user-id and set-group-id on an executable file,
// the sticky bit, and a read-only file that root may still replace.
INSTANTIATE_TEST_SUITE_P(Modes, UnusualMode, ::testing::Values(0602u, 0604u, 0060u, 04755u, 02775u, 06711u, 01666u),
                         [](const auto& info) {
                             char text[16];
                             std::snprintf(text, sizeof text, "mode_%04o", info.param);
                             return std::string(text);
                         });

TEST(FaultInjection, UnusualModeUnderADiskLimitKeepsContentAndMode) {
    test::Scratch_dir dir;
    const std::string input = layout_with_filler(10 << 10);
    test::write_bytes(dir.file("in.ini"), input);
    ASSERT_EQ(::chmod(dir.file("in.ini").c_str(), 04751), 0);
    test::Run_options options;
    options.file_size_limit = 64 << 10;
    const test::Run_result result = test::run_program(copy_a1("in.ini", "in.ini", 20), dir.path, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), input);
    EXPECT_EQ(mode_of(dir.file("in.ini")), 04751u);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini"}));
}

TEST(FaultInjection, TemporaryFileFitsWhereverTheOutputFits) {
    std::string near_the_path_limit;
    for (int i = 0; i < 2040; ++i) near_the_path_limit += "./";
    const struct {
        std::string given;  // the output argument
        std::string name;   // the file it names
    } cases[] = {
        {std::string(251, 'n') + ".ini", std::string(251, 'n') + ".ini"},  // the longest name there is
        {near_the_path_limit + "out.ini", "out.ini"},  // a path a few bytes under the limit
    };
    for (const auto& c : cases) {
        test::Scratch_dir dir;
        test::write_bytes(dir.file("in.ini"), layout);
        const test::Run_result result = test::run_program(copy_a1("in.ini", c.given), dir.path);
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(result.console, done(c.given));
        EXPECT_EQ(test::read_bytes(dir.file(c.name)), written);
        EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", c.name}));
    }
}

TEST(FaultInjection, CharacterDeviceInTheFolderStaysADevice) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (needs root)";
    const test::Run_result result = test::run_program(copy_a1("in.ini", "null"), dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(fs::is_character_file(dir.file("null")));
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "null"}));
}

// ---- Pipes: a reader that goes away must fail the run with a message, and a
// closed console must not stop the output from being written.

TEST(FaultInjection, PipeWhoseReaderLeavesIsCantWrite) {
    test::Scratch_dir dir;
    // More than a pipe holds, so the tool is still writing when the reader leaves.
    const std::string input = layout_with_filler(512 << 10);
    test::write_bytes(dir.file("in.ini"), input);
    ASSERT_EQ(::mkfifo(dir.file("pipe.ini").c_str(), 0600), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        const int fd = ::open(dir.file("pipe.ini").c_str(), O_RDONLY);
        char byte = 0;
        if (fd >= 0) (void)::read(fd, &byte, 1);
        ::_exit(0);
    }
    const test::Run_result result = test::run_program(copy_a1("in.ini", "pipe.ini"), dir.path);
    // A tool that never opened the pipe would leave the reader waiting.
    ::kill(reader, SIGKILL);
    int raw = 0;
    ::waitpid(reader, &raw, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.console, refused("in.ini", "pipe.ini"));
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), input);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "pipe.ini"}));
}

TEST(FaultInjection, ClosedConsoleStillWritesTheOutput) {
    test::Scratch_dir dir;
    test::write_bytes(dir.file("in.ini"), layout);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);  // nobody will read the console
    test::Run_options options;
    options.stdout_fd = ends[1];
    const test::Run_result result = test::run_program(copy_a1("in.ini", "out.ini"), dir.path, options);
    ::close(ends[1]);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_bytes(dir.file("out.ini")), written);
    EXPECT_EQ(test::list_dir(dir.path), (std::vector<std::string>{"in.ini", "out.ini"}));
}

// ---- The temporary file itself.

// Where the system makes files without a name, the new files have none until
// the end; elsewhere each has a fresh temporary name beside the output.
TEST(FaultInjection, TemporaryFilesAreFreshAndBesideTheOutput) {
    test::Scratch_dir dir;
    Safe_output first;
    Safe_output second;
    for (Safe_output* output : {&first, &second}) {
        ASSERT_FALSE(lock_output(dir.file("out.ini"), *output));
        ASSERT_FALSE(begin_output(*output));
    }
    const std::vector<std::string> names = test::list_dir(dir.path);
    EXPECT_TRUE(names.empty() || names.size() == 2) << names.size();  // different, when there are two
    for (const std::string& name : names) {
        EXPECT_TRUE(std::regex_match(name, std::regex("out\\.ini\\.tmp\\.[0-9a-f]{16}"))) << name;
        struct stat st {};
        ASSERT_EQ(::lstat(dir.file(name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
    }
}

TEST(FaultInjection, TemporaryFilesGoWithTheRun) {
    test::Scratch_dir dir;
    {
        Safe_output output;
        ASSERT_FALSE(lock_output(dir.file("out.ini"), output));
        ASSERT_FALSE(begin_output(output));
    }
    EXPECT_TRUE(test::list_dir(dir.path).empty());
}

}  // namespace
}  // namespace quarvel

#endif
