// A preload library for the safety tests (Linux): it sits between the tool and
// the C library's file calls, records them, and makes chosen calls fail, vanish
// or wait. Loaded with LD_PRELOAD into the tool's child process only.
//
// Switches (environment variables; unset means off):
//   QUARVEL_SHIM_LOG=<file>               append one line per call to <file>:
//       "<function> op=<op> fd= path= path2= flags= bytes= ino= ino2= kind=
//        created= done= real= ret= err=", paths absolute (the *at forms and
//       file descriptors resolved through /proc/self/fd), spaces and "%" in
//       them written as %20 and %25; done=0 for a call that was not
//       performed, real= what it really returned, ret=/err= what the tool saw.
//   QUARVEL_SHIM_FAIL=<call>=<errno>        the call fails with <errno> and is not performed
//   QUARVEL_SHIM_FAIL_AFTER=<call>=<errno>  the call is performed, then reports <errno>
//   QUARVEL_SHIM_SKIP=<call>                the call is not performed and reports success
//   QUARVEL_SHIM_PAUSE=<call>=<path>        before the call: create <path>.paused, then
//                                           wait until <path> exists (at most 30 s)
//   QUARVEL_SHIM_PAUSE_AFTER=<call>=<path>  the same, right after the call
// Each takes a comma-separated list. <call> is <op>[.<kind>]@<n>: the n-th call
// (from 1) of <op> among those of that kind. <op> is open (every open, openat,
// creat and their 64 and fortified forms), write, pwrite, close, fsync,
// fdatasync, rename (rename, renameat, renameat2, also through syscall()),
// link, unlink, ftruncate, fchmod, fchown, fsetxattr or flock. <kind> is "new"
// for an open with O_CREAT or O_TMPFILE, "file" or "dir" for a call on a descriptor of a
// regular file or a folder. write and pwrite count only writes to files that
// the process made (O_CREAT, O_TMPFILE), never the console. <errno> is a name such as
// EIO or ENOSPC, or a number.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- The real functions, found once.

template <typename F>
F real(F& slot, const char* name) {
    if (!slot) slot = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
    return slot;
}
#define REAL(name) real(real_##name, #name)

using open_fn = int (*)(const char*, int, ...);
using openat_fn = int (*)(int, const char*, int, ...);
using open2_fn = int (*)(const char*, int);
using openat2_fn = int (*)(int, const char*, int);
using creat_fn = int (*)(const char*, mode_t);
using write_fn = ssize_t (*)(int, const void*, size_t);
using pwrite_fn = ssize_t (*)(int, const void*, size_t, off_t);
using fd_fn = int (*)(int);
using rename_fn = int (*)(const char*, const char*);
using renameat_fn = int (*)(int, const char*, int, const char*);
using renameat2_fn = int (*)(int, const char*, int, const char*, unsigned);
using linkat_fn = int (*)(int, const char*, int, const char*, int);
using unlink_fn = int (*)(const char*);
using unlinkat_fn = int (*)(int, const char*, int);
using ftruncate_fn = int (*)(int, off_t);
using fchmod_fn = int (*)(int, mode_t);
using fchown_fn = int (*)(int, uid_t, gid_t);
using fsetxattr_fn = int (*)(int, const char*, const void*, size_t, int);
using flock_fn = int (*)(int, int);
using syscall_fn = long (*)(long, ...);

open_fn real_open, real_open64;
openat_fn real_openat, real_openat64;
open2_fn real___open_2, real___open64_2;
openat2_fn real___openat_2, real___openat64_2;
creat_fn real_creat, real_creat64;
write_fn real_write;
pwrite_fn real_pwrite, real_pwrite64;
fd_fn real_close, real_fsync, real_fdatasync;
rename_fn real_rename, real_link;
renameat_fn real_renameat;
renameat2_fn real_renameat2;
linkat_fn real_linkat;
unlink_fn real_unlink;
unlinkat_fn real_unlinkat;
ftruncate_fn real_ftruncate, real_ftruncate64;
fchmod_fn real_fchmod;
fchown_fn real_fchown;
fsetxattr_fn real_fsetxattr;
flock_fn real_flock;
syscall_fn real_syscall;

