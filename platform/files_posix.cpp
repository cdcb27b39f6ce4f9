// POSIX side of the platform layer's files: what every POSIX system has, and
// what files_linux.cpp adds where the build has it (files without a name, the
// atomic swap, a file's path from its descriptor).
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/files_linux.h"
#include "platform/input.h"
#include "platform/output_calls.h"

namespace quarvel {
namespace {

constexpr bool has_linux_calls = QUARVEL_LINUX_CALLS != 0;
constexpr Failure::Kind write_kind = Failure::Kind::write;

int fd_of(const File& file) { return static_cast<int>(file.value); }

std::int64_t nanoseconds(const timespec& time) { return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }

#ifdef __APPLE__  // the same times under other names
#define st_mtim st_mtimespec
#define st_ctim st_ctimespec
#endif

File_state state_from(const struct stat& st) {
    return {true, S_ISREG(st.st_mode), S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
            nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

File_state state_at(int folder, const char* name) {
    struct stat st {};
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? state_from(st) : File_state{};
}

File_state state_of_file(const File& file) {
    struct stat st {};
    return ::fstat(fd_of(file), &st) == 0 ? state_from(st) : File_state{};
}

// The same file with the same content (every rename changes the status time).
bool same_content(const File_state& a, const File_state& b) {
    return same_file(a, b) && a.size == b.size && a.modified == b.modified;
}

bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

// Waits five seconds at most for the other end of a pipe: 0, or ETIMEDOUT.
int wait_ready(int fd, short events) {
    pollfd ready{fd, events, 0};
    int n;
    do n = ::poll(&ready, 1, 5000);
    while (n < 0 && errno == EINTR);
    return n > 0 ? 0 : n == 0 ? ETIMEDOUT : errno;
}

// Resolves `path` as the kernel does, links followed with its protections:
// `st` is the file it leads to, `real` its path with every link resolved;
// `by_descriptor` whether the system named it by its descriptor (Linux's
// /proc), which naming a file made without a name needs.
int resolve(const std::string& path, struct stat& st, std::string& real, bool* by_descriptor = nullptr) {
    int error = 0;
    // A file that another run swaps away as it is looked at is then under a
    // temporary name, or none: the name holds another file, looked at again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        real.clear();
        if constexpr (has_linux_calls) error = linux_calls::resolve(path.c_str(), st, real);
        else error = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
        if (error != 0 || (st.st_nlink > 0 && !is_temp_name(real.substr(real.rfind('/') + 1)))) break;
    }
    if (by_descriptor != nullptr) *by_descriptor = !real.empty();
    char* resolved = error == 0 && real.empty() ? ::realpath(path.c_str(), nullptr) : nullptr;
    if (resolved != nullptr) real = resolved, std::free(resolved);
    return error;
}

std::string folder_of(const std::string& real) {
    const std::size_t slash = real.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : real.substr(0, slash);
}

// The kernel's rule for the shell's ">" on another user's file in a sticky
// folder (fs.protected_regular, fs.protected_fifos), applied to the output.
bool protected_in_sticky_folder(const std::string& real, const struct stat& file) {
    const char* setting = S_ISREG(file.st_mode) ? "/proc/sys/fs/protected_regular"
                          : S_ISFIFO(file.st_mode) ? "/proc/sys/fs/protected_fifos" : nullptr;
    struct stat folder {};
    if (setting == nullptr || real.empty() || ::stat(folder_of(real).c_str(), &folder) != 0 ||
        !(folder.st_mode & S_ISVTX) || file.st_uid == folder.st_uid || file.st_uid == ::geteuid())
        return false;
    int level = 0;
    std::ifstream(setting) >> level;
    return (level >= 1 && (folder.st_mode & S_IWOTH)) || (level >= 2 && (folder.st_mode & S_IWGRP));
}

bool is_console_file(const File_state& found) {
    struct stat out {}, err {};
    return (::fstat(1, &out) == 0 && same_file(state_from(out), found)) ||
           (::fstat(2, &err) == 0 && same_file(state_from(err), found));
}

// ---- The named temporary file, which every signal that would end the run
// removes: plain values, changed with the signals held.

volatile std::sig_atomic_t temp_registered = 0;
int temp_folder = -1;
char temp_name[256];  // temporary names fit in 255 bytes

void on_signal(int signal_number) {
    if (temp_registered) ::unlinkat(temp_folder, temp_name, 0);
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

void handle(int signal_number) {
    struct sigaction action {};
    // A signal the caller chose to ignore stays ignored.
    if (::sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) return;
    action.sa_handler = on_signal;
    action.sa_flags = 0;
    sigfillset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
}

// Every signal whose default action ends the process, set up with the first
// named temporary file: a run that makes none needs no handlers.
void register_temp(int folder, const std::string& name) {
    static const bool handled = [] {
        for (const int s : {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV,
                            SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS})
            handle(s);
#ifdef __linux__  // signals that end a process on Linux only
        for (const int s : {SIGPOLL, SIGPWR, SIGSTKFLT}) handle(s);
#endif
#ifdef SIGRTMIN
        for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) handle(s);
#endif
        return true;
    }();
    (void)handled;
    std::snprintf(temp_name, sizeof temp_name, "%s", name.c_str());
    temp_folder = folder;
    temp_registered = 1;
}

// Holds every signal off while a temporary name and its registration change.
struct Signals_held {
    sigset_t old{};
    Signals_held() {
        sigset_t all;
        sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &old);
    }
    ~Signals_held() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
};

#ifdef __linux__  // extended attributes in Linux's form; other systems' are not copied
// The extended attributes of `old`, access lists among them, given to `fd`.
int copy_attributes(int old, int fd) {
    std::string names(static_cast<std::size_t>(std::max<ssize_t>(::flistxattr(old, nullptr, 0), 0)), '\0');
    const ssize_t listed = names.empty() ? 0 : ::flistxattr(old, &names[0], names.size());
    if (listed < 0) return errno;
    names.resize(static_cast<std::size_t>(listed));
    const char* const access_list = "system.posix_acl_access";
    bool had_access_list = false;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
        const char* key = names.c_str() + at;
        had_access_list = had_access_list || std::strcmp(key, access_list) == 0;
        std::string value(static_cast<std::size_t>(std::max<ssize_t>(::fgetxattr(old, key, nullptr, 0), 0)), '\0');
        const ssize_t size = ::fgetxattr(old, key, &value[0], value.size());
        if (size >= 0 && ::fsetxattr(fd, key, value.data(), static_cast<std::size_t>(size), 0) == 0) continue;
        // Labels the system sets by its own policy (security.*, trusted.*)
        // may not be ours to copy; access lists and user attributes are.
        if (std::strncmp(key, "user.", 5) == 0 || std::strncmp(key, "system.posix_acl_", 17) == 0) return errno;
    }
    // The new file may have taken an access list from the folder's default.
    if (!had_access_list) ::fremovexattr(fd, access_list);
    return 0;
}
#else
int copy_attributes(int, int) { return 0; }
#endif

std::string owner_and_group(const struct stat& st) {
    const passwd* user = ::getpwuid(st.st_uid);
    const group* team = ::getgrgid(st.st_gid);
    return "user " + (user != nullptr ? std::string(user->pw_name) : std::to_string(st.st_uid)) + " and group " +
           (team != nullptr ? std::string(team->gr_name) : std::to_string(st.st_gid));
}

// Gives the new file the replaced output's owner and group (first: a change
// of owner clears set-id bits), permissions and extended attributes.
Failure keep_metadata(const Output_files& out) {
    struct stat was {};
    struct stat now {};
    const int fd = fd_of(out.file);
    if (::fstat(fd_of(out.lock), &was) != 0 || ::fstat(fd, &now) != 0) return failure(write_kind, out.path, errno);
    if ((now.st_uid != was.st_uid || now.st_gid != was.st_gid) && ::fchown(fd, was.st_uid, was.st_gid) != 0) {
        if (errno != EPERM) return failure(write_kind, out.path, errno);
        return {write_kind, out.path, "owned by " + owner_and_group(was) + ", which this user cannot give a new file"};
    }
    const mode_t mode = was.st_mode & 07777;
    int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
    // A file system without permissions (FAT) gives every file the same.
    if (error != 0 && ::fstat(fd, &now) == 0 && (now.st_mode & 07777) == mode) error = 0;
    if (error == 0) error = copy_attributes(fd_of(out.lock), fd);
    if (error != 0) return {write_kind, out.path, "its permissions cannot be kept: " + error_text(error)};
    return {};
}

// Why a new file cannot be made in the output's folder, in the user's terms.
Failure cannot_create(const Output_files& out, int error) {
    if (error == EACCES || error == EPERM)
        return {write_kind, out.path, "this user may not create files in its folder, where the new file is made"};
    return failure(write_kind, out.path, error);
}

// What killed runs on this output left, that is provably theirs: one of its
// temporary names (which carry their own check), a regular file, owned by the
// output's owner or this user.
void remove_leftovers(int folder, const Output_files& out) {
    struct stat output {};
    const int listing = ::fstat(fd_of(out.lock), &output) == 0 ? ::openat(folder, ".", O_RDONLY | O_CLOEXEC) : -1;
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        const char* name = entry->d_name;
        if (is_own_temp_name(name, out.name) && ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && (st.st_uid == output.st_uid || st.st_uid == ::geteuid()))
            ::unlinkat(folder, name, 0);
    }
    ::closedir(dir);
}

