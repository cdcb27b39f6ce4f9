#include "shim_support.h"

#include "test_support.h"

#ifdef _WIN32

namespace quarvel::test {

bool shim_available() { return false; }
const char* shim_missing_reason() { return "the file-operation shim is a Linux preload library"; }

}  // namespace quarvel::test

#else

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quarvel::test {
namespace {

const char* shim_path() {
#ifdef QUARVEL_FILE_SHIM
    return QUARVEL_FILE_SHIM;
#else
    return nullptr;
#endif
}

// The parent's environment with the shim and its switches added. Under the
// address sanitizer the tool's runtime must not insist on coming first.
std::vector<std::string> child_environment(const std::vector<std::string>& switches, bool shim) {
    std::vector<std::string> env;
    std::string asan = "verify_asan_link_order=0";
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QUARVEL_SHIM_", 0) == 0 || entry.rfind("LD_PRELOAD=", 0) == 0) continue;
        if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
            asan = entry.substr(13) + ":" + asan;
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("ASAN_OPTIONS=" + asan);
    if (shim && shim_path()) env.push_back(std::string("LD_PRELOAD=") + shim_path());
    env.insert(env.end(), switches.begin(), switches.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts) out.push_back(&text[0]);
    out.push_back(nullptr);
    return out;
}

std::string read_if_there(const std::string& path) { return file_exists(path) ? read_bytes(path) : std::string(); }

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

bool shim_available() {
    static const bool loads = [] {
        if (!shim_path()) return false;
        Scratch_dir dir;
        const std::string log = dir.file("log");
        run_tool_child({}, dir.path, {"QUARVEL_SHIM_LOG=" + log}, dir.file("probe"));
        return read_if_there(log).rfind("loaded ", 0) == 0;
    }();
    return loads;
}

const char* shim_missing_reason() {
    return shim_path() ? "the file-operation shim does not load into the tool here"
                       : "the file-operation shim is built on Linux only";
}

Tool_child start_tool(const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& switches, const std::string& io, const Child_options& options) {
    Tool_child child;
    child.console_path = io + ".out";
    child.errors_path = io + ".err";
    std::vector<std::string> argv_text = tool_command(options.who);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<std::string> env_text = child_environment(switches, options.who == Run_as::self);
    std::vector<char*> argv = pointers(argv_text);
    std::vector<char*> envp = pointers(env_text);

    child.pid = ::fork();
    if (child.pid < 0) throw std::runtime_error("cannot start the tool");
    if (child.pid == 0) {
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE}) ::signal(s, SIG_DFL);
        const int out = ::open(child.console_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(child.errors_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // Whatever the tool does, it cannot fill the disk.
        const rlimit limit{rlim_t{8} << 20, rlim_t{8} << 20};
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(cwd.c_str()) != 0 ||
            ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(125);
        if (options.console_closed) ::close(0), ::close(1);
        const int in = options.stdin_path == nullptr ? 0 : ::open(options.stdin_path, O_RDONLY);
        if (in < 0 || (in != 0 && (::dup2(in, 0) < 0 || ::close(in) != 0))) ::_exit(125);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(126);
    }
    return child;
}

bool has_ended(const Tool_child& child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == child.pid;
}

Tool_exit wait_tool(const Tool_child& child, int seconds) {
    for (int tick = 0; tick < seconds * 100 && !has_ended(child); ++tick) ::usleep(10000);
    if (!has_ended(child)) ::kill(child.pid, SIGKILL);
    int raw = 0;
    ::waitpid(child.pid, &raw, 0);
    Tool_exit result;
    if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) result.signal = WTERMSIG(raw);
    result.console = read_if_there(child.console_path);
    result.errors = read_if_there(child.errors_path);
    return result;
}

Tool_exit run_tool_child(const std::vector<std::string>& args, const std::string& cwd,
                         const std::vector<std::string>& switches, const std::string& io) {
    return wait_tool(start_tool(args, cwd, switches, io));
}

bool wait_for_file(const std::string& path, const Tool_child& child) {
    for (int tick = 0; tick < 3000; ++tick) {
        if (file_exists(path)) return true;
        if (has_ended(child)) return file_exists(path);
        ::usleep(10000);
    }
    return false;
}

const std::string& Logged_call::text(const std::string& key) const {
    static const std::string none;
    const auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
}

long long Logged_call::number(const std::string& key) const {
    const std::string& value = text(key);
    return value.empty() ? -1 : std::atoll(value.c_str());
}

std::vector<Logged_call> read_shim_log(const std::string& path) {
    std::vector<Logged_call> calls;
    std::istringstream lines(read_if_there(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        Logged_call call;
        words >> call.function;
        if (call.function == "loaded") continue;
        std::string word;
        while (words >> word) {
            const std::size_t equals = word.find('=');
            if (equals != std::string::npos) call.fields[word.substr(0, equals)] = unescaped(word.substr(equals + 1));
        }
        calls.push_back(call);
    }
    return calls;
}

}  // namespace quarvel::test

#endif
