// Linux's additions to the POSIX calls (see files_linux.h).
#include "platform/files_linux.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

#include "platform/file.h"

namespace quarvel::linux_calls {
namespace {

std::string proc_link(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The input's mapping, read by the signal handler.
volatile std::sig_atomic_t cut = 0;
std::uintptr_t mapping_begin = 0, mapping_end = 0;

}  // namespace

int resolve(const char* path, struct stat& st, std::string& real) {
    // O_PATH opens nothing (a device or a pipe stays untouched); the kernel
    // follows the links, as it would for any open by this user.
    File probe(::open(path, O_PATH | O_CLOEXEC));
    if (!probe.is_open() || ::fstat(static_cast<int>(probe.value), &st) != 0) return errno;
    char buffer[4096];
    const ssize_t n = ::readlink(proc_link(static_cast<int>(probe.value)).c_str(), buffer, sizeof buffer);
    real = n > 0 && n < static_cast<ssize_t>(sizeof buffer) && buffer[0] == '/' ? std::string(buffer, n) : "";
    return 0;
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

const char* map_file(int fd, std::size_t size) {
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) return nullptr;
    cut = 0;
    mapping_begin = reinterpret_cast<std::uintptr_t>(map);
    mapping_end = mapping_begin + size;
    return static_cast<const char*>(map);
}

void unmap_file(const char* mapping, std::size_t size) {
    mapping_begin = mapping_end = 0;
    ::munmap(const_cast<char*>(mapping), size);
}

bool zero_cut_mapping(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    if (at < mapping_begin || at >= mapping_end) return false;
    void* zeros = ::mmap(reinterpret_cast<void*>(mapping_begin), mapping_end - mapping_begin, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros == MAP_FAILED) return false;
    cut = 1;
    return true;  // the faulting read runs again, on zeros
}

bool mapping_cut_short() { return cut != 0; }

}  // namespace quarvel::linux_calls