// ---- The switches.

enum class Action { fail, fail_after, skip, pause, pause_after };

struct Rule {
    Action action;
    std::string op;
    std::string kind;  // empty: any
    long nth = 0;
    long seen = 0;
    int error = 0;
    std::string path;  // pause file
};

struct Errno_name {
    const char* name;
    int value;
};
const Errno_name errno_names[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EPERM", EPERM},   {"EACCES", EACCES},
                                  {"EDQUOT", EDQUOT}, {"EROFS", EROFS},   {"EXDEV", EXDEV},   {"EINVAL", EINVAL},
                                  {"EBUSY", EBUSY},   {"EEXIST", EEXIST}, {"ENOENT", ENOENT}, {"ENOTSUP", ENOTSUP},
                                  {"EINTR", EINTR},   {"EAGAIN", EAGAIN}, {"ENOSYS", ENOSYS}, {"EFBIG", EFBIG},
                                  {"ENOLCK", ENOLCK}, {"EOPNOTSUPP", EOPNOTSUPP}};

int parse_errno(const std::string& text) {
    for (const Errno_name& e : errno_names)
        if (text == e.name) return e.value;
    return std::atoi(text.c_str());
}

void add_rules(std::vector<Rule>& rules, const char* variable, Action action) {
    const char* value = std::getenv(variable);
    if (!value) return;
    std::string list = value;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(start, end - start);
        start = end + 1;
        const std::size_t at = item.find('@');
        if (at == std::string::npos) continue;
        Rule rule{action, item.substr(0, at), "", 0, 0, 0, ""};
        const std::size_t dot = rule.op.find('.');
        if (dot != std::string::npos) {
            rule.kind = rule.op.substr(dot + 1);
            rule.op.resize(dot);
        }
        const std::size_t equals = item.find('=', at);
        rule.nth =
            std::atol(item.substr(at + 1, equals == std::string::npos ? std::string::npos : equals - at - 1).c_str());
        const std::string argument = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (action == Action::fail || action == Action::fail_after) rule.error = parse_errno(argument);
        if (action == Action::pause || action == Action::pause_after) rule.path = argument;
        rules.push_back(rule);
    }
}

std::vector<Rule>& rules() {
    static std::vector<Rule>* all = [] {
        auto* list = new std::vector<Rule>;  // never freed: calls may come during exit
        add_rules(*list, "QUARVEL_SHIM_FAIL", Action::fail);
        add_rules(*list, "QUARVEL_SHIM_FAIL_AFTER", Action::fail_after);
        add_rules(*list, "QUARVEL_SHIM_SKIP", Action::skip);
        add_rules(*list, "QUARVEL_SHIM_PAUSE", Action::pause);
        add_rules(*list, "QUARVEL_SHIM_PAUSE_AFTER", Action::pause_after);
        return list;
    }();
    return *all;
}

// Descriptors of files opened with O_CREAT: the only ones whose writes count.
std::set<int>& created_fds() {
    static auto* fds = new std::set<int>;
    return *fds;
}

// ---- What a call is about, for the rules and the log.

struct Call {
    const char* function;
    const char* op;
    std::string kind;
    int fd = -1;
    std::string path, path2, name;
    long long flags = -1, bytes = -1;
    long long ino = -1, ino2 = -1;
    int created = -1;
    bool describe_result = false;  // an open: fd= and ino= tell what it opened
    bool done = true;
    long long real_result = 0;
    int real_error = 0;
};

