// Running the tool under the file-operation shim (tests/shim/file_shim.cpp,
// Linux only): a child process in a scratch folder, with a file-size limit
// and its own standard output and error, that a test can pause, kill and
// release.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace quarvel::test {

// Whether the shim was built and loads into the tool here; when it does not,
// the tests that need it skip with `shim_missing_reason()`.
bool shim_available();
const char* shim_missing_reason();

// A started run of the tool.
struct Tool_child {
    int pid = -1;
    std::string console_path;  // its standard output
    std::string errors_path;   // its standard error
};

// Who runs the tool, and whether its standard input and output are closed.
struct Child_options {
    Run_as who = Run_as::self;  // another user runs it without the shim
    bool console_closed = false;
    const char* stdin_path = nullptr;  // its standard input, when set
};

// Starts the built tool with `args` in `cwd`, the shim preloaded with
// `switches` ("QUARVEL_SHIM_FAIL=fsync.file@1=EIO", ...), under an 8 MB
// file-size limit, with signals at their defaults. Its standard output and
// error go to `io` + ".out" and ".err".
Tool_child start_tool(const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& switches, const std::string& io,
                      const Child_options& options = {});

struct Tool_exit {
    int status = -1;  // exit status, or -1 when a signal ended it
    int signal = 0;   // the signal that ended it, or 0
    std::string console;
    std::string errors;
};

// Waits for the run to end (killing it after `seconds`) and collects its output.
Tool_exit wait_tool(const Tool_child& child, int seconds = 60);

// Runs the tool to the end: start_tool, then wait_tool.
Tool_exit run_tool_child(const std::vector<std::string>& args, const std::string& cwd,
                         const std::vector<std::string>& switches, const std::string& io);

// Waits (at most 30 s) until `path` exists. False when it never comes or when
// `child` ends first.
bool wait_for_file(const std::string& path, const Tool_child& child);

// Whether the run has ended (without collecting it).
bool has_ended(const Tool_child& child);

// One line of the shim's log: the function and its key=value fields.
struct Logged_call {
    std::string function;
    std::map<std::string, std::string> fields;
    const std::string& text(const std::string& key) const;
    long long number(const std::string& key) const;
};

// The calls in a shim log, without its "loaded" line.
std::vector<Logged_call> read_shim_log(const std::string& path);

}  // namespace quarvel::test
