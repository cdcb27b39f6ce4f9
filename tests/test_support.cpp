#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "app/run.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quarvel::test {

Scratch_dir::Scratch_dir() {
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("quarvel-test-" + std::to_string(device()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path = candidate.generic_string();
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

Scratch_dir::~Scratch_dir() {
    std::error_code error;
    // Give back write permission that a test may have taken away.
    for (auto it = fs::recursive_directory_iterator(path, error); !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink(error)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path, error);
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

Run_result run_in_process(const std::vector<std::string>& args) {
    std::ostringstream console;
    Run_result result;
    result.status = run_tool(args, console);
    result.console = console.str();
    return result;
}

namespace {

std::string shell_quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace

Run_result run_program(const std::vector<std::string>& args, const std::string& cwd, Run_as who) {
    const std::string console_file = (fs::temp_directory_path() / ("quarvel-console-" + std::to_string(std::random_device{}()))).generic_string();
    std::string exe = QUARVEL_EXE;
    std::string command = "cd " + shell_quote(cwd) + " && ";
    static Scratch_dir public_copy;  // the build folder may be closed to other users
    if (who == Run_as::unprivileged && ::geteuid() == 0) {
        const std::string copy = public_copy.file("quarvel");
        if (!file_exists(copy)) fs::copy_file(exe, copy);
        fs::permissions(copy, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        exe = copy;
        command += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    command += shell_quote(exe);
    for (const std::string& arg : args) command += " " + shell_quote(arg);
    command += " > " + shell_quote(console_file);
    const int raw = std::system(command.c_str());
    Run_result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.console = read_bytes(console_file);
    std::remove(console_file.c_str());
    return result;
}

}  // namespace quarvel::test