std::string fd_path(int fd) {
    if (fd == AT_FDCWD) {
        char buffer[4096];
        return ::getcwd(buffer, sizeof buffer) ? buffer : "?";
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char buffer[4096];
    const ssize_t n = ::readlink(link, buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "?";
}

// "/a/./b//c/" as "/a/b/c", so that one file has one name in the log.
std::string tidy_path(const std::string& path) {
    std::string out;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") out += "/" + part;
        start = end + 1;
    }
    return out.empty() ? "/" : out;
}

std::string at_path(int dirfd, const char* path) {
    if (!path) return "?";
    if (path[0] == '/') return tidy_path(path);
    return tidy_path(fd_path(dirfd) + "/" + path);
}

long long ino_at(int dirfd, const char* path) {
    struct stat st {};
    return path && ::fstatat(dirfd, path, &st, AT_SYMLINK_NOFOLLOW) == 0 ? static_cast<long long>(st.st_ino) : -1;
}

void describe_fd(Call& call, int fd) {
    call.fd = fd;
    call.path = fd_path(fd);
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        call.ino = static_cast<long long>(st.st_ino);
        call.kind = S_ISDIR(st.st_mode) ? "dir" : S_ISREG(st.st_mode) ? "file" : "other";
    }
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out += "%20";
        else if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}

int log_fd() {
    static int fd = [] {
        const char* path = std::getenv("QUARVEL_SHIM_LOG");
        if (!path) return -1;
        const int f = REAL(open)(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        // Keep clear of the numbers the tool itself uses.
        if (f < 0) return -1;
        const int high = ::fcntl(f, F_DUPFD_CLOEXEC, 900);
        if (high >= 0) {
            REAL(close)(f);
            return high;
        }
        return f;
    }();
    return fd;
}

void log_line(const std::string& line) {
    const int fd = log_fd();
    if (fd >= 0) (void)REAL(write)(fd, line.data(), line.size());
}

void log_call(const Call& call, long long ret, int err) {
    if (log_fd() < 0) return;
    std::string line = call.function;
    auto field = [&line](const char* key, const std::string& value) { line += std::string(" ") + key + "=" + value; };
    field("op", call.op);
    field("fd", std::to_string(call.fd));
    field("path", escaped(call.path));
    field("path2", escaped(call.path2));
    field("name", escaped(call.name));
    field("flags", std::to_string(call.flags));
    field("bytes", std::to_string(call.bytes));
    field("ino", std::to_string(call.ino));
    field("ino2", std::to_string(call.ino2));
    field("kind", call.kind.empty() ? "-" : call.kind);
    field("created", std::to_string(call.created));
    field("done", call.done ? "1" : "0");
    field("real", std::to_string(call.real_result));
    field("ret", std::to_string(ret));
    field("err", std::to_string(err));
    log_line(line + "\n");
}

// ---- Pauses.

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void pause_at(const std::string& path) {
    const int fd = REAL(open)((path + ".paused").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) REAL(close)(fd);
    for (int tick = 0; tick < 3000 && !exists(path); ++tick) {
        const timespec ten_ms{0, 10 * 1000 * 1000};
        ::nanosleep(&ten_ms, nullptr);
    }
}

// The rules that this call meets, counted once per call.
std::vector<Rule*> matching(const Call& call) {
    std::vector<Rule*> hits;
    const bool is_write = std::strcmp(call.op, "write") == 0 || std::strcmp(call.op, "pwrite") == 0;
    if (is_write && !created_fds().count(call.fd)) return hits;
    for (Rule& rule : rules()) {
        if (rule.op != call.op || (!rule.kind.empty() && rule.kind != call.kind)) continue;
        if (++rule.seen == rule.nth) hits.push_back(&rule);
    }
    return hits;
}

// Runs `perform` under the rules and logs the call. `success` is what a
// skipped call reports.
template <typename Perform>
long long intercept(Call& call, long long success, Perform perform) {
    const int saved = errno;
    const std::vector<Rule*> hits = matching(call);
    const Rule* fail = nullptr;
    const Rule* fail_after = nullptr;
    bool skip = false;
    for (const Rule* rule : hits) {
        if (rule->action == Action::pause) pause_at(rule->path);
        if (rule->action == Action::fail) fail = rule;
        if (rule->action == Action::fail_after) fail_after = rule;
        if (rule->action == Action::skip) skip = true;
    }
    long long ret = success;
    int err = 0;
    if (fail || skip) {
        call.done = false;
        call.real_result = 0;
        if (fail) {
            ret = -1;
            err = fail->error;
        }
    } else {
        errno = saved;
        ret = perform();
        err = ret < 0 ? errno : 0;
        call.real_result = ret;
        call.real_error = err;
        if (call.describe_result && ret >= 0) {
            call.fd = static_cast<int>(ret);
            struct stat st {};
            if (::fstat(call.fd, &st) == 0) call.ino = static_cast<long long>(st.st_ino);
        }
        if (fail_after && ret >= 0) {
            ret = -1;
            err = fail_after->error;
        }
    }
    for (const Rule* rule : hits)
        if (rule->action == Action::pause_after) pause_at(rule->path);
    log_call(call, ret, err);
    errno = ret < 0 ? err : saved;
    return ret;
}

// ---- Opens.

int do_open(const char* function, int dirfd, const char* path, int flags, mode_t mode,
            int (*perform)(int, const char*, int, mode_t)) {
    Call call{function, "open"};
    call.path = at_path(dirfd, path);
    call.flags = flags;
    // A file made without a name (O_TMPFILE) is new too; created=2 says it has no name.
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    if ((flags & O_CREAT) || unnamed) {
        call.kind = "new";
        call.created = unnamed ? 2 : ino_at(dirfd, path) < 0 ? 1 : 0;
    }
    call.describe_result = true;
    const long long fd = intercept(call, -1, [&]() -> long long { return perform(dirfd, path, flags, mode); });
    if (fd >= 0) {
        created_fds().erase(static_cast<int>(fd));
        if (call.created >= 0) created_fds().insert(static_cast<int>(fd));
    }
    return static_cast<int>(fd);
}

// Each open form through one path; the fortified ones take no mode.
int via_openat(int dirfd, const char* path, int flags, mode_t mode) { return REAL(openat)(dirfd, path, flags, mode); }
int via_open(int, const char* path, int flags, mode_t mode) { return REAL(open)(path, flags, mode); }
int via_open64(int, const char* path, int flags, mode_t mode) { return REAL(open64)(path, flags, mode); }
int via_openat64(int dirfd, const char* path, int flags, mode_t mode) {
    return REAL(openat64)(dirfd, path, flags, mode);
}

mode_t mode_argument(int flags, va_list& args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

// ---- Calls on a descriptor.

long long fd_call(const char* function, const char* op, int fd, long long bytes, long long success,
                  long long (*perform)(int, void*), void* context) {
    Call call{function, op};
    describe_fd(call, fd);
    call.bytes = bytes;
    return intercept(call, success, [&]() -> long long { return perform(fd, context); });
}

int rename_call(const char* function, int olddir, const char* oldpath, int newdir, const char* newpath, unsigned flags,
                long long (*perform)(void*), void* context) {
    Call call{function, "rename"};
    call.path = at_path(olddir, oldpath);
    call.path2 = at_path(newdir, newpath);
    call.flags = flags;
    call.ino = ino_at(olddir, oldpath);
    call.ino2 = ino_at(newdir, newpath);
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return perform(context); }));
}

