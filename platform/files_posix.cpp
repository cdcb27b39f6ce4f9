// POSIX side of the platform layer: the system calls only; the replace
// protocol that uses them is in replace.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>

#include "platform/files.h"

namespace quarvel {
namespace {

int fd_of(Handle handle) { return static_cast<int>(handle); }

// ---- State read by the signal handlers: plain values, set with the
// signals blocked.

// The temporary file to remove when the run is interrupted.
volatile std::sig_atomic_t temp_registered = 0;
int temp_folder = -1;
char temp_name[256];

// The input's mapping: a fault inside it means another program cut the file
// short; the pages are then replaced by zeros and the read counts as failed.
volatile std::sig_atomic_t mapping_cut = 0;
std::uintptr_t mapping_begin = 0;
std::uintptr_t mapping_end = 0;

void remove_temp_and_stop(int signal_number) {
    if (temp_registered) ::unlinkat(temp_folder, temp_name, 0);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void on_bus_error(int, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (mapping_end > mapping_begin && address >= mapping_begin && address < mapping_end) {
        void* zeros = ::mmap(reinterpret_cast<void*>(mapping_begin), mapping_end - mapping_begin,
                             PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            mapping_cut = 1;
            return;  // the faulting read runs again, on zeros
        }
    }
    std::signal(SIGBUS, SIG_DFL);  // a real fault: the default action on return
}

// Keeps the interrupt handlers out while the temporary file's registration
// and its name on disk change together.
struct Interrupts_held {
    sigset_t old{};
    Interrupts_held() {
        sigset_t held;
        sigemptyset(&held);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
        ::sigprocmask(SIG_BLOCK, &held, &old);
    }
    ~Interrupts_held() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
};

void register_temp(int folder, const std::string& name) {
    temp_registered = 0;
    temp_folder = folder;
    std::snprintf(temp_name, sizeof temp_name, "%s", name.c_str());
    temp_registered = 1;
}

File_state state_from(const struct stat& st) {
    File_state state;
    state.exists = true;
    state.regular = S_ISREG(st.st_mode);
    state.folder = S_ISDIR(st.st_mode);
    state.volume = static_cast<std::uint64_t>(st.st_dev);
    state.file = static_cast<std::uint64_t>(st.st_ino);
    state.size = static_cast<std::uint64_t>(st.st_size);
    state.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    state.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return state;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool read_link(const std::string& path, std::size_t size_hint, std::string& target) {
    target.assign(size_hint + 1, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return true;
        }
        target.resize(target.size() * 2);
    }
}

// Follows the links of the last part of `path` as the system would: a link
// keeps being a link and its target is replaced; a dangling link's target is
// created. A loop, or a chain longer than the system follows, is ELOOP.
bool resolve_links(std::string& path, int& error) {
    struct stat st {};
    const bool reachable = ::stat(path.c_str(), &st) == 0;
    if (!reachable && errno != ENOENT) {
        error = errno;
        return false;
    }
    // A chain the system follows has at most its own limit of links; a
    // dangling chain gets the usual limit of 40.
    const int limit = reachable ? 4096 : 40;
    for (int hops = 0; hops <= limit; ++hops) {
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target;
        if (!read_link(path, st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 256, target)) {
            error = errno;
            return false;
        }
        if (!target.empty() && target[0] != '/') target = folder_of(path) + "/" + target;
        path = target;
    }
    error = ELOOP;
    return false;
}

bool retry(int result) { return result < 0 && errno == EINTR; }

// Whether `name` is still the file `expected` with the same content (its
// status time changes with every rename, so it is not compared).
bool holds(int folder, const char* name, const File_state& expected) {
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    const File_state now = state_from(st);
    return now.volume == expected.volume && now.file == expected.file && now.size == expected.size &&
           now.modified == expected.modified;
}

}  // namespace

void prepare_process() {
    // Ctrl-C, a closed terminal or a kill end the run without a stray
    // temporary file; signals the caller chose to ignore stay ignored.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            std::signal(signal_number, remove_temp_and_stop);
    }
    struct sigaction bus {};
    bus.sa_sigaction = on_bus_error;
    bus.sa_flags = SA_SIGINFO;
    sigemptyset(&bus.sa_mask);
    ::sigaction(SIGBUS, &bus, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

std::ostream& console_output() { return std::cout; }

std::ostream& error_output() { return std::cerr; }

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Arguments are the bytes the user typed: they match the layout's bytes as they are.
std::string ansi_code_page_form(const std::string&) { return std::string(); }

std::string error_text(int code) {
    std::string text = code != 0 ? std::strerror(code) : "unknown error";
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// ---- The input.

Read_status open_input(const std::string& path, Input_file& input, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return Read_status::cannot_open;
    }
    input.handle = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        return Read_status::cannot_open;
    }
    input.state = state_from(st);
    const std::size_t size = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
    // A large file is mapped with its pages read in up front: no buffer for
    // the kernel to clear, no fault per page.
    if (size >= (std::size_t{256} << 10)) {
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (map != MAP_FAILED) {
            mapping_cut = 0;
            input.mapping = map;
            input.mapped_size = size;
            mapping_begin = reinterpret_cast<std::uintptr_t>(map);
            mapping_end = mapping_begin + size;
            input.bytes = std::string_view(static_cast<const char*>(map), size);
            return Read_status::ok;
        }
    }
    // One byte more than the size, so that the end of file is seen at once.
    std::string& buffer = input.buffer;
    buffer.resize(size + 1 < 65536 ? 65536 : size + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == buffer.size()) buffer.resize(buffer.size() * 2);
        const ssize_t n = ::read(fd, &buffer[used], buffer.size() - used);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            buffer.clear();
            return Read_status::read_error;
        }
        used += static_cast<std::size_t>(n);
    }
    buffer.resize(used);
    input.bytes = buffer;
    return Read_status::ok;
}

