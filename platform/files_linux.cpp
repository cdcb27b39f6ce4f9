// Linux's additions to the POSIX calls (see files_linux.h).
#include "platform/files_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace quarvel::linux_calls {
namespace {

std::string proc_link(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

int resolve(const char* path, struct stat& st, std::string& real) {
    // O_PATH opens nothing (a device or a pipe stays untouched); the kernel
    // follows the links, as it would for any open by this user.
    File probe(::open(path, O_PATH | O_CLOEXEC));
    if (!probe.is_open()) return errno;
    char buffer[4096];
    const ssize_t n = ::readlink(proc_link(static_cast<int>(probe.value)).c_str(), buffer, sizeof buffer);
    real = n > 0 && n < static_cast<ssize_t>(sizeof buffer) && buffer[0] == '/' ? std::string(buffer, n) : "";
    // After the name: a file unlinked meanwhile shows no links.
    return ::fstat(static_cast<int>(probe.value), &st) == 0 ? 0 : errno;
}

int open_unnamed(int folder, unsigned mode) {
    return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
}

int give_name(int fd, int folder, const char* name) {
    // Through /proc: linking the descriptor itself needs a privilege.
    return ::linkat(AT_FDCWD, proc_link(fd).c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int exchange(int folder, const char* a, const char* b) {
    return ::renameat2(folder, a, folder, b, RENAME_EXCHANGE) == 0 ? 0 : errno;
}

int rename_noreplace(int folder, const char* from, const char* to) {
    return ::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0 ? 0 : errno;
}

}  // namespace quarvel::linux_calls
