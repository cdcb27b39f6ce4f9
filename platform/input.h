// The layout being read: its bytes, read into memory once and owned by the run
// until it ends, and whether it is still the version that was read when the
// output is about to be replaced.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

struct Input {
    std::string path;  // as given
    File file;         // open from the read until the run releases it, right before the replace
    std::unique_ptr<char[]> buffer;
    std::string_view bytes;  // the whole file, in `buffer`
    File_state state;        // when the reading began
};

// Whether the file status query succeeds for `path` (a folder counts).
bool path_exists(const std::string& path);

// Opens and reads `path`: a folder or a path that cannot be opened is an open
// failure, a failing read a read failure.
Failure open_input(const std::string& path, Input& input);

// What one read gave: a byte count (0 at the end), or the system's error.
struct Read_result {
    std::size_t size = 0;
    int error = 0;
};

// Reads the input to its end into its buffer, sized for `expected` bytes and
// one more so that the end is seen at once, by `read_some(into, room)`.
// Throws std::bad_alloc when the file does not fit in memory.
template <typename Read_some>
Failure read_to_end(Input& input, std::size_t expected, Read_some read_some) {
    std::size_t room = expected > 0 ? expected + 1 : unsized_read_start;
    input.buffer.reset(new char[room]);  // not cleared: the reads fill it
    std::size_t used = 0;
    for (Read_result got{1, 0}; got.size != 0; used += got.size) {
        if (used == room) {
            std::unique_ptr<char[]> larger(new char[2 * room]);
            std::memcpy(larger.get(), input.buffer.get(), used);
            input.buffer = std::move(larger);
            room *= 2;
        }
        got = read_some(input.buffer.get() + used, std::min(room - used, io_call_limit));
        if (got.error != 0) return failure(Failure::Kind::read, input.path, got.error);
    }
    input.bytes = std::string_view(input.buffer.get(), used);
    return {};
}

// A read failure unless the input is still the version read: the same size
// and times, and still the file at its path (a save by rename puts another
// there). Pipes have no versions.
Failure check_input(const Input& input);

// Closes the input's handle, which Windows must have closed to replace the
// file; its bytes stay with the run.
void release_input(Input& input);

}  // namespace quarvel
