// The operating system's side of the tool: the console, the command line and
// the system calls behind reading the layout and replacing the output. Paths
// are UTF-8 on every platform. The replace itself, the same on every system,
// is written once in platform/replace.h on top of these calls.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

using Handle = std::intptr_t;
constexpr Handle no_handle = -1;

// Process set-up before any file work: interrupts remove the temporary file,
// a file-size limit or a closed pipe makes a write fail instead of killing us.
void prepare_process();

// Where the console report goes: standard output, in UTF-8. On a Windows
// console the text is shown through the wide console API, so that any
// character reads right whatever the console's code page.
std::ostream& console_output();

// Standard error, for the one-line reason behind a failure; shown like the report.
std::ostream& error_output();

// The command-line arguments after the program name, as UTF-8 (on Windows
// taken from the wide command line, so any character survives).
std::vector<std::string> program_arguments(int argc, char** argv);

// Whether the file status query succeeds for `path` (a folder counts).
bool path_exists(const std::string& path);

// The bytes of the UTF-8 text `utf8` in the system's ANSI code page (the text
// form of programs that predate Unicode on Windows, in which older layouts are
// saved). Empty when that form is the UTF-8 form itself (plain ASCII), when a
// character has no form there, and always on POSIX, where arguments are bytes.
std::string ansi_code_page_form(const std::string& utf8);

// The system's words for an error code, lower case: "no space left on device".
std::string error_text(int code);

// Identity, size and times of a file: enough to tell that another program
// changed or replaced it. Times are only ever compared.
struct File_state {
    bool exists = false;
    bool regular = false;  // a plain file: not a folder, a device or a pipe
    bool folder = false;
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;  // status change (POSIX ctime, Windows ChangeTime)
};

// ---- The input.

// The whole input, as one run of bytes: a read-only mapping of a regular file
// where the system has one, else `buffer`.
struct Input_file;
// Unmaps and closes the input (again: nothing).
void close_input(Input_file& input);

struct Input_file {
    std::string_view bytes;
    std::string buffer;
    Handle handle = no_handle;
    void* mapping = nullptr;
    std::size_t mapped_size = 0;
    File_state state;  // as it was when the reading began

    Input_file() = default;
    Input_file(const Input_file&) = delete;
    Input_file& operator=(const Input_file&) = delete;
    ~Input_file() { close_input(*this); }
};

enum class Read_status { ok, cannot_open, read_error };

// Opens and reads (or maps) the input. A folder or a path that cannot be
// opened is cannot_open; a failing read, or a file cut short under a
// mapping, is read_error. `error` gets the system's code.
Read_status open_input(const std::string& path, Input_file& input, int& error);

// Whether the input is still the version that was read: same size and time
// of last change, and not cut short while mapped.
bool input_unchanged(const Input_file& input);


// ---- The output's folder, its names and the lock.

// The output as the system finds it: links followed as far as the system
// follows them, the folder held open (POSIX) so that every later step names
// files relative to it, and the real path's last part.
struct Output_place {
    std::string folder;  // for messages and the Windows calls
    std::string name;
    Handle folder_handle = no_handle;
};

// Resolves `path` into `place`. Fails (with the system's code in `error`) for
// a link that cannot be read, a loop of links, or a folder that cannot be opened.
bool find_output_place(const std::string& path, Output_place& place, int& error);
void close_output_place(Output_place& place);

// The state of `name` in the place's folder, links not followed.
File_state state_of(const Output_place& place, const std::string& name);

// Whether this user may write the existing output: the replace must not
// bypass a file's protection (POSIX write permission, the read-only attribute).
bool may_write(const Output_place& place);

enum class Lock_status { locked, busy, failed };

// Takes the run's lock on the output without waiting; `state` gets the output
// as locked (exists false when there is none). The lock leaves no file and
// dies with the process. busy: another run holds it, or the file was replaced
// while the lock was being taken (try again).
Lock_status try_lock_output(const Output_place& place, Handle& lock, File_state& state, int& error);
void unlock_output(Handle& lock);

// ---- Files being written.

enum class Create_status { created, name_taken, failed };

// Creates the new, private temporary file `name` in the folder, marked as
// belonging to a live run, and registers it for removal on interrupt.
Create_status create_temp(const Output_place& place, const std::string& name, Handle& file, int& error);

// Gives the temporary file the old output's owner (where the user may set
// it), permissions, extended attributes and access lists. `old` is the locked
// output (or no_handle). Fails when the permissions or access lists cannot be kept.
bool copy_metadata(Handle old, Handle temp, int& error);

// Opens an existing device or pipe output to be written directly.
bool open_direct(const Output_place& place, Handle& file, int& error);

bool write_all(Handle file, std::string_view bytes, int& error);
bool sync_file(Handle file, int& error);
bool close_file(Handle& file, int& error);

// Closes (if open) and removes the temporary file; unregisters it.
void remove_temp(const Output_place& place, const std::string& name, Handle& file);

// The names in the output's folder, for finding what killed runs left behind.
std::vector<std::string> folder_names(const Output_place& place);

// Removes `name` if no live run holds it; false when it is in use or gone.
bool remove_if_abandoned(const Output_place& place, const std::string& name);

enum class Replace_status {
    replaced,       // the new file stands at the output
    other_version,  // another program's file stands there now: kept, nothing replaced
    failed,         // nothing replaced
    failed_after,   // the new file is in place, but the system reported an error
};

// Puts the temporary file `temp` (whose handle is closed here, at the moment
// the system needs) in place of the output `place.name`, which must still be
// `expected` (absent when expected.exists is false). Where the system can
// swap two names atomically it does, and puts back another program's file.
// The temporary file is unregistered.
Replace_status replace_output(const Output_place& place, const std::string& temp, Handle& file,
                              const File_state& expected, int& error);

// Makes the folder's new entry durable.
bool sync_folder(const Output_place& place, int& error);

// A number for temporary names, different from run to run.
std::uint64_t random_number();

}  // namespace quarvel