struct Rename_args {
    int olddir;
    const char* oldpath;
    int newdir;
    const char* newpath;
    unsigned flags;
};

long long perform_renameat2(void* context) {
    const auto* a = static_cast<Rename_args*>(context);
    if (real_renameat2 || REAL(renameat2))
        return real_renameat2(a->olddir, a->oldpath, a->newdir, a->newpath, a->flags);
    return REAL(syscall)(SYS_renameat2, a->olddir, a->oldpath, a->newdir, a->newpath, a->flags);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return do_open("open", AT_FDCWD, path, flags, mode, via_open);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return do_open("open64", AT_FDCWD, path, flags, mode, via_open64);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return do_open("openat", dirfd, path, flags, mode, via_openat);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return do_open("openat64", dirfd, path, flags, mode, via_openat64);
}

int __open_2(const char* path, int flags) { return do_open("__open_2", AT_FDCWD, path, flags, 0, via_open); }
int __open64_2(const char* path, int flags) { return do_open("__open64_2", AT_FDCWD, path, flags, 0, via_open64); }
int __openat_2(int dirfd, const char* path, int flags) {
    return do_open("__openat_2", dirfd, path, flags, 0, via_openat);
}
int __openat64_2(int dirfd, const char* path, int flags) {
    return do_open("__openat64_2", dirfd, path, flags, 0, via_openat64);
}

