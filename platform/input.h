// The layout being read: its bytes, read into memory once and owned by the run
// until it ends, and whether it is still the version read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

struct Input {
    std::string path;  // as given
    std::string real;  // the file it led to when found: where it is read and checked
    File file;         // open from the read until the run releases it, right before the replace
    std::unique_ptr<char[]> buffer;
    std::string_view bytes;  // the whole file, in `buffer`
    File_state state;        // when the reading began
};

// Why the file status query fails for `path`, in plain words; empty when it
// succeeds (a folder counts).
std::string status_problem(const std::string& path);

// Finds the file `path` leads to, once, before the output's lock is taken; a
// folder, or a path that leads nowhere, is an open failure.
Failure find_input(const std::string& path, Input& input);

// Opens (an open failure) and reads (a read failure) the input found; a pipe
// gets five seconds for each piece.
Failure open_input(Input& input);

// Reads the input to its end by `read_some(into, room)` (a byte count, 0 at the
// end, or minus the system's error code), into a buffer sized for `expected`
// bytes and one more, so that the end is seen at once. Throws std::bad_alloc
// when the file does not fit in memory.
template <typename Read_some>
Failure read_to_end(Input& input, std::size_t expected, Read_some read_some) {
    std::size_t room = expected > 0 ? expected + 1 : unsized_read_start;
    input.buffer.reset(new char[room]);  // not cleared: the reads fill it
    std::size_t used = 0;
    for (std::int64_t got = 1; got != 0; used += static_cast<std::size_t>(got)) {
        if (used == room) {
            std::unique_ptr<char[]> larger(new char[2 * room]);
            std::memcpy(larger.get(), input.buffer.get(), used);
            input.buffer = std::move(larger);
            room *= 2;
        }
        got = read_some(input.buffer.get() + used, std::min(room - used, io_call_limit));
        if (got < 0) return failure(Failure::Kind::read, input.path, static_cast<int>(-got));
    }
    input.bytes = std::string_view(input.buffer.get(), used);
    return {};
}

// A read failure unless the input is still the version read: the same size and
// times, still the file at its path (a save by rename puts another there).
Failure check_input(const Input& input);

// Closes the input's handle (Windows cannot replace a file held open); its bytes stay.
void release_input(Input& input);

}  // namespace quarvel
