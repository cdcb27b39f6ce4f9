// POSIX side of the platform layer's files, with what every POSIX system has.
// Where Linux has more (files without a name, an atomic swap, a file's path
// from its descriptor), files_linux.cpp adds it and the calls here use it
// when the build has it.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
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

#include "platform/files_linux.h"
#include "platform/input.h"
#include "platform/output.h"

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

// The same file with the same content (the status time changes with every
// rename, so it is not compared).
bool same_content(const File_state& a, const File_state& b) {
    return same_file(a, b) && a.size == b.size && a.modified == b.modified;
}

bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

// The one temporary name a file made without a name gets for the moment before it is swapped in.
std::string moment_name(const std::string& name) { return temp_prefix(name) + std::string(16, '0'); }

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
Failure keep_metadata(const Safe_output& out) {
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
Failure cannot_create(const Safe_output& out, int error) {
    if (error == EACCES || error == EPERM)
        return {write_kind, out.path, "this user may not create files in its folder, where the new file is made"};
    return failure(write_kind, out.path, error);
}

// What killed runs on this output left: its temporary names that hold a
// regular file, each looked at before it is touched.
void remove_leftovers(int folder, const std::string& name) {
    const std::string prefix = temp_prefix(name);
    DIR* dir = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view found = entry->d_name;
        if (found.substr(0, prefix.size()) == prefix && is_temp_suffix(found.substr(prefix.size())) &&
            state_at(folder, entry->d_name).regular)
            ::unlinkat(folder, entry->d_name, 0);
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

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Failure open_input(const std::string& path, Input& input) {
    input.path = path;
    input.file = File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!input.file.is_open()) return failure(Failure::Kind::open, path, errno);
    input.state = state_of_file(input.file);
    if (input.state.folder) return failure(Failure::Kind::open, path, EISDIR);
    const std::size_t size = input.state.regular ? static_cast<std::size_t>(input.state.size) : 0;
    return read_to_end(input, size, [&](char* into, std::size_t room) {
        ssize_t n;
        do n = ::read(fd_of(input.file), into, room);
        while (n < 0 && errno == EINTR);
        return n < 0 ? Read_result{0, errno} : Read_result{static_cast<std::size_t>(n), 0};
    });
}

Failure check_input(const Input& input) {
    if (!input.state.regular) return {};
    const File_state now = state_of_file(input.file);
    if (now.size != input.state.size || now.modified != input.state.modified)
        return {Failure::Kind::read, input.path, "changed while it was being read"};
    struct stat st {};
    if (::stat(input.path.c_str(), &st) != 0 || !same_file(state_from(st), input.state))
        return {Failure::Kind::read, input.path, "replaced by another program since it was read"};
    return {};
}

void release_input(Input& input) { close_file(input.file); }

// ---- The output.

Failure find_output(const std::string& path, Safe_output& out) {
    out.path = path;
    // Another program may replace the file between the two looks: then once more.
    for (int attempt = 0; attempt < 10; ++attempt) {
        struct stat st {};
        std::string real;
        int error = 0;
        if constexpr (has_linux_calls) error = linux_calls::resolve(path.c_str(), st, real);
        else error = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
        struct stat link {};
        if (error != 0 && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (error == EACCES) return {write_kind, path, "a link that the system does not follow for this user"};
            if (error == ENOENT) return {write_kind, path, "a link to a file that does not exist"};
        }
        if (error != 0 && error != ENOENT) return failure(write_kind, path, error);
        out.found = error == 0 ? state_from(st) : File_state{};
        if (out.found.folder) return {write_kind, path, "is a folder"};
        if (out.found.exists && !out.found.regular) return {};  // a device or a pipe: written directly, by its path
        out.unnamed_files = !real.empty();
        if (!out.found.exists) real = path;
        if (real.empty()) {
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved == nullptr) return failure(write_kind, path, errno);
            real = resolved;
            std::free(resolved);
        }
        const std::size_t slash = real.rfind('/');
        out.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : real.substr(0, slash);
        out.name = slash == std::string::npos ? real : real.substr(slash + 1);
        if (out.name.empty() || out.name == "." || out.name == "..") return failure(write_kind, path, EISDIR);
        out.folder_handle = File(::open(out.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!out.folder_handle.is_open() && errno == ENOENT) return {write_kind, path, "its folder does not exist"};
        if (!out.folder_handle.is_open()) return failure(write_kind, path, errno);
        // Naming a file made without a name takes a path from its descriptor.
        if constexpr (has_linux_calls) {
            if (!out.found.exists && linux_calls::resolve(out.folder.c_str(), st, real) == 0)
                out.unnamed_files = !real.empty();
        }
        // The name must still hold the file the links led to (or still nothing).
        const File_state named = state_of(out);
        if (out.found.exists ? same_file(named, out.found) : !named.exists) return {};
    }
    return {write_kind, path, changed_by_other};
}

File_state state_of(const Safe_output& out) { return state_at(fd_of(out.folder_handle), out.name.c_str()); }

Failure try_lock_output(Safe_output& out, bool& taken) {
    // Opened for writing: the system itself says whether this user may.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    File fd(::openat(fd_of(out.folder_handle), out.name.c_str(), flags));
    if (!fd.is_open() && errno == ENOENT) {
        // No output (any more): nothing to lock, and its creation will not
        // replace another program's file.
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
    // Replaced while the lock was taken, the lock is on a file that is no
    // longer the output: try again.
    out.locked = state_of_file(fd);
    taken = result == 0 && same_file(out.locked, state_of(out));
    if (taken) out.lock = std::move(fd);
    return {};
}

Failure create_new_file(Safe_output& out) {
    const int folder = fd_of(out.folder_handle);
    const bool replacing = out.locked.exists;
    // A new output gets what any new file gets: 0666, less the umask or as
    // the folder's default access list says.
    const mode_t mode = replacing ? 0600 : 0666;
    if constexpr (has_linux_calls) {
        if (out.unnamed_files) out.file = File(linux_calls::open_unnamed(folder, mode));
        if (out.unnamed_files && !out.file.is_open() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return cannot_create(out, errno);
    }
    // Under the lock no live run uses a temporary name of this output; a file
    // made without a name has one only for a moment at the end, always the same.
    const std::string moment = moment_name(out.name);
    if (replacing && out.file.is_open() && state_at(folder, moment.c_str()).regular)
        ::unlinkat(folder, moment.c_str(), 0);
    if (replacing && !out.file.is_open()) remove_leftovers(folder, out.name);
    for (int attempt = 0; !out.file.is_open() && attempt < 100; ++attempt) {
        const std::string name = new_temp_name(out.name);
        const Signals_held held;
        out.file = File(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!out.file.is_open() && errno != EEXIST) return cannot_create(out, errno);
        if (out.file.is_open()) register_temp(folder, out.temp_name = name);
    }
    if (!out.file.is_open()) return cannot_create(out, EEXIST);
    return replacing ? keep_metadata(out) : Failure{};
}

Failure open_direct(Safe_output& out) {
    out.direct = true;
    out.file = File(::open(out.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (!out.file.is_open()) return failure(write_kind, out.path, errno);
    if (!same_file(state_of_file(out.file), out.found)) return {write_kind, out.path, changed_by_other};
    return {};
}

int write_all(const File& file, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_of(file), bytes.data() + done, std::min(bytes.size() - done, io_call_limit));
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

Failure replace_output(Safe_output& out) {
    const File_state& expected = out.locked;
    const int folder = fd_of(out.folder_handle);
    const Signals_held held;
    if (!same_version(state_of(out), expected)) return {write_kind, out.path, changed_by_other};
    const File_state mine = state_of_file(out.file);
    bool other = false;
    int error = 0;
    if constexpr (has_linux_calls) {
        // Without a name: linked straight into place (refused if another
        // program made the name meanwhile), else given a temporary one.
        const std::string name = expected.exists ? moment_name(out.name) : out.name;
        if (out.temp_name.empty()) error = linux_calls::give_name(fd_of(out.file), folder, name.c_str());
        if (out.temp_name.empty() && error == 0) out.temp_name = name;
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
    if (in_place) {
        close_file(out.file);
        if (other) return {write_kind, out.path, std::string(changed_by_other) + "; its version is kept as " + temp};
        if (error == 0) error = sync_file(out.folder_handle);
        if (error == 0) return {};
        return {write_kind, out.path, error_text(error) + "; the new file is in place, but may not be on disk"};
    }
    if (other) return {write_kind, out.path, changed_by_other};
    if (error == EBUSY) return {write_kind, out.path, "a mounted file, which cannot be replaced"};
    return failure(write_kind, out.path, error);
}

void drop_new_file(Safe_output& out) {
    if (!out.temp_name.empty()) {
        const Signals_held held;
        ::unlinkat(fd_of(out.folder_handle), out.temp_name.c_str(), 0);
        out.temp_name.clear();
        temp_registered = 0;
    }
    close_file(out.file);
}

}  // namespace quarvel
