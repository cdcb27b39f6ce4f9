// Safety with other programs and under faults, end to end, with the
// file-operation shim preloaded into the tool: injected failures, concurrent
// runs, a save during the run, a change while reading, what a replaced output
// keeps, and what killed runs leave behind.
#include <gtest/gtest.h>

#ifdef _WIN32

TEST(Safety, LinuxOnly) { GTEST_SKIP() << "the file-operation shim is a Linux preload library"; }

#else

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "shim_support.h"
#include "test_support.h"

namespace quarvel {
namespace {

using Names = std::vector<std::string>;

const std::string layout = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n");

std::vector<std::string> copy_a1(const std::string& in, const std::string& out) {
    return {in, out, "A1", "1", "4", "0"};
}

// `text` after `times` in-place runs of copy_a1 one after the other.
std::string applied(const std::string& text, int times) {
    test::Scratch_dir dir;
    test::Scratch_dir io;
    test::write_bytes(dir.file("in.ini"), text);
    for (int i = 0; i < times; ++i) {
        const test::Tool_exit run = test::run_tool_child(copy_a1("in.ini", "in.ini"), dir.path, {}, io.file("run"));
        if (run.status != 0) return "(the tool failed: " + run.console + run.errors + ")";
    }
    return test::read_bytes(dir.file("in.ini"));
}

std::string last_line(const std::string& console) {
    std::string text = console;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

void expect_done(const test::Tool_exit& run) {
    EXPECT_EQ(run.status, 0) << run.console << run.errors;
    EXPECT_EQ(last_line(run.console), "DONE: 1 copies made.");
}

// A failure as the user sees it: the message last on standard output, no
// DONE, exit 1, and one line on standard error saying why.
void expect_refused(const test::Tool_exit& run, const std::string& message) {
    EXPECT_EQ(run.status, 1) << "signal " << run.signal;
    EXPECT_EQ(last_line(run.console), "ERROR: " + message);
    EXPECT_EQ(run.console.find("DONE: "), std::string::npos) << run.console;
    EXPECT_EQ(run.errors.rfind("quarvel: ", 0), 0u) << run.errors;
    EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << run.errors;
}

unsigned mode_of(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0;
}

// The value of an extended attribute, or "(none)".
std::string xattr_of(const std::string& path, const char* name) {
    char value[512];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(n));
}

// The kernel's binary form of the ACL "u::rw-,u:nobody:<p>,g::r--,m::<p>,
// o::---" (<p> r-- by default: mode 0640): a version word, then tag,
// permissions and id per entry, little-endian. Set as an attribute, it needs
// no ACL package.
std::string acl_naming_nobody(unsigned long nobody = 4) {
    std::string bytes;
    auto put = [&bytes](unsigned long value, int size) {
        for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    const unsigned long no_id = 0xffffffffUL;
    put(2, 4);
    const unsigned long entries[][3] = {
        {0x01, 6, no_id}, {0x02, nobody, 65534}, {0x04, 4, no_id}, {0x10, nobody, no_id}, {0x20, 0, no_id}};
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return bytes;
}

const char* const acl_name = "system.posix_acl_access";

bool set_xattr(const std::string& path, const char* name, const std::string& value) {
    return ::setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

// A test folder for the tool and a control folder for its console, the
// shim's log and the pause files.
class Shim_test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::shim_available()) GTEST_SKIP() << test::shim_missing_reason();
    }
    test::Tool_child start(const std::vector<std::string>& args, const std::vector<std::string>& switches,
                           const std::string& tag) {
        return test::start_tool(args, dir.path, switches, control.file(tag));
    }
    test::Tool_exit run(const std::vector<std::string>& args, const std::vector<std::string>& switches = {},
                        const std::string& tag = "run") {
        return test::wait_tool(start(args, switches, tag));
    }
    // Starts a run that stops at `call` (see the shim's switches) and waits
    // until it is there; release(tag) lets it go on.
    test::Tool_child start_paused(const std::vector<std::string>& args, const std::string& call, const std::string& tag,
                                  const char* variable = "QUARVEL_SHIM_PAUSE") {
        test::Tool_child child = start(args, {std::string(variable) + "=" + call + "=" + control.file(tag)}, tag);
        paused = test::wait_for_file(control.file(tag) + ".paused", child);
        return child;
    }
    void release(const std::string& tag) { test::write_bytes(control.file(tag), ""); }

