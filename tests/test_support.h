// Helpers shared by the tests: scratch folders, file bytes, running the tool,
// collecting the tool's output in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "generate/copy_settings.h"
#include "layout/scan.h"
#include "generate/tidy_writer.h"

// The build's paths as the test program sees them (a cross-built test running
// under Wine reaches this machine's files through a drive letter).
#ifndef QUARVEL_HOST_DRIVE
#define QUARVEL_HOST_DRIVE ""
#endif
#define QUARVEL_CASES_PATH QUARVEL_HOST_DRIVE QUARVEL_CASES_DIR
#define QUARVEL_EXE_PATH QUARVEL_HOST_DRIVE QUARVEL_EXE

namespace quarvel::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes out of scope.
struct Scratch_dir {
    Scratch_dir();
    ~Scratch_dir();
    Scratch_dir(const Scratch_dir&) = delete;
    Scratch_dir& operator=(const Scratch_dir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> list_dir(const std::string& path);

// Turns "\n" line ends into CR LF, as layout files have them on disk.
std::string crlf(const std::string& text);

// The console text with "\n" line ends (on Windows the console's are CR LF).
std::string console_text(const std::string& text);

struct Run_result {
    int status = -1;  // the exit status, or minus the signal that ended the run
    std::string console;
    std::string errors;  // standard error
};

enum class Run_as { self, unprivileged };

struct Run_options {
    // Bounds what the run may write (POSIX): even a faulty build that makes
    // endless copies stops here.
    std::int64_t file_size_limit = std::int64_t{4} << 20;
    std::int64_t address_space_limit = -1;  // -1: none
    int stdout_fd = -1;                     // when set, the run's standard output
    // With Run_as::unprivileged, a root test run drops to the "nobody" user
    // so that permission bits apply.
    Run_as who = Run_as::self;
};

// The command that starts the built quarvel executable as `who`: the
// executable, or for a root test run with Run_as::unprivileged, setpriv and a
// copy of the executable that other users may run.
std::vector<std::string> tool_command(Run_as who);

// Runs the built quarvel executable with `args` in the folder `cwd` (a
// scratch folder of the test), its signals at their defaults.
Run_result run_program(const std::vector<std::string>& args, const std::string& cwd,
                       const Run_options& options = {});

// Collects what a tidy writer hands to its sink.
struct Memory_sink {
    std::string bytes;
    int writes = 0;
    Byte_sink sink = [this](std::string_view piece) {
        bytes.append(piece);
        ++writes;
        return true;
    };
    Memory_sink() = default;
    Memory_sink(const Memory_sink&) = delete;
    Memory_sink& operator=(const Memory_sink&) = delete;
};

// The lines of `block` of `text`, each followed by "\n": the block as stored.
std::string block_text(std::string_view text, Text_block block);

}  // namespace quarvel::test
