// The output's files, as each system gives them: where the output really is,
// its lock, the new file and the replace. The protocol that puts them
// together, the same on every system, is platform/replace.h.
#pragma once

#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

// The output as the system resolved it.
struct Output_place {
    std::string path;    // as given, for messages
    std::string folder;  // the folder holding the file (Windows: its full path)
    std::string name;    // the file's own name in it
    File folder_handle;  // POSIX: the folder, which every later call names files in
    File_state found;    // the output as found: absent, a file, a device or a pipe
    bool unnamed_files = false;  // the new file may be made without a name
};

// Resolves `path`: links followed by the system, with its protections, and
// the name checked to hold the file they lead to. A folder, a link the
// system does not follow for this user and a link to nothing are failures.
Failure find_output(const std::string& path, Output_place& place);

// The run's lock on the output, which other runs respect; it leaves no file
// and dies with its holder.
struct Output_lock {
    File handle;
    File_state locked;  // the output when locked (absent: nothing to lock)
    bool taken = false;
};

// Takes the lock without waiting. Not taken, and no failure: another run
// holds it, or the output was replaced meanwhile; try again. An existing
// output that this user may not write is refused: the replace must not
// bypass its protection.
Failure try_lock_output(const Output_place& place, Output_lock& lock);

// The file the new layout is written to: a temporary file beside the output,
// or a device or pipe written directly.
struct New_file {
    File file;
    std::string name;  // its name in the folder; empty while it has none
    bool direct = false;
};

// Makes the new file: without a name where the system can, else under a
// temporary name that interrupts remove. A replaced output's owner, group,
// permissions, extended attributes and access lists go to it (or the run
// refuses, before anything is written); a new output gets what any new file
// gets. What killed runs on this output left goes.
Failure create_new_file(const Output_place& place, const Output_lock& lock, New_file& file);

// Opens the device or pipe found at the output, to be written directly.
Failure open_direct(const Output_place& place, New_file& file);

// Writes all of `bytes`; 0, or the system's error code.
int write_all(const File& file, std::string_view bytes);

// Flushes the file's data to disk; 0, or the system's error code.
int sync_file(const File& file);

// The state of the output's name now, links not followed.
File_state state_of(const Output_place& place);

// Puts the new file in place of the output, which must still be `expected`
// (absent when expected.exists is false), and makes that durable. Where the
// system can, the swap is atomic and a version another program slipped in is
// put back. On failure the old file stands, or the reason says where the new
// one is.
Failure replace_output(const Output_place& place, New_file& file, const File_state& expected);

// Removes the new file if it has a name, and closes it.
void drop_new_file(const Output_place& place, New_file& file);

// The reason for an output that another program changed or replaced.
inline const char* const changed_by_other = "changed by another program since it was read";

// Temporary files beside output `name` are named temp_prefix(name) and 16 hex
// digits; the prefix is the name (shortened, with a hash of all of it, where
// the suffix would not fit in 255 bytes) and ".tmp.".
std::string temp_prefix(const std::string& name);
std::string new_temp_name(const std::string& name);
bool is_temp_suffix(std::string_view tail);

}  // namespace quarvel