    test::Scratch_dir dir;
    test::Scratch_dir control;
    bool paused = false;
};

template <typename Param>
class Shim_table : public Shim_test, public ::testing::WithParamInterface<Param> {};

template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// ---- Injected failures: every one is reported, none leaves litter.

struct Injected_case {
    const char* name;
    const char* switch_;     // one shim switch
    bool acl;                // the layout carries a POSIX ACL
    bool after_the_replace;  // the failure comes when the new file is already in place
};

void PrintTo(const Injected_case& c, std::ostream* os) { *os << c.name; }

using InjectedFailure = Shim_table<Injected_case>;

TEST_P(InjectedFailure, IsReportedAndLeavesTheOldFileOrTheWholeNewOne) {
    const Injected_case& c = GetParam();
    test::write_bytes(dir.file("in.ini"), layout);
    ASSERT_EQ(::chmod(dir.file("in.ini").c_str(), 0640), 0);
    if (c.acl && !set_xattr(dir.file("in.ini"), acl_name, acl_naming_nobody()))
        GTEST_SKIP() << "no POSIX ACLs on this file system";
    const std::string acl_before = xattr_of(dir.file("in.ini"), acl_name);

    const test::Tool_exit result = run(copy_a1("in.ini", "in.ini"), {c.switch_});

    expect_refused(result, "Can't write file: in.ini");
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), c.after_the_replace ? applied(layout, 1) : layout);
    EXPECT_EQ(mode_of(dir.file("in.ini")), 0640u);
    EXPECT_EQ(xattr_of(dir.file("in.ini"), acl_name), acl_before);
    EXPECT_EQ(test::list_dir(dir.path), Names{"in.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Calls, InjectedFailure,
    ::testing::Values(Injected_case{"temp_fsync_eio", "QUARVEL_SHIM_FAIL=fsync.file@1=EIO", false, false},
                      Injected_case{"folder_fsync_eio", "QUARVEL_SHIM_FAIL=fsync.dir@1=EIO", false, true},
                      Injected_case{"fchmod_eperm", "QUARVEL_SHIM_FAIL=fchmod@1=EPERM", false, false},
                      Injected_case{"fsetxattr_of_the_acl_eio", "QUARVEL_SHIM_FAIL=fsetxattr@1=EIO", true, false},
                      Injected_case{"rename_eio", "QUARVEL_SHIM_FAIL=rename@1=EIO", false, false},
                      Injected_case{"rename_done_but_eio", "QUARVEL_SHIM_FAIL_AFTER=rename@1=EIO", false, true},
                      Injected_case{"write_enospc", "QUARVEL_SHIM_FAIL=write@1=ENOSPC", false, false}),
    case_name<Injected_case>);

// ---- Concurrent runs on one layout.

using ConcurrentRuns = Shim_test;

// The first run paused before its replace, or after it, its names not yet done with; the
// second naming the layout, or a descriptor of it resolved once to the file: it waits.
TEST_F(ConcurrentRuns, SecondRunWaitsAndWorksOnTheFirstRunsResult) {
    const std::string layout_path = dir.file("in.ini");
    const struct {
        const char *pause, *variable, *name;
    } cases[] = {{"fsync.file@1", "QUARVEL_SHIM_PAUSE", "in.ini"},
                 {"rename@1", "QUARVEL_SHIM_PAUSE_AFTER", "in.ini"},
                 {"fsync.file@1", "QUARVEL_SHIM_PAUSE", "/dev/stdin"}};
    for (const auto& c : cases) {
        const std::string tag = std::to_string(&c - cases);
        test::write_bytes(layout_path, layout);
        const test::Tool_child first = start_paused(copy_a1("in.ini", "in.ini"), c.pause, "first" + tag, c.variable);
        ASSERT_TRUE(paused);
        const test::Child_options from_the_layout{test::Run_as::self, false, layout_path.c_str()};
        const test::Tool_child second =
            test::start_tool(copy_a1(c.name, c.name), dir.path, {}, control.file("second" + tag), from_the_layout);
        ::usleep(500 * 1000);
        release("first" + tag);
        expect_done(test::wait_tool(first));
        expect_done(test::wait_tool(second));
        EXPECT_EQ(test::read_bytes(layout_path), applied(layout, 2)) << c.pause << " " << c.name;
        EXPECT_EQ(test::list_dir(dir.path), Names{"in.ini"});
    }
}

TEST_F(ConcurrentRuns, SecondRunGivesUpWhileTheFirstHoldsTheLayout) {
    test::write_bytes(dir.file("in.ini"), layout);
    const test::Tool_child first = start_paused(copy_a1("in.ini", "in.ini"), "fsync.file@1", "first");
    ASSERT_TRUE(paused);
    // The first run is held until the second has given up (or, wrongly, finished).
    const test::Tool_exit second = test::wait_tool(start(copy_a1("in.ini", "in.ini"), {}, "second"), 25);
    release("first");
    expect_done(test::wait_tool(first));
    expect_refused(second, "Can't write file: in.ini");
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), applied(layout, 1));
    EXPECT_EQ(test::list_dir(dir.path), Names{"in.ini"});
}