bool input_unchanged(const Input_file& input) {
    if (input.mapping != nullptr && mapping_cut) return false;
    if (!input.state.regular) return true;  // a pipe or a device has no versions
    struct stat st {};
    if (::fstat(fd_of(input.handle), &st) != 0) return false;
    const File_state now = state_from(st);
    // Only what tells of new content: a file renamed over or linked (a new
    // status time) is still the version that was read.
    return now.size == input.state.size && now.modified == input.state.modified;
}

void close_input(Input_file& input) {
    if (input.mapping != nullptr) {
        mapping_begin = mapping_end = 0;
        ::munmap(input.mapping, input.mapped_size);
        input.mapping = nullptr;
    }
    input.bytes = {};
    if (input.handle != no_handle) ::close(fd_of(input.handle));
    input.handle = no_handle;
}

// ---- The output's folder, its names and the lock.

bool find_output_place(const std::string& path, Output_place& place, int& error) {
    std::string real = path;
    if (!resolve_links(real, error)) return false;
    const std::size_t slash = real.rfind('/');
    place.name = slash == std::string::npos ? real : real.substr(slash + 1);
    place.folder = folder_of(real);
    if (place.name.empty() || place.name == "." || place.name == "..") {
        error = EISDIR;
        return false;
    }
    const int folder = ::open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        error = errno;
        return false;
    }
    place.folder_handle = folder;
    return true;
}

void close_output_place(Output_place& place) {
    if (place.folder_handle != no_handle) ::close(fd_of(place.folder_handle));
    place.folder_handle = no_handle;
}

File_state state_of(const Output_place& place, const std::string& name) {
    struct stat st {};
    if (::fstatat(fd_of(place.folder_handle), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return state_from(st);
}

bool may_write(const Output_place& place) {
    return ::faccessat(fd_of(place.folder_handle), place.name.c_str(), W_OK, 0) == 0;
}

Lock_status try_lock_output(const Output_place& place, Handle& lock, File_state& state, int& error) {
    const int folder = fd_of(place.folder_handle);
    const char* name = place.name.c_str();
    int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && errno == EACCES) fd = ::openat(folder, name, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) {
            error = errno;
            return Lock_status::failed;
        }
        // No output yet: nothing to lock; its creation cannot replace
        // another program's file (see replace_output).
        state = File_state{};
        return Lock_status::locked;
    }
    int result;
    do result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (retry(result));
    if (result != 0) {
        error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Lock_status::busy : Lock_status::failed;
    }
    // The file may have been replaced while we waited: then the lock is on
    // a file that is no longer the output.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !same_file(held, named)) {
        ::close(fd);
        return Lock_status::busy;
    }
    lock = fd;
    state = state_from(held);
    return Lock_status::locked;
}