int creat(const char* path, mode_t mode) {
    return do_open("creat", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode, via_open);
}
int creat64(const char* path, mode_t mode) {
    return do_open("creat64", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode, via_open64);
}

ssize_t write(int fd, const void* buffer, size_t count) {
    struct Args {
        const void* buffer;
        size_t count;
    } args{buffer, count};
    return fd_call(
        "write", "write", fd, static_cast<long long>(count), static_cast<long long>(count),
        [](int f, void* c) -> long long {
            auto* a = static_cast<Args*>(c);
            return REAL(write)(f, a->buffer, a->count);
        },
        &args);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    struct Args {
        const void* buffer;
        size_t count;
        off_t offset;
    } args{buffer, count, offset};
    return fd_call(
        "pwrite", "pwrite", fd, static_cast<long long>(count), static_cast<long long>(count),
        [](int f, void* c) -> long long {
            auto* a = static_cast<Args*>(c);
            return REAL(pwrite)(f, a->buffer, a->count, a->offset);
        },
        &args);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
    struct Args {
        const void* buffer;
        size_t count;
        off_t offset;
    } args{buffer, count, offset};
    return fd_call(
        "pwrite64", "pwrite", fd, static_cast<long long>(count), static_cast<long long>(count),
        [](int f, void* c) -> long long {
            auto* a = static_cast<Args*>(c);
            return REAL(pwrite64)(f, a->buffer, a->count, a->offset);
        },
        &args);
}

int close(int fd) {
    if (fd == log_fd()) return REAL(close)(fd);
    created_fds().erase(fd);
    return static_cast<int>(fd_call(
        "close", "close", fd, -1, 0, [](int f, void*) -> long long { return REAL(close)(f); }, nullptr));
}

int fsync(int fd) {
    return static_cast<int>(fd_call(
        "fsync", "fsync", fd, -1, 0, [](int f, void*) -> long long { return REAL(fsync)(f); }, nullptr));
}

int fdatasync(int fd) {
    return static_cast<int>(fd_call(
        "fdatasync", "fdatasync", fd, -1, 0, [](int f, void*) -> long long { return REAL(fdatasync)(f); }, nullptr));
}

int ftruncate(int fd, off_t length) {
    off_t args = length;
    return static_cast<int>(fd_call(
        "ftruncate", "ftruncate", fd, static_cast<long long>(length), 0,
        [](int f, void* c) -> long long { return REAL(ftruncate)(f, *static_cast<off_t*>(c)); }, &args));
}

int ftruncate64(int fd, off_t length) {
    off_t args = length;
    return static_cast<int>(fd_call(
        "ftruncate64", "ftruncate", fd, static_cast<long long>(length), 0,
        [](int f, void* c) -> long long { return REAL(ftruncate64)(f, *static_cast<off_t*>(c)); }, &args));
}

int fchmod(int fd, mode_t mode) {
    Call call{"fchmod", "fchmod"};
    describe_fd(call, fd);
    call.flags = mode;
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return REAL(fchmod)(fd, mode); }));
}

int fchown(int fd, uid_t owner, gid_t group) {
    Call call{"fchown", "fchown"};
    describe_fd(call, fd);
    call.name = std::to_string(owner) + ":" + std::to_string(group);
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return REAL(fchown)(fd, owner, group); }));
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    Call call{"fsetxattr", "fsetxattr"};
    describe_fd(call, fd);
    call.name = name ? name : "?";
    call.bytes = static_cast<long long>(size);
    call.flags = flags;
    return static_cast<int>(
        intercept(call, 0, [&]() -> long long { return REAL(fsetxattr)(fd, name, value, size, flags); }));
}

int flock(int fd, int operation) {
    Call call{"flock", "flock"};
    describe_fd(call, fd);
    call.flags = operation;
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return REAL(flock)(fd, operation); }));
}