// ---- Another program saves the output while the run is going.

const std::string editors_text = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n\n[Meter 7]\nName=Saved\n");

void rename_save(const std::string& path) {
    test::write_bytes(path + ".new", editors_text);
    std::rename((path + ".new").c_str(), path.c_str());
}

// Same size as `layout`: only the times tell that it changed.
const std::string same_size_text = test::crlf("[Meter 1]\nName=B1\nLeft=0\nRight=4\n");

void in_place_save(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    (void)!::pwrite(fd, same_size_text.data(), same_size_text.size(), 0);
    ::close(fd);
}

// The same size, and its times put back: only the status change time tells.
void in_place_save_keeping_times(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    in_place_save(path);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void create_file(const std::string& path) { test::write_bytes(path, editors_text); }

struct Save_case {
    const char* name;
    const char* out;    // out.ini starts as a copy of the layout for an in-place save
    const char* saves;  // the file the other program saves
    void (*save)(const std::string& path);
    const std::string* saved;
    const char* message;
    const char* pause = "fsync.file@1";  // the moment of the save
};

void PrintTo(const Save_case& c, std::ostream* os) { *os << c.name; }

using SaveDuringTheRun = Shim_table<Save_case>;

TEST_P(SaveDuringTheRun, KeepsTheOtherProgramsVersion) {
    const Save_case& c = GetParam();
    if (!QUARVEL_ATOMIC_SWAP && c.pause != std::string("fsync.file@1"))
        GTEST_SKIP() << "without an atomic swap, the check right before the rename is all there is";
    test::write_bytes(dir.file("in.ini"), layout);
    if (c.save == in_place_save) test::write_bytes(dir.file(c.out), layout);
    const test::Tool_child child = start_paused(copy_a1("in.ini", c.out), c.pause, "tool");
    ASSERT_TRUE(paused);
    ::usleep(20 * 1000);  // past the file system's clock tick, so the times differ
    c.save(dir.file(c.saves));
    release("tool");
    expect_refused(test::wait_tool(child), c.message);
    EXPECT_EQ(test::read_bytes(dir.file(c.saves)), *c.saved);
    if (std::string(c.saves) != "in.ini") {
        EXPECT_EQ(test::read_bytes(dir.file("in.ini")), layout);
    }
    Names names{"in.ini"};
    if (std::string(c.out) != "in.ini" && std::string(c.saves) == c.out) names.push_back(c.out);
    EXPECT_EQ(test::list_dir(dir.path), names);
}

INSTANTIATE_TEST_SUITE_P(Saves, SaveDuringTheRun,
                         ::testing::Values(Save_case{"rename_save_of_the_layout", "in.ini", "in.ini", rename_save,
                                                     &editors_text, "Can't read file: in.ini"},
                                           Save_case{"rename_save_of_the_input", "out.ini", "in.ini", rename_save,
                                                     &editors_text, "Can't read file: in.ini"},
                                           Save_case{"in_place_save_same_size", "out.ini", "out.ini", in_place_save,
                                                     &same_size_text, "Can't write file: out.ini"},
                                           Save_case{"in_place_save_at_the_swap", "out.ini", "out.ini", in_place_save,
                                                     &same_size_text, "Can't write file: out.ini", "rename@1"},
                                           Save_case{"new_output_created", "out.ini", "out.ini", create_file,
                                                     &editors_text, "Can't write file: out.ini"},
                                           Save_case{"in_place_save_of_the_input_with_its_times_put_back", "out.ini",
                                                     "in.ini", in_place_save_keeping_times, &same_size_text,
                                                     "Can't read file: in.ini"}),
                         case_name<Save_case>);

// ---- The input changes while the tool reads it.

// A layout of about 3 MB, so that the output goes out in several writes and
// the first comes before the input is read to its end.
std::string big_layout() {
    std::string text = "[Meter 1]\nName=A1\nLeft=0\nRight=4\n";
    for (int meter = 2; meter < 40000; ++meter)
        text += "[Meter " + std::to_string(meter) + "]\nName=M" + std::to_string(meter) +
                "\nLeft=0\nRight=4\nText=a line to make the layout big\n";
    return test::crlf(text);
}

void change_the_end(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    struct stat st {};
    ::fstat(fd, &st);
    (void)!::pwrite(fd, "CHANGED", 7, st.st_size - 20);
    ::close(fd);
}

void cut_short(const std::string& path) { (void)!::truncate(path.c_str(), 1000); }

struct Reading_case {
    const char* name;
    void (*change)(const std::string& path);
};

void PrintTo(const Reading_case& c, std::ostream* os) { *os << c.name; }

using ChangeWhileReading = Shim_table<Reading_case>;

TEST_P(ChangeWhileReading, IsCantReadAndReplacesNothing) {
    test::write_bytes(dir.file("in.ini"), big_layout());
    test::write_bytes(dir.file("out.ini"), "old");
    const test::Tool_child child = start_paused(copy_a1("in.ini", "out.ini"), "write@1", "tool");
    ASSERT_TRUE(paused);
    ::usleep(20 * 1000);  // past the file system's clock tick, so the times differ
    GetParam().change(dir.file("in.ini"));
    release("tool");
    const test::Tool_exit result = test::wait_tool(child);
    EXPECT_EQ(result.signal, 0) << "the tool crashed";
    expect_refused(result, "Can't read file: in.ini");
    EXPECT_TRUE(test::read_bytes(dir.file("out.ini")) == "old") << "out.ini was replaced";
    EXPECT_EQ(test::list_dir(dir.path), (Names{"in.ini", "out.ini"}));
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangeWhileReading,
                         ::testing::Values(Reading_case{"changed_in_place", change_the_end},
                                           Reading_case{"cut_short", cut_short}),
                         case_name<Reading_case>);

// ---- What a replaced output keeps.

struct Kept_case {
    const char* name;
    // Gives the layout the property; false when this system cannot.
    bool (*give)(const std::string& path);
    // The property as text, compared before and after the run.
    std::string (*show)(const std::string& path);
};

bool give_mode(const std::string& path) { return ::chmod(path.c_str(), 0640) == 0; }
std::string show_mode(const std::string& path) { return std::to_string(mode_of(path)); }

bool give_user_xattr(const std::string& path) { return set_xattr(path, "user.quarvel.note", "kept"); }
std::string show_user_xattr(const std::string& path) { return xattr_of(path, "user.quarvel.note"); }

bool give_acl(const std::string& path) { return set_xattr(path, acl_name, acl_naming_nobody()); }
std::string show_acl(const std::string& path) { return xattr_of(path, acl_name) + " mode " + show_mode(path); }

bool give_owner(const std::string& path) { return ::geteuid() == 0 && ::chown(path.c_str(), 65534, 65534) == 0; }
std::string show_owner(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
}

void PrintTo(const Kept_case& c, std::ostream* os) { *os << c.name; }

class ReplacedOutputKeeps : public ::testing::TestWithParam<Kept_case> {};

TEST_P(ReplacedOutputKeeps, ItsMetadata) {
    const Kept_case& c = GetParam();
    test::Scratch_dir dir;
    test::Scratch_dir io;
    test::write_bytes(dir.file("in.ini"), layout);
    if (!c.give(dir.file("in.ini")))
        GTEST_SKIP() << c.name << " cannot be set here (needs root, or file system support)";
    const std::string before = c.show(dir.file("in.ini"));
    const test::Tool_exit result = test::run_tool_child(copy_a1("in.ini", "in.ini"), dir.path, {}, io.file("run"));
    expect_done(result);
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), applied(layout, 1));
    EXPECT_EQ(c.show(dir.file("in.ini")), before);
}

