// The output's files: the replace, the same on every system (a lock for the whole
// read-change-replace cycle, a new file beside the output, checks that nobody changed
// the input or the output meanwhile, then the replace), over each system's calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

// One output being replaced. Its destructor is the scope guard: whatever path a
// run takes, the new file goes (if it has a name) and the lock is released.
struct Safe_output;
void drop_new_file(Safe_output& out);  // removes the new file if it has a name, and closes it

struct Safe_output {
    std::string path;            // as given, for messages
    std::string folder;          // where the file really is (Windows: its long path and "\")
    std::string name;            // its own name there
    File folder_handle;          // POSIX: the folder, which every later call names files in
    File_state found;            // absent, a file, a device or a pipe
    bool unnamed_files = false;  // the new file may be made without a name
    File lock;                   // which other runs respect; it leaves no file
    File_state locked;           // the output when locked (absent: nothing to lock)
    File file;                   // the new file: beside the output, or the device itself
    std::string temp_name;       // its name in the folder; empty while it has none
    bool direct = false;

    ~Safe_output() { drop_new_file(*this); }
};

// Finds the output and takes its lock, waiting up to five seconds for another
// run. A device or a pipe is not locked: it is written directly.
Failure lock_output(const std::string& path, Safe_output& out);

// Makes the new file (or opens the device).
Failure begin_output(Safe_output& out);

Failure write_output_bytes(Safe_output& out, std::string_view bytes);

// Flushes the new file to disk (closes a device).
Failure finish_output(Safe_output& out);

// Puts the finished new file in place. The run checks first that the input is
// still the version read, and releases its handle.
Failure commit_output(Safe_output& out);

// ---- What each system provides for the replace.

// Resolves `path` as the system does, links followed with its protections,
// and checks that the name holds the file they lead to. A folder, a link the
// system does not follow for this user and a link to nothing are refused.
Failure find_output(const std::string& path, Safe_output& out);

// Takes the lock without waiting: false (and no failure) when another run
// holds it or the output was replaced meanwhile. An output this user may not
// write is refused: the replace must not bypass its protection.
Failure try_lock_output(Safe_output& out, bool& taken);

// Makes the new file, without a name where the system can, else under a temporary
// name that interrupts remove. It gets a replaced output's owner, group, permissions
// and attributes (or the run refuses before writing), or what any new file gets.
// What killed runs on this output left goes.
Failure create_new_file(Safe_output& out);

// Opens the device or pipe found at the output, to be written directly.
Failure open_direct(Safe_output& out);

// 0, or the system's error code.
int write_all(const File& file, std::string_view bytes);
int sync_file(const File& file);

// The state of the output's name now, links not followed.
File_state state_of(const Safe_output& out);

// Puts the new file in place of the output, which must still be the version locked,
// and makes that durable; where the system can, a version another program slipped in
// is put back. On failure the old file stands, or the reason says where the new one is.
Failure replace_output(Safe_output& out);

inline const char* const changed_by_other = "changed by another program since it was read";

// Temporary files of output `name` are named temp_prefix(name) and 16 hex
// digits: the name (shortened, with a hash of all of it, to leave room in 255
// bytes) and ".tmp.".
std::string temp_prefix(const std::string& name);
std::string new_temp_name(const std::string& name);
bool is_temp_suffix(std::string_view tail);

// A 64-bit hash of `bytes` (FNV-1a), the same on every system.
std::uint64_t hash_of(std::string_view bytes);

}  // namespace quarvel