int rename(const char* oldpath, const char* newpath) {
    Rename_args args{AT_FDCWD, oldpath, AT_FDCWD, newpath, 0};
    return rename_call(
        "rename", AT_FDCWD, oldpath, AT_FDCWD, newpath, 0,
        [](void* c) -> long long {
            auto* a = static_cast<Rename_args*>(c);
            return REAL(rename)(a->oldpath, a->newpath);
        },
        &args);
}

int renameat(int olddir, const char* oldpath, int newdir, const char* newpath) {
    Rename_args args{olddir, oldpath, newdir, newpath, 0};
    return rename_call(
        "renameat", olddir, oldpath, newdir, newpath, 0,
        [](void* c) -> long long {
            auto* a = static_cast<Rename_args*>(c);
            return REAL(renameat)(a->olddir, a->oldpath, a->newdir, a->newpath);
        },
        &args);
}

int renameat2(int olddir, const char* oldpath, int newdir, const char* newpath, unsigned flags) {
    Rename_args args{olddir, oldpath, newdir, newpath, flags};
    return rename_call("renameat2", olddir, oldpath, newdir, newpath, flags, perform_renameat2, &args);
}

// Only renameat2 is taken from raw system calls (a program may call it so
// where the C library has no wrapper); every other number passes through.
long syscall(long number, ...) {
    va_list args;
    va_start(args, number);
    long a[6];
    for (long& arg : a) arg = va_arg(args, long);
    va_end(args);
    if (number == SYS_renameat2) {
        Rename_args r{static_cast<int>(a[0]), reinterpret_cast<const char*>(a[1]), static_cast<int>(a[2]),
                      reinterpret_cast<const char*>(a[3]), static_cast<unsigned>(a[4])};
        return rename_call(
            "syscall_renameat2", r.olddir, r.oldpath, r.newdir, r.newpath, r.flags,
            [](void* c) -> long long {
                auto* x = static_cast<Rename_args*>(c);
                return REAL(syscall)(SYS_renameat2, x->olddir, x->oldpath, x->newdir, x->newpath, x->flags);
            },
            &r);
    }
    return REAL(syscall)(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int link(const char* oldpath, const char* newpath) {
    Call call{"link", "link"};
    call.path = at_path(AT_FDCWD, oldpath);
    call.path2 = at_path(AT_FDCWD, newpath);
    call.ino = ino_at(AT_FDCWD, oldpath);
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return REAL(link)(oldpath, newpath); }));
}

int linkat(int olddir, const char* oldpath, int newdir, const char* newpath, int flags) {
    Call call{"linkat", "link"};
    call.path = at_path(olddir, oldpath);
    call.path2 = at_path(newdir, newpath);
    call.flags = flags;
    call.ino = ino_at(olddir, oldpath);
    struct stat followed {};
    // Through /proc/self/fd: the file the descriptor is open on.
    if ((flags & AT_SYMLINK_FOLLOW) && ::fstatat(olddir, oldpath, &followed, 0) == 0)
        call.ino = static_cast<long long>(followed.st_ino);
    return static_cast<int>(
        intercept(call, 0, [&]() -> long long { return REAL(linkat)(olddir, oldpath, newdir, newpath, flags); }));
}

int unlink(const char* path) {
    Call call{"unlink", "unlink"};
    call.path = at_path(AT_FDCWD, path);
    call.ino = ino_at(AT_FDCWD, path);
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return REAL(unlink)(path); }));
}

int unlinkat(int dirfd, const char* path, int flags) {
    Call call{"unlinkat", "unlink"};
    call.path = at_path(dirfd, path);
    call.flags = flags;
    call.ino = ino_at(dirfd, path);
    return static_cast<int>(intercept(call, 0, [&]() -> long long { return REAL(unlinkat)(dirfd, path, flags); }));
}

}  // extern "C"

namespace {

// A first line, so that a test can tell that the library was loaded.
__attribute__((constructor)) void announce() { log_line("loaded pid=" + std::to_string(::getpid()) + "\n"); }

}  // namespace