void unlock_output(Handle& lock) {
    if (lock != no_handle) ::close(fd_of(lock));
    lock = no_handle;
}

// ---- Files being written.

Create_status create_temp(const Output_place& place, const std::string& name, Handle& file, int& error) {
    const int folder = fd_of(place.folder_handle);
    const Interrupts_held held;
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = errno;
        return errno == EEXIST || errno == EINTR ? Create_status::name_taken : Create_status::failed;
    }
    // The lock on the temporary file tells a later run that its maker lives.
    // A run clearing leftovers may have taken it first, or removed the name.
    struct stat mine {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &mine) != 0 ||
        ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(mine, named)) {
        ::close(fd);
        return Create_status::name_taken;
    }
    register_temp(folder, name);
    file = fd;
    return Create_status::created;
}

bool copy_metadata(Handle old, Handle temp, int& error) {
    const int fd = fd_of(temp);
    mode_t mode = 0;
    struct stat st {};
    if (old == no_handle) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    } else {
        if (::fstat(fd_of(old), &st) != 0) {
            error = errno;
            return false;
        }
        mode = st.st_mode & 07777;
        // Where the user may set it; the owner goes first, as a change of
        // owner clears set-id bits.
        (void)::fchown(fd, st.st_uid, st.st_gid);
    }
    if (::fchmod(fd, mode) != 0) {
        error = errno;
        // A file system without permissions (FAT) gives every file the same.
        struct stat now {};
        if (::fstat(fd, &now) != 0 || (now.st_mode & 07777) != mode) return false;
    }
    if (old == no_handle) return true;
    // Extended attributes, access lists among them (system.posix_acl_access).
    std::string names;
    for (;;) {
        const ssize_t size = ::flistxattr(fd_of(old), nullptr, 0);
        if (size <= 0) return true;  // none, or none supported here
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(fd_of(old), &names[0], names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) return true;
    }
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const std::string key = names.c_str() + at;
        std::string value;
        ssize_t size = ::fgetxattr(fd_of(old), key.c_str(), nullptr, 0);
        if (size > 0) {
            value.resize(static_cast<std::size_t>(size));
            size = ::fgetxattr(fd_of(old), key.c_str(), &value[0], value.size());
        }
        bool kept = size >= 0;
        if (kept) {
            value.resize(static_cast<std::size_t>(size));
            kept = ::fsetxattr(fd, key.c_str(), value.data(), value.size(), 0) == 0;
        }
        // Labels the system sets by its own policy (security.*, trusted.*)
        // may not be ours to copy; access lists and user attributes are.
        const bool must_keep = key.compare(0, 5, "user.") == 0 || key.compare(0, 17, "system.posix_acl_") == 0;
        if (!kept && must_keep) {
            error = errno;
            return false;
        }
        if (names.find('\0', at) == std::string::npos) break;
    }
    return true;
}

