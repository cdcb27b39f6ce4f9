// Replacing the output safely, the same on every system: a lock for the whole
// read-change-replace cycle, a new file beside the output, checks that nobody
// changed the input or the output meanwhile, then the replace.
#pragma once

#include <string>
#include <string_view>

#include "platform/input.h"
#include "platform/output.h"

namespace quarvel {

// One output being replaced. Its destructor is the scope guard: whatever path
// a run takes, the new file goes (if it has a name) and the lock is released.
struct Safe_output {
    Output_place place;
    Output_lock lock;
    New_file file;

    Safe_output() = default;
    Safe_output(const Safe_output&) = delete;
    Safe_output& operator=(const Safe_output&) = delete;
    ~Safe_output() { drop_new_file(place, file); }
};

// Finds the output and takes its lock, waiting up to five seconds for another
// run. A device or a pipe is not locked: it is written directly.
Failure lock_output(const std::string& path, Safe_output& out);

// Makes the new file (or opens the device).
Failure begin_output(Safe_output& out);

// Writes bytes to the new file.
Failure write_output_bytes(Safe_output& out, std::string_view bytes);

// Flushes the new file, checks that `input` is still the version that was
// read, closes it (Windows cannot replace a file held open) and puts the new
// file in place of the output, which must still be the version locked.
Failure commit_output(Safe_output& out, Input& input);

}  // namespace quarvel
