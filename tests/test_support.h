// Helpers shared by the tests: scratch folders, file bytes, running the tool.
#pragma once

#include <string>
#include <vector>

#include "config/run_settings.h"

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

struct Run_result {
    int status = -1;
    std::string console;
};

// Runs the tool in-process on `args` (after the program name).
Run_result run_in_process(const std::vector<std::string>& args);

// Writes the output of `text` for `settings` through the safe replace, as a
// run does after its scan. False when the replace failed.
bool write_output_file(const std::string& text, const Run_settings& settings);

enum class Run_as { self, unprivileged };

// Runs the built quarvel executable with `args` in the folder `cwd`. With
// Run_as::unprivileged, a root test run drops to the "nobody" user so that
// permission bits apply.
Run_result run_program(const std::vector<std::string>& args, const std::string& cwd,
                       Run_as who = Run_as::self);

}  // namespace quarvel::test
