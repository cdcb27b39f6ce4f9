// What Linux adds to the POSIX calls of files_posix.cpp, which uses these
// only when the build has them (QUARVEL_LINUX_CALLS). 0 or the system's error
// code unless said otherwise.
#pragma once

#include <sys/stat.h>

#include <string>

namespace quarvel::linux_calls {

// Resolves `path` as the kernel does, with its protections: `st` is the file
// it leads to, `real` its path from its descriptor (empty if the system cannot
// tell), taken first: a file unlinked after that shows no links in `st`.
int resolve(const char* path, struct stat& st, std::string& real);

// A file in `folder` without a name (O_TMPFILE), or -1 with errno.
int open_unnamed(int folder, unsigned mode);
int give_name(int fd, int folder, const char* name);  // EEXIST when taken

// Swaps two names atomically; renames without replacing (EEXIST). EINVAL,
// ENOSYS or ENOTSUP where the file system cannot.
int exchange(int folder, const char* a, const char* b);
int rename_noreplace(int folder, const char* from, const char* to);

}  // namespace quarvel::linux_calls
