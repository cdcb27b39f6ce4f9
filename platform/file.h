// What a file is to the rest of the tool: a handle that closes itself, what
// tells one version of a file from another, and the one failure type that goes
// from the system calls up to the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

// Why a step failed: the run reports "Can't open file: ", "Can't read file: "
// or "Can't write file: " + path, and the reason on standard error.
struct Failure {
    enum class Kind { none, open, read, write };
    Kind kind = Kind::none;
    std::string path;    // as the user gave it
    std::string reason;  // plain words: "changed by another program since it was read"
    explicit operator bool() const { return kind != Kind::none; }
};

// Sizes where the file calls change paths, a few bytes in a test build
// (QUARVEL_SMALL_LIMITS): the most one read or write call asks for (a Windows
// call takes at most 4 GiB), and the first buffer of a pipe, doubled as it fills.
constexpr std::size_t io_call_limit = QUARVEL_SMALL_LIMITS ? 1000 : std::size_t{1} << 30;
constexpr std::size_t unsized_read_start = QUARVEL_SMALL_LIMITS ? 16 : std::size_t{64} << 10;

// The system's words for an error code (errno, or a Windows error), lower case.
std::string error_text(int code);

inline Failure failure(Failure::Kind kind, const std::string& path, int code) { return {kind, path, error_text(code)}; }

struct File;
int close_file(File& file);  // closes `file` if it is open; 0, or the system's error code

// An open descriptor or Windows handle (-1: none), closed when it goes.
struct File {
    std::intptr_t value = -1;
    File() = default;
    explicit File(std::intptr_t v) : value(v) {}
    File(File&& other) noexcept : value(other.value) { other.value = -1; }
    File& operator=(File&& other) noexcept {
        if (this != &other) close_file(*this), value = other.value, other.value = -1;
        return *this;
    }
    ~File() { close_file(*this); }
    bool is_open() const { return value != -1; }
};

// Identity, size and times of a file: enough to tell that another program
// changed or replaced it. Times are only ever compared.
struct File_state {
    bool exists = false;
    bool regular = false;  // a plain file: not a folder, a device or a pipe
    bool folder = false;
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;  // status change (POSIX ctime, Windows ChangeTime)
};

inline bool same_file(const File_state& a, const File_state& b) {
    return a.exists && b.exists && a.volume == b.volume && a.file == b.file;
}

// The same file, size and times (two absent files are the same version too).
inline bool same_version(const File_state& a, const File_state& b) {
    return a.exists == b.exists && a.volume == b.volume && a.file == b.file && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

}  // namespace quarvel
