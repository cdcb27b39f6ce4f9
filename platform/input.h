// The layout being read: its bytes, held once, and whether it is still the
// version that was read when the output is about to be replaced.
#pragma once

#include <cstddef>
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

    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() { close_input(*this); }
};

// Whether the file status query succeeds for `path` (a folder counts).
bool path_exists(const std::string& path);

// Opens and reads (or maps) `path`: a folder or a path that cannot be opened
// is an open failure, a failing read or a file too large to hold a read failure.
Failure open_input(const std::string& path, Input& input);

// A read failure unless the input is still the version read: not cut short
// under its mapping, the same size and modification time, and still the file
// at its path (a save by rename puts another there). Pipes have no versions.
Failure check_input(const Input& input);

}  // namespace quarvel