INSTANTIATE_TEST_SUITE_P(Metadata, ReplacedOutputKeeps,
                         ::testing::Values(Kept_case{"mode_0640", give_mode, show_mode},
                                           Kept_case{"user_extended_attribute", give_user_xattr, show_user_xattr},
                                           Kept_case{"posix_acl_naming_nobody", give_acl, show_acl},
                                           Kept_case{"owner_nobody_nogroup_as_root", give_owner, show_owner}),
                         case_name<Kept_case>);

// ---- Other users, sticky folders, file systems without locks, a caller that
// closed its descriptors: the system's own rules decide, nothing is lost.

std::string owner_of(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) : "?";
}

std::string is_root() { return ::geteuid() == 0 ? "" : "needs root, to be or make another user"; }

// Another user's link in a sticky, world-writable folder, to a root-only file.
std::string foreign_link(const std::string& dir) {
    if (!is_root().empty()) return is_root();
    if (test::read_bytes("/proc/sys/fs/protected_symlinks") != "1\n") return "the system's link protection is off";
    ::mkdir((dir + "/private").c_str(), 0700);
    test::write_bytes(dir + "/private/secret.ini", "secret");
    ::symlink("private/secret.ini", (dir + "/out.ini").c_str());
    return ::lchown((dir + "/out.ini").c_str(), 65534, 65534) == 0 && ::chmod(dir.c_str(), 01777) == 0 ? "" : "chown";
}
void secret_kept(const std::string& dir) { EXPECT_EQ(test::read_bytes(dir + "/private/secret.ini"), "secret"); }

