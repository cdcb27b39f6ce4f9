// POSIX side of the platform layer.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>

#include "platform/files.h"

namespace quarvel {
namespace {

int fd_of(const Output_file& out) { return static_cast<int>(out.handle); }

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links so that a link to the output keeps being a link and
// its target is replaced. A dangling link's target is created. False for a
// link that cannot be read or a loop of links: renaming over such a path would
// put a file where a link was.
bool resolve_links(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
            if (n < 0) return false;
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (!target.empty() && target[0] != '/') target = folder_of(path) + "/" + target;
        path = target;
    }
    return false;
}

std::uint64_t system_random() {
    // The library may have no random source to offer; the clock and the
    // process id still make the name differ from run to run.
    try {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (...) {
        return 0;
    }
}

std::string random_suffix() {
    static std::mt19937_64 engine = [] {
        std::seed_seq seed{system_random(), system_random(),
                           static_cast<std::uint64_t>(::getpid()),
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(engine()));
    return text;
}

// Asks for large pages under a big buffer: filling it then takes a few
// hundred page faults instead of one per 4 KiB, which on a large layout cost
// more than reading the file. Only advice; nothing changes if it is refused.
void advise_large_pages(std::string& buffer) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t page = 4096;
    if (buffer.capacity() < (std::size_t{4} << 20)) return;
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t begin = (first + page - 1) & ~(page - 1);
    const std::uintptr_t end = (first + buffer.capacity()) & ~(page - 1);
    if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)buffer;
#endif
}

bool sync_file(int fd) {
    for (;;) {
        if (::fsync(fd) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// Room left in a 255-byte file name for ".tmp." and 16 hex digits.
constexpr std::size_t temp_base_limit = 200;

// The temporary file that an interrupted run must not leave behind: set while
// one exists, read by the signal handler below.
std::string interrupted_temp;
volatile std::sig_atomic_t temp_exists = 0;

void remove_temp_and_stop(int signal_number) {
    if (temp_exists) ::unlink(interrupted_temp.c_str());
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void track_temp(const std::string& path) {
    temp_exists = 0;
    interrupted_temp = path;
    temp_exists = 1;
}

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

// A file-size limit and a pipe whose reader went away must fail the write
// (reported as "Can't write file"), not kill the process without a word.
void prepare_process() {
    // Ctrl-C, a closed terminal or a kill end the run without a stray
    // temporary file; signals the caller chose to ignore stay ignored.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            std::signal(signal_number, remove_temp_and_stop);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

std::ostream& console_output() { return std::cout; }

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Read_status read_whole_file(const std::string& path, std::string& contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Read_status::cannot_open;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Read_status::cannot_open;
    }
    contents.clear();
    std::size_t size = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
    // One byte more than the size, so that the end of file is seen at once.
    const std::size_t want = size + 1 < 65536 ? 65536 : size + 1;
    contents.reserve(want);
    advise_large_pages(contents);
    contents.resize(want);
    std::size_t used = 0;
    for (;;) {
        if (used == contents.size()) contents.resize(contents.size() * 2);
        const ssize_t n = ::read(fd, &contents[used], contents.size() - used);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            contents.clear();
            return Read_status::read_error;
        }
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    contents.resize(used);
    return Read_status::ok;
}

bool open_output(const std::string& path, Output_file& out) {
    out = Output_file{};
    out.target_path = path;
    if (!resolve_links(out.target_path)) return false;
    mode_t mode = new_file_mode();
    struct stat st {};
    const bool exists = ::stat(out.target_path.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return false;
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe cannot be renamed over: write it directly.
            const int fd = ::open(out.target_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) return false;
            out.handle = fd;
            return true;
        }
        // Renaming over a file must not bypass its protection.
        if (::access(out.target_path.c_str(), W_OK) != 0) return false;
        mode = st.st_mode & 07777;
    }
    // A long name plus the suffix must still fit the file system's name limit.
    const std::string base = out.target_path.substr(out.target_path.rfind('/') + 1).substr(0, temp_base_limit);
    const std::string folder = folder_of(out.target_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = folder + "/" + base + ".tmp." + random_suffix();
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST || errno == EINTR) continue;
            return false;
        }
        out.handle = fd;
        out.temp_path = std::move(temp);
        track_temp(out.temp_path);
        // Modes are best effort: some file systems have none to set. The
        // owner goes first, as a change of owner clears set-id bits.
        if (exists) (void)::fchown(fd, st.st_uid, st.st_gid);
        (void)::fchmod(fd, mode);
        return true;
    }
    return false;
}

bool write_output(Output_file& out, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_of(out), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // no progress would loop for ever
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool commit_output(Output_file& out) {
    if (out.temp_path.empty()) {
        const bool closed = ::close(fd_of(out)) == 0;
        out.handle = -1;
        return closed;
    }
    if (!sync_file(fd_of(out))) {
        discard_output(out);
        return false;
    }
    const int fd = fd_of(out);
    out.handle = -1;
    if (::close(fd) != 0 || ::rename(out.temp_path.c_str(), out.target_path.c_str()) != 0) {
        discard_output(out);
        return false;
    }
    temp_exists = 0;
    out.temp_path.clear();
    const int dir = ::open(folder_of(out.target_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)sync_file(dir);
        ::close(dir);
    }
    return true;
}

void discard_output(Output_file& out) {
    if (out.handle >= 0) ::close(fd_of(out));
    out.handle = -1;
    if (!out.temp_path.empty()) ::unlink(out.temp_path.c_str());
    temp_exists = 0;
    out.temp_path.clear();
}

}  // namespace quarvel