// Renames `from` over `to`, atomically swapped where the system can, so that a
// version another program slipped in is noticed and put back.
int swap_into_place(int folder, const char* from, const char* to, const File_state& expected, bool& other) {
    if constexpr (has_linux_calls) {
        const int error = linux_calls::exchange(folder, from, to);
        if (error == 0 && same_content(state_at(folder, from), expected))
            return ::unlinkat(folder, from, 0) == 0 ? 0 : errno;
        if (error == 0) {
            other = true;
            return linux_calls::exchange(folder, from, to);
        }
        if (!unsupported(error)) return error;
    }
    // No atomic swap here: the check just made must do.
    return ::renameat(folder, from, folder, to) == 0 ? 0 : errno;
}

// Puts `from` at the new name `to`, refused (EEXIST) if another program took it.
int link_into_place(int folder, const char* from, const char* to) {
    if constexpr (has_linux_calls) {
        const int error = linux_calls::rename_noreplace(folder, from, to);
        if (!unsupported(error)) return error;
    }
    // A hard link also refuses to replace a name; where there are none (FAT), a check.
    if (::linkat(folder, from, folder, to, 0) == 0) return ::unlinkat(folder, from, 0), 0;
    if (errno == EEXIST || state_at(folder, to).exists) return EEXIST;
    return ::renameat(folder, from, folder, to) == 0 ? 0 : errno;
}

}  // namespace

