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
#include "config/scan.h"
#include "generate/output.h"
#include "platform/replace.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
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
            path = candidate.generic_u8string();
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

// Paths are UTF-8 in the tests as in the tool (on Windows the narrow file
// functions would take them in the ANSI code page).
std::string read_bytes(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(fs::u8path(path), error));
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::u8path(path))) names.push_back(entry.path().filename().generic_u8string());
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
    std::ostringstream errors;
    result.status = run_tool(args, console, errors);
    result.console = console.str();
    return result;
}

bool write_output_file(const std::string& text, const Run_settings& settings) {
    Safe_output output;
    lock_output(settings.output_path, output);
    Input_file nothing_read;
    const Byte_sink sink = [&output](std::string_view bytes) { return write_output_bytes(output, bytes); };
    return begin_output(output) &&
           write_output(sink, text, scan_input(text, settings.meter_name), settings) &&
           commit_output(output, nothing_read);
}

namespace {

std::string console_file_name() {
    return (fs::temp_directory_path() / ("quarvel-console-" + std::to_string(std::random_device{}()))).generic_u8string();
}

}  // namespace

#ifdef _WIN32

namespace {

// Quotes one argument so that the C runtime's (and CommandLineToArgvW's)
// parsing gives it back unchanged: backslashes count only before a quote.
std::wstring windows_quote(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') quoted.append(backslashes * 2 + 1, L'\\');
        else quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace

// Windows: no user switch is needed, the read-only attribute binds every
// user; the child gets the console file as its standard output.
Run_result run_program(const std::vector<std::string>& args, const std::string& cwd, Run_as) {
    const std::string console_file = console_file_name();
    const std::wstring exe = fs::path(QUARVEL_EXE_PATH).make_preferred().wstring();
    std::vector<std::wstring> quoted{windows_quote(exe)};
    for (const std::string& arg : args) quoted.push_back(windows_quote(fs::u8path(arg).wstring()));
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : quoted) argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    std::fflush(stdout);
    const int file = _wopen(fs::u8path(console_file).wstring().c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    if (file < 0) throw std::runtime_error("cannot make " + console_file);
    const int saved_stdout = _dup(1);
    _dup2(file, 1);
    _close(file);
    const fs::path here = fs::current_path();
    fs::current_path(fs::u8path(cwd));
    const intptr_t status = _wspawnv(_P_WAIT, exe.c_str(), argv.data());
    fs::current_path(here);
    _dup2(saved_stdout, 1);
    _close(saved_stdout);

    Run_result result;
    result.status = static_cast<int>(status);
    result.console = read_bytes(console_file);
    fs::remove(fs::u8path(console_file));
    return result;
}

#else

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
    const std::string console_file = console_file_name();
    std::string exe = QUARVEL_EXE_PATH;
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

#endif

}  // namespace quarvel::test