bool open_direct(const Output_place& place, Handle& file, int& error) {
    const int fd = ::openat(fd_of(place.folder_handle), place.name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    file = fd;
    return true;
}

bool write_all(Handle file, std::string_view bytes, int& error) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_of(file), p, left);
        if (retry(static_cast<int>(n))) continue;
        if (n <= 0) {  // no progress would loop for ever
            error = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sync_file(Handle file, int& error) {
    for (;;) {
        if (::fsync(fd_of(file)) == 0) return true;
        if (errno != EINTR) {
            error = errno;
            return false;
        }
    }
}

bool close_file(Handle& file, int& error) {
    const int fd = fd_of(file);
    file = no_handle;
    if (::close(fd) == 0) return true;
    error = errno;
    return false;
}

void remove_temp(const Output_place& place, const std::string& name, Handle& file) {
    const Interrupts_held held;
    if (file != no_handle) ::close(fd_of(file));
    file = no_handle;
    ::unlinkat(fd_of(place.folder_handle), name.c_str(), 0);
    temp_registered = 0;
}

std::vector<std::string> folder_names(const Output_place& place) {
    std::vector<std::string> names;
    const int fd = ::openat(fd_of(place.folder_handle), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

bool remove_if_abandoned(const Output_place& place, const std::string& name) {
    const int folder = fd_of(place.folder_handle);
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat held {};
    struct stat named {};
    const bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
                           S_ISREG(held.st_mode) &&
                           ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                           same_file(held, named);
    const bool removed = abandoned && ::unlinkat(folder, name.c_str(), 0) == 0;
    ::close(fd);
    return removed;
}

Replace_status replace_output(const Output_place& place, const std::string& temp, Handle& file,
                              const File_state& expected, int& error) {
    const int folder = fd_of(place.folder_handle);
    const char* from = temp.c_str();
    const char* to = place.name.c_str();
    const Interrupts_held held;
    struct stat mine {};
    ::fstat(fd_of(file), &mine);
    const auto finish = [&](Replace_status status) {
        if (status != Replace_status::failed && status != Replace_status::other_version) {
            temp_registered = 0;
            int ignored = 0;
            close_file(file, ignored);
        }
        return status;
    };
    // After an error, where do things stand? The system may have done it.
    const auto judge = [&]() {
        error = errno;
        struct stat named {};
        const bool in_place = ::fstatat(folder, to, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(named, mine);
        // A swap that happened left the old file under the temporary name.
        if (in_place && expected.exists && holds(folder, from, expected)) ::unlinkat(folder, from, 0);
        return finish(in_place ? Replace_status::failed_after : Replace_status::failed);
    };
    if (expected.exists) {
        // Swap the two names, then make sure the file we swapped out is the
        // one we read; if another program slipped its version in, swap back.
        if (::renameat2(folder, from, folder, to, RENAME_EXCHANGE) == 0) {
            if (!holds(folder, from, expected)) {
                if (::renameat2(folder, from, folder, to, RENAME_EXCHANGE) == 0)
                    return Replace_status::other_version;
                error = errno;
                temp_registered = 0;  // the other version now bears the temporary name
                return finish(Replace_status::failed_after);
            }
            if (::unlinkat(folder, from, 0) != 0) {
                error = errno;
                return finish(Replace_status::failed_after);
            }
            return finish(Replace_status::replaced);
        }
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return judge();
        // No atomic swap on this file system: the check just made must do.
        if (::renameat(folder, from, folder, to) != 0) return judge();
        return finish(Replace_status::replaced);
    }
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return finish(Replace_status::replaced);
    if (errno == EEXIST) return Replace_status::other_version;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return judge();
    // No such rename here: a hard link also refuses to replace a name.
    if (::linkat(folder, from, folder, to, 0) == 0) {
        ::unlinkat(folder, from, 0);
        return finish(Replace_status::replaced);
    }
    if (errno == EEXIST) return Replace_status::other_version;
    struct stat named {};
    if (::fstatat(folder, to, &named, AT_SYMLINK_NOFOLLOW) == 0) return Replace_status::other_version;
    if (::renameat(folder, from, folder, to) != 0) return judge();
    return finish(Replace_status::replaced);
}

bool sync_folder(const Output_place& place, int& error) { return sync_file(place.folder_handle, error); }

std::uint64_t random_number() {
    static std::mt19937_64 engine = [] {
        // The library may have no random source to offer; the clock and the
        // process id still make the name differ from run to run.
        std::uint64_t device_bits = 0;
        try {
            std::random_device device;
            device_bits = (static_cast<std::uint64_t>(device()) << 32) ^ device();
        } catch (...) {
        }
        std::seed_seq seed{device_bits, static_cast<std::uint64_t>(::getpid()),
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    return engine();
}

}  // namespace quarvel
