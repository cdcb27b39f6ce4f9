// The layout being read: its bytes, held once, and whether it is still the
// version that was read when the output is about to be replaced.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

struct Input;
void close_input(Input& input);  // unmaps and closes (again: nothing)

struct Input {
    std::string path;  // as given
    File file;
    std::string_view bytes;  // the whole file: `buffer`, or a read-only mapping
    std::string buffer;
    const char* mapping = nullptr;
    std::size_t mapped_size = 0;
    File_state state;  // when the reading began

    ~Input() { close_input(*this); }
};

// Whether the file status query succeeds for `path` (a folder counts).
bool path_exists(const std::string& path);

// Opens and reads (or maps) `path`: a folder or a path that cannot be opened
// is an open failure, a failing read or a file too large to hold a read failure.
Failure open_input(const std::string& path, Input& input);

// What one read gave: a byte count (0 at the end), or the system's error.
struct Read_result {
    std::size_t size = 0;
    int error = 0;
};

// Reads the input to its end into its buffer, sized for `expected` bytes and
// one more so that the end is seen at once, by `read_some(into, room)`.
template <typename Read_some>
Failure read_to_end(Input& input, std::size_t expected, Read_some read_some) {
    try {
        std::string& buffer = input.buffer;
        buffer.resize(expected > 0 ? expected + 1 : 65536);
        std::size_t used = 0;
        for (Read_result got{1, 0}; got.size != 0; used += got.size) {
            if (used == buffer.size()) buffer.resize(buffer.size() * 2);
            got = read_some(&buffer[used], buffer.size() - used);
            if (got.error != 0) return failure(Failure::Kind::read, input.path, got.error);
        }
        buffer.resize(used);
        input.bytes = buffer;
    } catch (const std::bad_alloc&) {
        // An input too large to hold (an endless device, say) cannot be read.
        return {Failure::Kind::read, input.path, "too large to hold in memory"};
    }
    return {};
}

// A read failure unless the input is still the version read: not cut short
// under its mapping, the same size and modification time, and still the file
// at its path (a save by rename puts another there). Pipes have no versions.
Failure check_input(const Input& input);

}  // namespace quarvel