// A layout of its own that the user "nobody" may write only (0200).
std::string write_only_output(const std::string& dir) {
    test::write_bytes(dir + "/out.ini", "old");
    return is_root().empty() && ::chown((dir + "/out.ini").c_str(), 65534, 65534) == 0 &&
                   ::chmod((dir + "/out.ini").c_str(), 0200) == 0 && ::chmod(dir.c_str(), 0777) == 0
               ? ""
               : "chown";
}
void output_written(const std::string& dir) {
    EXPECT_EQ(test::read_bytes(dir + "/out.ini"), applied(layout, 1));
    EXPECT_EQ(mode_of(dir + "/out.ini"), 0200u);
}

// Another user's layout that "nobody" may write, in a folder all may write.
std::string someone_elses_layout(const std::string& dir) {
    return is_root().empty() && ::chown((dir + "/in.ini").c_str(), 1, 1) == 0 &&
                   ::chmod((dir + "/in.ini").c_str(), 0666) == 0 && ::chmod(dir.c_str(), 0777) == 0
               ? ""
               : "chown";
}
void owner_kept(const std::string& dir) {
    EXPECT_EQ(test::read_bytes(dir + "/in.ini"), layout);
    EXPECT_EQ(owner_of(dir + "/in.ini"), "1:1");
}

std::string nothing(const std::string&) { return ""; }
void layout_kept(const std::string& dir) { EXPECT_EQ(test::read_bytes(dir + "/in.ini"), layout); }
void layout_written(const std::string& dir) { EXPECT_EQ(test::read_bytes(dir + "/in.ini"), applied(layout, 1)); }

// A folder whose default access list names a user: a new output gets what
// any new file there gets.
std::string default_access_list(const std::string& dir) {
    if (!set_xattr(dir, "system.posix_acl_default", acl_naming_nobody(6))) return "no POSIX ACLs on this file system";
    ::close(::open((dir + "/made.ini").c_str(), O_WRONLY | O_CREAT, 0666));
    return "";
}
void made_like_any_new_file(const std::string& dir) {
    EXPECT_EQ(xattr_of(dir + "/out.ini", acl_name), xattr_of(dir + "/made.ini", acl_name));
    EXPECT_EQ(mode_of(dir + "/out.ini"), mode_of(dir + "/made.ini"));
    ::unlink((dir + "/made.ini").c_str());
}

