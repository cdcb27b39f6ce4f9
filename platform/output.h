// The replace of a layout, the same on every system: a lock for the whole
// read-change-replace cycle, a new file beside the output, checks that no other
// program changed the output meanwhile, then the new file in its place. Its
// promises, and the tests that hold each, are in docs/SAFETY.md.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

struct Output_files;  // what a replace holds, each system's own (platform/output_calls.h)

// One output being replaced. Its destructor is the scope guard: whatever path a
// run takes, the new file goes (if it has a name) and the lock is released.
struct Safe_output {
    Safe_output();
    ~Safe_output();
    Safe_output(const Safe_output&) = delete;
    Safe_output& operator=(const Safe_output&) = delete;
    std::unique_ptr<Output_files> files;
};

// In this order: lock_output, before the input is read; begin_output;
// write_output_bytes as often as needed; finish_output; the run then checks that
// its input is still the version read, and releases it; commit_output.

// Finds the output and takes its lock, waiting five seconds at most for another
// run. A device or a pipe is not locked: it is written directly.
Failure lock_output(const std::string& path, Safe_output& out);
Failure begin_output(Safe_output& out);  // makes the new file (or opens the device)
Failure write_output_bytes(Safe_output& out, std::string_view bytes);
Failure finish_output(Safe_output& out);  // flushes the new file to disk (closes a device)

// Puts the new file in place of the output, if that is still the version
// locked. On failure the old file stands, or the reason says where the new one is.
Failure commit_output(Safe_output& out);

}  // namespace quarvel
