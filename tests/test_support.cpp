#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "layout/lines.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
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

std::string console_text(const std::string& text) {
#ifdef _WIN32
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    return lf;
#else
    return text;
#endif
}

std::string block_text(std::string_view text, Text_block block) {
    std::string out;
    for (std::size_t pos = block.begin; pos < block.end;) out.append(next_line(text, pos)) += '\n';
    return out;
}

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
Run_result run_program(const std::vector<std::string>& args, const std::string& cwd, const Run_options&) {
    Scratch_dir console_dir;
    const std::string console_file = console_dir.file("console");
    const std::wstring exe = fs::path(QUARVEL_EXE_PATH).make_preferred().wstring();
    std::vector<std::wstring> quoted{windows_quote(exe)};
    for (const std::string& arg : args) quoted.push_back(windows_quote(fs::u8path(arg).wstring()));
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : quoted) argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    std::fflush(stdout);
    const auto redirect = [](int fd, const std::string& path) {
        const int file = _wopen(fs::u8path(path).wstring().c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                                _S_IREAD | _S_IWRITE);
        if (file < 0) throw std::runtime_error("cannot make " + path);
        const int saved = _dup(fd);
        _dup2(file, fd);
        _close(file);
        return saved;
    };
    const int saved_stdout = redirect(1, console_file), saved_stderr = redirect(2, console_file + ".err");
    const fs::path here = fs::current_path();
    fs::current_path(fs::u8path(cwd));
    // Under Wine a process now and then fails to start (-1, and the tool never
    // ran): it is started again.
    intptr_t status = -1;
    for (int attempt = 0; attempt < 3 && status == -1 && read_bytes(console_file).empty(); ++attempt)
        status = _wspawnv(_P_WAIT, exe.c_str(), argv.data());
    fs::current_path(here);
    _dup2(saved_stdout, 1), _close(saved_stdout);
    _dup2(saved_stderr, 2), _close(saved_stderr);

    Run_result result;
    result.status = static_cast<int>(status);
    result.console = read_bytes(console_file);
    result.errors = read_bytes(console_file + ".err");
    return result;
}

#else

std::vector<std::string> tool_command(Run_as who) {
    if (who == Run_as::self || ::geteuid() != 0) return {QUARVEL_EXE_PATH};
    static Scratch_dir public_copy;  // the build folder may be closed to other users
    const std::string copy = public_copy.file("quarvel");
    if (!file_exists(copy)) fs::copy_file(QUARVEL_EXE_PATH, copy);
    fs::permissions(copy, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", copy};
}

Run_result run_program(const std::vector<std::string>& args, const std::string& cwd, const Run_options& options) {
    Scratch_dir console_dir;
    const std::string console_file = console_dir.file("console");
    std::vector<std::string> argv_text = tool_command(options.who);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        int out = options.stdout_fd;
        if (out < 0) out = ::open(console_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errors = ::open((console_file + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || ::dup2(out, 1) < 0 || errors < 0 || ::dup2(errors, 2) < 0 || ::chdir(cwd.c_str()) != 0)
            ::_exit(125);
        const auto bound = [](int resource, std::int64_t limit) {
            const rlim_t value = limit < 0 ? RLIM_INFINITY : static_cast<rlim_t>(limit);
            const rlimit both{value, value};
            return ::setrlimit(resource, &both) == 0;
        };
        if (!bound(RLIMIT_FSIZE, options.file_size_limit) || !bound(RLIMIT_AS, options.address_space_limit))
            ::_exit(125);
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    Run_result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    if (options.stdout_fd < 0) result.console = read_bytes(console_file);
    result.errors = read_bytes(console_file + ".err");
    return result;
}

#endif

}  // namespace quarvel::test