const char* const fifo = "in.ini.tmp.0123456789abcdef";
std::string fifo_named_like_a_leftover(const std::string& dir) {
    return ::mkfifo((dir + "/" + fifo).c_str(), 0600) == 0 ? "" : "mkfifo";
}
void fifo_untouched(const std::string& dir) {
    struct stat st {};
    EXPECT_TRUE(::lstat((dir + "/" + fifo).c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    ::unlink((dir + "/" + fifo).c_str());
}

// The temporary name every run on in.ini once used: the user's own file there
// is not the tool's, and another user's folder there (in a sticky folder) blocks nothing.
const std::string zero_name = "in.ini.tmp.0000000000000000";
std::string own_file_at_the_shared_name(const std::string& dir) { return test::write_bytes(dir + "/" + zero_name, "mine"), ""; }
void own_file_kept(const std::string& dir) { EXPECT_EQ(test::read_bytes(dir + "/" + zero_name), "mine"); }
std::string foreign_folder_at_the_shared_name(const std::string& dir) {
    const std::string at = dir + "/" + zero_name;
    return ::mkdir(at.c_str(), 0700) == 0 && ::chown(at.c_str(), 65534, 65534) == 0 && ::chmod(dir.c_str(), 01777) == 0
               ? ""
               : is_root();
}

// Another user's 0666 file or pipe at the output's name in a sticky folder: the
// system's protection of the shell's ">" (fs.protected_regular, _fifos) holds.
std::string foreign_in_a_sticky_folder(const std::string& dir, const char* setting, bool pipe) {
    const std::string out = dir + "/out.ini";
    if (!is_root().empty() || test::read_bytes(setting) == "0\n") return "needs root and " + std::string(setting);
    if (!pipe) test::write_bytes(out, "");
    return (pipe ? ::mkfifo(out.c_str(), 0666) : ::chmod(out.c_str(), 0666)) == 0 &&
                   ::chown(out.c_str(), 65534, 65534) == 0 && ::chmod(dir.c_str(), 01777) == 0
               ? ""
               : "chown";
}
std::string foreign_file(const std::string& dir) { return foreign_in_a_sticky_folder(dir, "/proc/sys/fs/protected_regular", false); }
std::string foreign_pipe(const std::string& dir) { return foreign_in_a_sticky_folder(dir, "/proc/sys/fs/protected_fifos", true); }
void foreign_kept(const std::string& dir) { EXPECT_EQ(owner_of(dir + "/out.ini"), "65534:65534"); }

std::string output_is_a_pipe(const std::string& dir) { return ::mkfifo((dir + "/out.ini").c_str(), 0600) == 0 ? "" : "mkfifo"; }
std::string input_is_a_pipe(const std::string& dir) {
    return ::unlink((dir + "/in.ini").c_str()) == 0 && ::mkfifo((dir + "/in.ini").c_str(), 0600) == 0 ? "" : "mkfifo";
}
void pipe_kept(const std::string& dir) { EXPECT_EQ(owner_of(dir + "/in.ini"), owner_of(dir)); }

// A folder this user may write in but not read: the replace cannot flush it.
std::string unreadable_folder(const std::string& dir) { return ::chmod(dir.c_str(), 0733) == 0 ? is_root() : "chmod"; }

struct Surroundings_case {
    const char* name;
    std::string (*prepare)(const std::string& dir);  // why the scene cannot be set here, or ""
    const char* out;
    const char* switch_;  // a shim switch, or ""
    test::Child_options child;
    const char* reason;  // a part of the reason line; null for a run that succeeds
    void (*check)(const std::string& dir);
    Names left;  // the folder afterwards
    const char* message = nullptr;  // the refusal, when not "Can't write file: " + out
};

void PrintTo(const Surroundings_case& c, std::ostream* os) { *os << c.name; }

using Surroundings = Shim_table<Surroundings_case>;

TEST_P(Surroundings, TheSystemsRulesHoldAndNothingIsLost) {
    const Surroundings_case& c = GetParam();
    test::write_bytes(dir.file("in.ini"), layout);
    const std::string why_not = c.prepare(dir.path);
    if (!why_not.empty()) GTEST_SKIP() << why_not;
    std::vector<std::string> switches{"QUARVEL_SHIM_LOG=" + control.file("log")};
    if (*c.switch_) switches.push_back(c.switch_);
    const test::Tool_exit result = test::wait_tool(test::start_tool(copy_a1("in.ini", c.out), dir.path, switches,
                                                                    control.file("run"), c.child));
    EXPECT_EQ(result.status, c.reason == nullptr ? 0 : 1) << result.errors;
    if (c.reason == nullptr && !c.child.console_closed) expect_done(result);
    if (c.reason != nullptr && !c.child.console_closed)
        expect_refused(result, c.message != nullptr ? c.message : std::string("Can't write file: ") + c.out);
    if (c.reason != nullptr) {
        EXPECT_NE(result.errors.find(c.reason), std::string::npos) << result.errors;
    }
    c.check(dir.path);
    for (const test::Logged_call& call : test::read_shim_log(control.file("log")))
        EXPECT_FALSE(call.text("op") == "open" && call.text("path").find(".tmp.") != std::string::npos &&
                     call.number("created") < 0)
            << "opened a leftover before looking at it: " << call.text("path");
    EXPECT_EQ(test::list_dir(dir.path), c.left);
}

const test::Child_options as_nobody{test::Run_as::unprivileged, false, nullptr};
const test::Child_options as_nobody_console_closed{test::Run_as::unprivileged, true, nullptr};
const test::Child_options console_closed{test::Run_as::self, true, nullptr};

INSTANTIATE_TEST_SUITE_P(
    Rows, Surroundings,
    ::testing::Values(
        Surroundings_case{"another_users_link_in_a_sticky_folder", foreign_link, "out.ini", "", {},
                          "a link that the system does not follow for this user", secret_kept,
                          {"in.ini", "out.ini", "private"}},
        Surroundings_case{"standard_input_and_output_closed", write_only_output, "out.ini", "",
                          as_nobody_console_closed, nullptr, output_written, {"in.ini", "out.ini"}},
        Surroundings_case{"a_writer_who_cannot_keep_owner_and_group", someone_elses_layout, "in.ini", "", as_nobody,
                          "owned by user daemon and group daemon", owner_kept, {"in.ini"}},
        Surroundings_case{"no_locks_on_the_file_system", nothing, "in.ini", "QUARVEL_SHIM_FAIL=flock@1=ENOLCK", {},
                          "no locks on this file system", layout_kept, {"in.ini"}},
        Surroundings_case{"no_locks_and_a_new_output", nothing, "out.ini", "QUARVEL_SHIM_FAIL=flock@1=ENOLCK", {},
                          nullptr, layout_kept, {"in.ini", "out.ini"}},
        Surroundings_case{"a_folder_with_a_default_access_list", default_access_list, "out.ini", "", {}, nullptr,
                          made_like_any_new_file, {"in.ini", "out.ini"}},
        Surroundings_case{"a_pipe_named_like_a_leftover", fifo_named_like_a_leftover, "in.ini", "", {}, nullptr,
                          fifo_untouched, {"in.ini"}},
        Surroundings_case{"own_file_at_the_shared_temporary_name", own_file_at_the_shared_name, "in.ini", "", {},
                          nullptr, own_file_kept, {"in.ini", zero_name}},
        Surroundings_case{"another_users_folder_at_the_shared_temporary_name", foreign_folder_at_the_shared_name,
                          "in.ini", "", {}, nullptr, layout_written, {"in.ini", zero_name}},
        Surroundings_case{"standard_output_closed_and_no_null_device", nothing, "out.ini",
                          "QUARVEL_SHIM_FAIL=open@1=ENOENT", console_closed, "the null device cannot take its place",
                          layout_kept, {"in.ini"}},
        Surroundings_case{"another_users_file_in_a_sticky_folder", foreign_file, "out.ini", "", {},
                          "another user's file in a sticky folder", foreign_kept, {"in.ini", "out.ini"}},
        Surroundings_case{"another_users_pipe_in_a_sticky_folder", foreign_pipe, "out.ini", "", {},
                          "another user's file in a sticky folder", foreign_kept, {"in.ini", "out.ini"}},
        Surroundings_case{"an_input_pipe_nobody_writes", input_is_a_pipe, "out.ini", "", {},
                          "no program was at its other end for five seconds", pipe_kept, {"in.ini"},
                          "Can't read file: in.ini"},
        Surroundings_case{"an_output_pipe_nobody_reads", output_is_a_pipe, "out.ini", "", {},
                          "no program was at its other end for five seconds", layout_kept, {"in.ini", "out.ini"}},
        Surroundings_case{"a_folder_this_user_may_not_read", unreadable_folder, "out.ini", "", as_nobody,
                          "may not read its folder", layout_kept, {"in.ini"}},
        Surroundings_case{"the_console_file_as_the_output", nothing, "/dev/stdout", "", {},
                          "where this run's console text goes", layout_kept, {"in.ini"}}),
    case_name<Surroundings_case>);

// ---- What killed and interrupted runs leave behind.

using Leftovers = Shim_test;

// Another user's file under such a name is not the tool's, whatever its name says.
TEST_F(Leftovers, KilledRunsTemporaryFileGoesWithTheNextRunUnlessAnotherUsers) {
    for (const bool foreign : {false, is_root().empty()}) {
        test::write_bytes(dir.file("in.ini"), layout);
        // Right before the replace the new file has a name on every system.
        const test::Tool_child killed = start_paused(copy_a1("in.ini", "in.ini"), "rename@1", foreign ? "k2" : "k1");
        ASSERT_TRUE(paused);
        const Names with_leftover = test::list_dir(dir.path);  // the layout and the temporary file
        ASSERT_EQ(with_leftover.size(), 2u);
        ::kill(killed.pid, SIGKILL);
        EXPECT_EQ(test::wait_tool(killed).signal, SIGKILL);
        const std::string leftover = dir.file(with_leftover[with_leftover[0] == "in.ini" ? 1 : 0]);
        ASSERT_EQ(foreign ? ::chown(leftover.c_str(), 65534, 65534) : 0, 0);
        expect_done(run(copy_a1("in.ini", "in.ini")));
        EXPECT_EQ(test::read_bytes(dir.file("in.ini")), applied(layout, 1));
        EXPECT_EQ(test::list_dir(dir.path), foreign ? with_leftover : Names{"in.ini"});
        ::unlink(leftover.c_str());
    }
}

TEST_F(Leftovers, OtherOutputsLeftoversAreKept) {
    // Two names beyond any shortening of a temporary file's name, alike up to
    // their last bytes: one's leftover is not the other's.
    const std::string first = std::string(240, 'n') + "a.ini";
    const std::string second = std::string(240, 'n') + "b.ini";
    for (const std::string& name : {first, second, std::string("in.ini")}) test::write_bytes(dir.file(name), layout);
    const test::Tool_child killed = start_paused(copy_a1(first, first), "rename@1", "killed");
    ASSERT_TRUE(paused);
    ::kill(killed.pid, SIGKILL);
    test::wait_tool(killed);
    const Names with_leftover = test::list_dir(dir.path);
    ASSERT_EQ(with_leftover.size(), 4u);

    expect_done(run(copy_a1(second, second)));
    EXPECT_EQ(test::list_dir(dir.path), with_leftover);
    EXPECT_EQ(test::read_bytes(dir.file(first)), layout);
    // A new output: the folder as it was, plus the output.
    expect_done(run(copy_a1("in.ini", "out.ini")));
    Names with_output = with_leftover;
    with_output.push_back("out.ini");
    std::sort(with_output.begin(), with_output.end());
    EXPECT_EQ(test::list_dir(dir.path), with_output);
}

TEST_F(Leftovers, CtrlCRightAfterTheTemporaryFileIsMadeLeavesNone) {
    test::write_bytes(dir.file("in.ini"), layout);
    const test::Tool_child child =
        start_paused(copy_a1("in.ini", "in.ini"), "open.new@1", "tool", "QUARVEL_SHIM_PAUSE_AFTER");
    ASSERT_TRUE(paused);
    ::kill(child.pid, SIGINT);
    ::usleep(200 * 1000);  // a handler that runs at once has run by now
    release("tool");
    EXPECT_EQ(test::wait_tool(child).signal, SIGINT);
    EXPECT_EQ(test::read_bytes(dir.file("in.ini")), layout);
    EXPECT_EQ(test::list_dir(dir.path), Names{"in.ini"});
}

}  // namespace
}  // namespace quarvel

#endif
