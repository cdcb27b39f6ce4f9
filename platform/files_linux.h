// What Linux adds to the POSIX calls of files_posix.cpp, which uses these only
// when the build has them (QUARVEL_LINUX_CALLS; off in the portable build).
// Each returns 0 or the system's error code unless it says otherwise.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace quarvel::linux_calls {

// Resolves `path` as the kernel does, with its protections: `st` gets the
// file it leads to and `real` that file's path from its descriptor (empty when
// the system cannot tell it).
int resolve(const char* path, struct stat& st, std::string& real);

// Whether a file's path can be had from its descriptor here (/proc is there),
// which naming an unnamed file needs.
bool descriptor_paths(int folder);

// A new file in `folder` without a name (O_TMPFILE); -1 with errno, EOPNOTSUPP
// among others where the file system cannot make one.
int open_unnamed(int folder, unsigned mode);

// Gives the unnamed file `fd` the name `name` in `folder`; EEXIST when taken.
int give_name(int fd, int folder, const char* name);

// Swaps two names in `folder` atomically; EINVAL or ENOSYS where the file
// system cannot.
int exchange(int folder, const char* a, const char* b);

// Renames without replacing: EEXIST when `to` is taken.
int rename_noreplace(int folder, const char* from, const char* to);

// The file mapped read-only with its pages read in, or null. A fault inside
// the mapping later means another program cut the file short: the signal
// handler calls zero_cut_mapping, which makes the rest read as zeros.
const char* map_file(int fd, std::size_t size);
void unmap_file(const char* mapping, std::size_t size);
bool zero_cut_mapping(const void* address);
bool mapping_cut_short();

}  // namespace quarvel::linux_calls
