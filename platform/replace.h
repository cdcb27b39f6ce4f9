// Replacing the output safely, the same on every system: a lock for the whole
// read-change-replace cycle, a temporary file beside the output, checks that
// nobody changed the input or the output meanwhile, then the replace.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace quarvel {

// Why a run failed, for the error reporter and the one line on standard error.
struct Failure {
    enum class Kind { none, read, write } kind = Kind::none;
    std::string reason;  // plain words: "changed by another program since it was read"
};

// One output being replaced. Its destructor is the scope guard: whatever path
// a run takes, the temporary file goes and the lock is released.
struct Safe_output {
    Output_place place;
    Handle lock = no_handle;
    File_state locked;        // the output as it was when locked
    Handle file = no_handle;  // the temporary file, or a device written directly
    std::string temp_name;    // empty when writing directly
    bool direct = false;
    Failure failure;          // set by a step that failed; later steps do nothing

    Safe_output() = default;
    Safe_output(const Safe_output&) = delete;
    Safe_output& operator=(const Safe_output&) = delete;
    ~Safe_output();
};

// Finds the output and takes its lock, waiting up to five seconds for another
// run.
// A failure is kept in `out.failure`, to be reported when the run gets to
// writing (input errors come first).
void lock_output(const std::string& path, Safe_output& out);

// Removes what killed runs on this output left, then creates the temporary
// file (or opens a device). False (with out.failure set) when it cannot.
bool begin_output(Safe_output& out);

// Writes bytes to the new file.
bool write_output_bytes(Safe_output& out, std::string_view bytes);

// Flushes the new file, checks that `input` and the output are as they were
// read and locked, closes the input (Windows cannot replace a file held
// open), puts the new file in place and flushes the folder.
bool commit_output(Safe_output& out, Input_file& input);

}  // namespace quarvel
