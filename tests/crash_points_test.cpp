// The crash-point check: a run's file operations, recorded by the shim, are
// replayed with a crash after each one. After a crash, a file holds what it
// held at its last fsync or what it holds now, and the folder holds the
// entries it had at its last fsync plus any in-order prefix of the changes
// since. At every crash point, for every such outcome, the output path must
// hold the old file or the complete new one.
#include <gtest/gtest.h>

#ifdef _WIN32

TEST(CrashPoints, LinuxOnly) { GTEST_SKIP() << "the file-operation shim is a Linux preload library"; }

#else

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "shim_support.h"
#include "test_support.h"

namespace quarvel {
namespace {

using test::Logged_call;

// ---- The disk model.

using Entries = std::map<std::string, long long>;  // name -> inode

struct Entry_change {
    enum Kind { add, move, swap, remove } kind;
    std::string from, to;
    long long ino = -1;
};

struct Folder {
    Entries durable;
    std::vector<Entry_change> pending;  // since the folder's last fsync
};

struct Content {
    long version = 0;  // bumped by every write
    long durable = 0;  // the version at the last fsync
};

struct Disk_model {
    std::map<std::string, Folder> folders;
    std::map<long long, Content> contents;
    std::vector<std::string> faults;  // calls the model cannot follow
};

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }
std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

void apply(Entries& entries, const Entry_change& change) {
    switch (change.kind) {
        case Entry_change::add:
            entries[change.to] = change.ino;
            break;
        case Entry_change::move:
            if (entries.count(change.from)) {
                entries[change.to] = entries[change.from];
                entries.erase(change.from);
            }
            break;
        case Entry_change::swap:
            std::swap(entries[change.from], entries[change.to]);
            break;
        case Entry_change::remove:
            entries.erase(change.from);
            break;
    }
}

Entries entries_with(const Folder& folder, std::size_t changes) {
    Entries entries = folder.durable;
    for (std::size_t i = 0; i < changes; ++i) apply(entries, folder.pending[i]);
    return entries;
}

Entries current_entries(const Folder& folder) { return entries_with(folder, folder.pending.size()); }

// A file the run finds already there was there, durable, before it started.
void note_existing(Disk_model& disk, const std::string& path, long long ino) {
    if (ino < 0) return;
    Folder& folder = disk.folders[folder_of(path)];
    if (!current_entries(folder).count(name_of(path))) folder.durable[name_of(path)] = ino;
}

void change_entries(Disk_model& disk, const std::string& path, Entry_change change) {
    disk.folders[folder_of(path)].pending.push_back(change);
}

void replay(Disk_model& disk, const Logged_call& call) {
    if (call.text("done") != "1" || call.number("real") < 0) return;  // nothing happened
    const std::string& op = call.text("op");
    const std::string& path = call.text("path");
    const long long ino = call.number("ino");
    if (op == "open") {
        if (call.number("created") >= 1) {  // 2: made without a name
            if (call.number("created") == 1) change_entries(disk, path, {Entry_change::add, "", name_of(path), ino});
            disk.contents[ino] = Content{};
        } else {
            note_existing(disk, path, ino);
            if (call.number("flags") & O_TRUNC) ++disk.contents[ino].version;
        }
    } else if (op == "write" || op == "pwrite" || op == "ftruncate") {
        if (call.text("kind") == "file" && (op == "ftruncate" || call.number("real") > 0)) ++disk.contents[ino].version;
    } else if (op == "fsync" || op == "fdatasync") {
        if (call.text("kind") == "dir") {
            Folder& folder = disk.folders[path];
            folder.durable = current_entries(folder);
            folder.pending.clear();
        } else {
            disk.contents[ino].durable = disk.contents[ino].version;
        }
    } else if (op == "rename" || op == "link") {
        const std::string& to = call.text("path2");
        if (op == "link" && path.rfind("/proc/self/fd/", 0) == 0)  // a name for a file made without one
            return change_entries(disk, to, {Entry_change::add, "", name_of(to), ino});
        if (folder_of(path) != folder_of(to)) {
            disk.faults.push_back(call.function + " across folders: " + path + " -> " + to);
            return;
        }
        note_existing(disk, path, ino);
        note_existing(disk, to, call.number("ino2"));
        Entry_change change{Entry_change::move, name_of(path), name_of(to), ino};
        if (op == "link")
            change.kind = Entry_change::add;
        else if (call.number("flags") & RENAME_EXCHANGE)
            change.kind = Entry_change::swap;
        change_entries(disk, path, change);
    } else if (op == "unlink" && !(call.number("flags") & AT_REMOVEDIR)) {
        note_existing(disk, path, ino);
        change_entries(disk, path, {Entry_change::remove, name_of(path), "", ino});
    }
}

// What the output path may hold after a crash: an inode at a version, or -1
// for no file at all.
struct Held {
    long long ino = -1;
    long version = 0;
    bool operator==(const Held& other) const { return ino == other.ino && version == other.version; }
};

Held held_now(const Disk_model& disk, const std::string& path) {
    const auto folder = disk.folders.find(folder_of(path));
    if (folder == disk.folders.end()) return {};
    const Entries entries = current_entries(folder->second);
    const auto entry = entries.find(name_of(path));
    if (entry == entries.end()) return {};
    const auto content = disk.contents.find(entry->second);
    return {entry->second, content == disk.contents.end() ? 0 : content->second.version};
}

struct Check_result {
    int crash_points = 0;
    int outcomes = 0;
    std::vector<std::string> bad;
};

// Replays `calls` with a crash after each; `old_file` and `new_file` are what
// the output path may hold.
Check_result check_crash_points(Disk_model disk, const std::vector<Logged_call>& calls, const std::string& out,
                                const Held& old_file, const Held& new_file) {
    Check_result result;
    for (std::size_t point = 0; point <= calls.size(); ++point) {
        if (point > 0) replay(disk, calls[point - 1]);
        ++result.crash_points;
        const Folder& folder = disk.folders[folder_of(out)];
        for (std::size_t changes = 0; changes <= folder.pending.size(); ++changes) {
            const Entries entries = entries_with(folder, changes);
            const auto entry = entries.find(name_of(out));
            std::vector<Held> outcomes;
            if (entry == entries.end()) {
                outcomes.push_back({});
            } else {
                const Content content = disk.contents[entry->second];
                outcomes.push_back({entry->second, content.durable});
                outcomes.push_back({entry->second, content.version});
            }
            for (const Held& held : outcomes) {
                ++result.outcomes;
                if (held == old_file || held == new_file) continue;
                const std::string after =
                    point == 0 ? "before the first call"
                               : "after " + calls[point - 1].function + " " + calls[point - 1].text("path");
                result.bad.push_back("crash " + after + ", " + std::to_string(changes) + " of " +
                                     std::to_string(folder.pending.size()) + " folder changes kept: " +
                                     (held.ino < 0 ? "no file"
                                                   : "inode " + std::to_string(held.ino) + " at version " +
                                                         std::to_string(held.version)));
            }
        }
    }
    return result;
}

long long ino_of(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_ino) : -1;
}

