// What Linux adds to the POSIX calls of files_posix.cpp, which uses these
// only when the build has them (QUARVEL_LINUX_CALLS). 0 or the system's error
// code unless said otherwise.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace quarvel::linux_calls {

// Resolves `path` as the kernel does, with its protections: `st` is the file
// it leads to, `real` its path from its descriptor (empty if the system cannot tell).
int resolve(const char* path, struct stat& st, std::string& real);

// A file in `folder` without a name (O_TMPFILE), or -1 with errno.
int open_unnamed(int folder, unsigned mode);
int give_name(int fd, int folder, const char* name);  // EEXIST when taken

// Swaps two names atomically; renames without replacing (EEXIST). EINVAL,
// ENOSYS or ENOTSUP where the file system cannot.
int exchange(int folder, const char* a, const char* b);
int rename_noreplace(int folder, const char* from, const char* to);

// The file mapped read-only with its pages read in, or null. A fault inside
// the mapping means another program cut the file short: the signal handler
// calls zero_cut_mapping, and the rest reads as zeros.
const char* map_file(int fd, std::size_t size);
void unmap_file(const char* mapping, std::size_t size);
bool zero_cut_mapping(const void* address);
bool mapping_cut_short();

}  // namespace quarvel::linux_calls
