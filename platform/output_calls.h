// What each system provides for the replace of output.cpp: the state of one
// replace and the calls it is built on. Only output.cpp and the system files
// include this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

struct Output_files {
    std::string path;            // as given, for messages
    std::string folder;          // where the file really is (Windows: its long path and "\")
    std::string name;            // its own name there
    File folder_handle;          // POSIX: the folder, which every later call names files in
    File_state found;            // absent, a file, a device or a pipe
    bool unnamed_files = false;  // the new file may be made without a name
    File lock;                   // which other runs respect; it leaves no file
    File_state locked;           // the output when locked (absent: nothing to lock)
    File file;                   // the new file (locked too, where locks are files), or the device
    std::string temp_name;       // its name in the folder; empty while it has none
    bool direct = false;
};

// Resolves `path` as the system does, links followed with its protections, and
// checks that the name holds the file they lead to. A folder, a link the system
// does not follow for this user, a link to nothing, a file the system protects
// from this user's ">" and the run's own console file are refused.
Failure find_output(const std::string& path, Output_files& out);

// Takes the lock without waiting: false (and no failure) when another run holds
// it or the output was replaced meanwhile; an output this user may not write is refused.
Failure try_lock_output(Output_files& out, bool& taken);

// Makes the new file: without a name where the system can, else under a
// temporary name of its own that interrupts remove; with a replaced output's
// owner, group, permissions and attributes (or a refusal), or what any new file
// gets. Leftovers of killed runs on this output, provably theirs, go first.
Failure create_new_file(Output_files& out);

// Opens the device or pipe at the output, waiting five seconds at most for a reader.
Failure open_direct(Output_files& out);

// 0, or the system's error code (ETIMEDOUT: a pipe nobody read for five seconds).
int write_all(const File& file, std::string_view bytes);
int sync_file(const File& file);

// The state of the output's name now, links not followed.
File_state state_of(const Output_files& out);

// Puts the new file in place of the output, which must still be the version
// locked, and makes that durable; where the system can, a version another
// program slipped in is put back. On failure the old file stands, or the reason
// says where the new one is.
Failure replace_output(Output_files& out);

// Removes the new file if it has a name, and closes it.
void drop_new_file(Output_files& out);

inline const char* const changed_by_other = "changed by another program since it was read";

// Temporary names of output `name`: temp_prefix(name) (the name, shortened with a
// hash where it must leave room in 255 bytes, and ".tmp.") and 16 hex digits, 8
// random and 8 that check them, so that no name the tool did not make is taken
// for its own.
std::string temp_prefix(const std::string& name);
std::string new_temp_name(const std::string& name);
bool is_own_temp_name(std::string_view found, const std::string& name);
bool is_temp_name(std::string_view found);  // of any output

std::uint64_t hash_of(std::string_view bytes);  // FNV-1a, the same on every system

}  // namespace quarvel