// ---- The check on real runs.

const std::string layout = test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n");
const std::string written =
    test::crlf("[Meter 1]\nName=A1\nLeft=0\nRight=4\n\n[Meter 2]\nName=A2\nLeft=4\nRight=8\n\n");

struct Crash_case {
    const char* name;
    const char* out;       // in.ini: in place; out.ini: a new output
    bool skip_temp_fsync;  // the checker's own check: this must be found
};

void PrintTo(const Crash_case& c, std::ostream* os) { *os << c.name; }

class CrashPoints : public ::testing::TestWithParam<Crash_case> {};

TEST_P(CrashPoints, OutputIsTheOldFileOrTheCompleteNewOne) {
    if (!test::shim_available()) GTEST_SKIP() << test::shim_missing_reason();
    const Crash_case& c = GetParam();
    test::Scratch_dir control;
    test::Scratch_dir scratch;
    // The recorded paths are real ones.
    const std::string dir = std::filesystem::canonical(scratch.path).string();
    test::write_bytes(dir + "/in.ini", layout);
    const std::string out = dir + "/" + c.out;

    Disk_model disk;
    for (const std::string& name : test::list_dir(dir)) disk.folders[dir].durable[name] = ino_of(dir + "/" + name);
    const Held old_file{ino_of(out), 0};

    std::vector<std::string> switches{"QUARVEL_SHIM_LOG=" + control.file("log")};
    if (c.skip_temp_fsync) switches.push_back("QUARVEL_SHIM_SKIP=fsync.file@1");
    const test::Tool_exit run =
        test::run_tool_child({"in.ini", c.out, "A1", "1", "4", "0"}, dir, switches, control.file("run"));
    ASSERT_EQ(run.status, 0) << run.console << run.errors;
    ASSERT_EQ(test::read_bytes(out), written);
    const std::vector<Logged_call> calls = test::read_shim_log(control.file("log"));

    Disk_model end = disk;
    for (const Logged_call& call : calls) replay(end, call);
    EXPECT_EQ(end.faults, std::vector<std::string>{});
    const Held new_file = held_now(end, out);
    // The model followed the replace to the file that is really there.
    ASSERT_EQ(new_file.ino, ino_of(out));
    ASSERT_NE(new_file.ino, old_file.ino);

    const Check_result result = check_crash_points(disk, calls, out, old_file, new_file);
    std::cout << "[ crash    ] " << c.name << ": " << calls.size() << " calls, " << result.crash_points
              << " crash points, " << result.outcomes << " outcomes, " << result.bad.size() << " bad\n";
    for (const std::string& bad : result.bad) std::cout << "[ crash    ]   " << bad << "\n";
    if (c.skip_temp_fsync) {
        EXPECT_FALSE(result.bad.empty()) << "the model must see a lost write when the temporary file is not flushed";
    } else {
        EXPECT_EQ(result.bad, std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, CrashPoints,
                         ::testing::Values(Crash_case{"in_place", "in.ini", false},
                                           Crash_case{"new_output", "out.ini", false},
                                           Crash_case{"in_place_without_the_temp_fsync", "in.ini", true},
                                           Crash_case{"new_output_without_the_temp_fsync", "out.ini", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarvel

#endif
