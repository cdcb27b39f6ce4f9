// The operating system's side of the tool: file status, reading a whole file,
// and replacing an output file safely. Paths are UTF-8 on every platform.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

// Process set-up before any file work (for example, a file-size limit must
// make writes fail rather than kill the process).
void prepare_process();

// Where the console report goes: standard output, in UTF-8. On a Windows
// console the text is shown through the wide console API, so that any
// character reads right whatever the console's code page.
std::ostream& console_output();

// The command-line arguments after the program name, as UTF-8 (on Windows
// taken from the wide command line, so any character survives).
std::vector<std::string> program_arguments(int argc, char** argv);

// Whether the file status query succeeds for `path` (a folder counts).
bool path_exists(const std::string& path);

enum class Read_status { ok, cannot_open, read_error };

// Reads the whole file at `path` in binary mode into `contents`. A folder or a
// path that cannot be opened is cannot_open; a failing read is read_error.
Read_status read_whole_file(const std::string& path, std::string& contents);

// An output being written: either a new temporary file beside the output,
// renamed over it on commit, or (for an existing non-regular file such as a
// device or a pipe) the output itself.
struct Output_file {
    std::intptr_t handle = -1;
    std::string target_path;  // what gets replaced: the output, or a link's target
    std::string temp_path;    // empty when writing directly
};

// Opens `path` for a safe replace. Fails for a folder, an existing file this
// user may not write, or when no temporary file can be made beside it.
bool open_output(const std::string& path, Output_file& out);

// Writes all of `bytes`; false on any failure.
bool write_output(Output_file& out, std::string_view bytes);

// Flushes the data to disk, closes the file and puts it in place. On failure
// the temporary file is removed and the old output is left as it was.
bool commit_output(Output_file& out);

// Closes and removes the temporary file; the old output is left as it was.
void discard_output(Output_file& out);

}  // namespace quarvel