std::string error_text(int code) {
    if (code == ETIMEDOUT) return "no program was at its other end for five seconds";
    std::string text = code != 0 ? std::strerror(code) : "unknown error";
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

int close_file(File& file) {
    if (!file.is_open()) return 0;
    const int fd = fd_of(file);
    file.value = -1;
    return ::close(fd) == 0 ? 0 : errno;
}

// ---- The input.

std::string status_problem(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? "" : error_text(errno);
}

Failure find_input(const std::string& path, Input& input) {
    input.path = path;
    struct stat st {};
    std::string real;
    if (const int error = resolve(path, st, real)) return failure(Failure::Kind::open, path, error);
    if (S_ISDIR(st.st_mode)) return failure(Failure::Kind::open, path, EISDIR);
    // A descriptor's name (/dev/fd/3) can lead to a file another program took away.
    if (S_ISREG(st.st_mode) && st.st_nlink == 0) return {Failure::Kind::open, path, "no longer in any folder"};
    input.real = S_ISREG(st.st_mode) && !real.empty() ? real : path;
    return {};
}

Failure open_input(Input& input) {
    input.file = File(::open(input.real.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input.file.is_open()) return failure(Failure::Kind::open, input.path, errno);
    input.state = state_of_file(input.file);
    if (input.state.folder) return failure(Failure::Kind::open, input.path, EISDIR);
    const bool regular = input.state.regular;
    const int fd = fd_of(input.file);
    const std::size_t size = regular ? static_cast<std::size_t>(input.state.size) : 0;
    return read_to_end(input, size, [&](char* into, std::size_t room) {
        ssize_t n;
        do {
            // A pipe waits for its writer, five seconds at most.
            if (const int waited = regular ? 0 : wait_ready(fd, POLLIN)) return -std::int64_t{waited};
            n = ::read(fd, into, room);
        } while (n < 0 && (errno == EINTR || errno == EAGAIN));
        return n < 0 ? -std::int64_t{errno} : std::int64_t{n};
    });
}

Failure check_input(const Input& input) {
    if (!input.state.regular) return {};
    const File_state now = state_of_file(input.file);
    if (now.size != input.state.size || now.modified != input.state.modified || now.changed != input.state.changed)
        return {Failure::Kind::read, input.path, "changed while it was being read"};
    struct stat st {};
    if (::stat(input.real.c_str(), &st) != 0 || !same_file(state_from(st), input.state))
        return {Failure::Kind::read, input.path, "replaced by another program since it was read"};
    return {};
}

void release_input(Input& input) { close_file(input.file); }

// ---- The output.

Failure find_output(const std::string& path, Output_files& out) {
    out.path = path;
    // Another program may replace the file between the two looks: then once more.
    for (int attempt = 0; attempt < 10; ++attempt) {
        struct stat st {};
        std::string real;
        const int error = resolve(path, st, real, &out.unnamed_files);
        struct stat link {};
        if (error != 0 && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (error == EACCES) return {write_kind, path, "a link that the system does not follow for this user"};
            if (error == ENOENT) return {write_kind, path, "a link to a file that does not exist"};
        }
        if (error != 0 && error != ENOENT) return failure(write_kind, path, error);
        out.found = error == 0 ? state_from(st) : File_state{};
        if (out.found.folder) return {write_kind, path, "is a folder"};
        if (!out.found.exists) real = path;
        if (out.found.exists && protected_in_sticky_folder(real, st))
            return {write_kind, path, "another user's file in a sticky folder, which the system protects"};
        if (out.found.regular && is_console_file(out.found))
            return {write_kind, path, "it is where this run's console text goes"};
        if (out.found.exists && !out.found.regular) return {};  // a device or a pipe: written directly, by its path
        if (real.empty()) return {write_kind, path, "no longer in any folder"};  // gone as it was looked at
        out.folder = folder_of(real);
        out.name = real.substr(real.rfind('/') + 1);
        if (out.name.empty() || out.name == "." || out.name == "..") return failure(write_kind, path, EISDIR);
        if (is_temp_name(out.name)) return {write_kind, path, "a temporary file of another run"};
        out.folder_handle = File(::open(out.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!out.folder_handle.is_open() && errno == ENOENT) return {write_kind, path, "its folder does not exist"};
        if (!out.folder_handle.is_open() && errno == EACCES)
            return {write_kind, path, "this user may not read its folder, which the replace flushes to disk"};
        if (!out.folder_handle.is_open()) return failure(write_kind, path, errno);
        if (!out.found.exists) resolve(out.folder, st, real, &out.unnamed_files);
        // The name must still hold the file the links led to (or still nothing).
        const File_state named = state_of(out);
        if (out.found.exists ? same_file(named, out.found) : !named.exists) return {};
    }
    return {write_kind, path, changed_by_other};
}

File_state state_of(const Output_files& out) { return state_at(fd_of(out.folder_handle), out.name.c_str()); }

Failure try_lock_output(Output_files& out, bool& taken) {
    // Opened for writing: the system itself says whether this user may.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    File fd(::openat(fd_of(out.folder_handle), out.name.c_str(), flags));
    if (!fd.is_open() && errno == ENOENT) {
        // No output (any more): nothing to lock; its creation replaces no one's file.
        out.locked = File_state{};
        taken = true;
        return {};
    }
    if (!fd.is_open() && (errno == EACCES || errno == EPERM)) return {write_kind, out.path, "read-only"};
    if (!fd.is_open() && errno == ELOOP) return {write_kind, out.path, changed_by_other};  // a link now
    if (!fd.is_open()) return failure(write_kind, out.path, errno);
    int result;
    do result = ::flock(fd_of(fd), LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0 && errno == ENOLCK) return {write_kind, out.path, "no locks on this file system"};
    if (result != 0 && errno != EWOULDBLOCK) return failure(write_kind, out.path, errno);
    // Replaced while the lock was taken, the lock is on a file that is not the output.
    out.locked = state_of_file(fd);
    taken = result == 0 && same_file(out.locked, state_of(out));
    if (taken) out.lock = std::move(fd);
    return {};
}

Failure create_new_file(Output_files& out) {
    const int folder = fd_of(out.folder_handle);
    const bool replacing = out.locked.exists;
    // Under the lock no live run has a temporary name of this output.
    if (replacing) remove_leftovers(folder, out);
    // A new output gets what any new file gets: 0666, less the umask or the folder's default.
    const mode_t mode = replacing ? 0600 : 0666;
    if constexpr (has_linux_calls) {
        if (out.unnamed_files) out.file = File(linux_calls::open_unnamed(folder, mode));
        if (out.unnamed_files && !out.file.is_open() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return cannot_create(out, errno);
    }
    for (int attempt = 0; !out.file.is_open() && attempt < 100; ++attempt) {
        const std::string name = new_temp_name(out.name);
        const Signals_held held;
        out.file = File(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!out.file.is_open() && errno != EEXIST) return cannot_create(out, errno);
        if (out.file.is_open()) register_temp(folder, out.temp_name = name);
    }
    if (!out.file.is_open()) return cannot_create(out, EEXIST);
    // Locked like the output before it can stand at its name: until this run
    // ends, no other run takes the new file for a layout it may replace.
    if (replacing && ::flock(fd_of(out.file), LOCK_EX | LOCK_NB) != 0) return failure(write_kind, out.path, errno);
    return replacing ? keep_metadata(out) : Failure{};
}

Failure open_direct(Output_files& out) {
    out.direct = true;
    // A pipe nobody reads is refused (ENXIO) rather than waited for, for five seconds.
    for (int tick = 0; tick <= 250; ++tick) {
        out.file = File(::open(out.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (out.file.is_open() || errno != ENXIO) break;
        ::usleep(20000);
    }
    if (!out.file.is_open()) return failure(write_kind, out.path, errno == ENXIO ? ETIMEDOUT : errno);
    if (!same_file(state_of_file(out.file), out.found)) return {write_kind, out.path, changed_by_other};
    return {};
}

int write_all(const File& file, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_of(file), bytes.data() + done, std::min(bytes.size() - done, io_call_limit));
        if (n < 0 && errno == EAGAIN) {
            if (const int error = wait_ready(fd_of(file), POLLOUT)) return error;  // a pipe nobody reads
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;  // no progress would loop for ever
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int sync_file(const File& file) {
    int result;
    do result = ::fsync(fd_of(file));
    while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

Failure replace_output(Output_files& out) {
    const File_state& expected = out.locked;
    const int folder = fd_of(out.folder_handle);
    const Signals_held held;
    if (!same_version(state_of(out), expected)) return {write_kind, out.path, changed_by_other};
    const File_state mine = state_of_file(out.file);
    bool other = false;
    int error = 0;
    if constexpr (has_linux_calls) {
        // Without a name until now: linked into place for a new output (refused if
        // another program made the name meanwhile), else under a temporary name.
        for (int attempt = 0; out.temp_name.empty() && attempt < 100; ++attempt) {
            const std::string name = expected.exists ? new_temp_name(out.name) : out.name;
            error = linux_calls::give_name(fd_of(out.file), folder, name.c_str());
            if (error == 0) out.temp_name = name;
            if (error != EEXIST || !expected.exists) break;
        }
        other = error == EEXIST && !expected.exists;
    }
    if (error == 0 && expected.exists) {
        error = swap_into_place(folder, out.temp_name.c_str(), out.name.c_str(), expected, other);
    } else if (error == 0 && out.temp_name != out.name) {
        error = link_into_place(folder, out.temp_name.c_str(), out.name.c_str());
        other = error == EEXIST;
    }
    // Placed and the old file gone, nothing is left to look at.
    const bool done = error == 0 && !other;
    const bool in_place = done || same_file(state_of(out), mine);
    const std::string temp = out.temp_name == out.name || done ? "" : out.temp_name;
    const File_state at_temp = temp.empty() ? File_state{} : state_at(folder, temp.c_str());
    // Not placed, it goes while the signals are held; a swap leaves the old
    // file under the temporary name; after a swap back that failed another
    // program's version bears it, and stays.
    if (in_place ? !other && same_content(at_temp, expected) : same_file(at_temp, mine))
        ::unlinkat(folder, temp.c_str(), 0);
    out.temp_name.clear();
    temp_registered = 0;
    // In place, the new file stays open, and locked, until the run ends.
    if (in_place && other) {
        // Another program's version, moved out of the temporary names, which later runs clean up.
        const std::string kept = temp.substr(0, temp.rfind(".tmp.")) + ".kept." + temp.substr(temp.size() - 8);
        const bool moved = ::linkat(folder, temp.c_str(), folder, kept.c_str(), 0) == 0;
        if (moved) ::unlinkat(folder, temp.c_str(), 0);
        return {write_kind, out.path, changed_by_other + ("; its version is kept as " + (moved ? kept : temp))};
    }
    if (in_place) {
        if (error == 0) error = sync_file(out.folder_handle);
        if (error == 0) return {};
        return {write_kind, out.path, error_text(error) + "; the new file is in place, but may not be on disk"};
    }
    if (other) return {write_kind, out.path, changed_by_other};
    if (error == EBUSY) return {write_kind, out.path, "a mounted file, which cannot be replaced"};
    return failure(write_kind, out.path, error);
}

void drop_new_file(Output_files& out) {
    if (!out.temp_name.empty()) {
        const Signals_held held;
        ::unlinkat(fd_of(out.folder_handle), out.temp_name.c_str(), 0);
        out.temp_name.clear();
        temp_registered = 0;
    }
    close_file(out.file);
}

}  // namespace quarvel
