// What a line of a layout file is, and the three text tests on a line.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace quarvel {

// Reads the line that starts at `pos` in `text`: the bytes up to the next LF,
// less one CR directly before that LF. Advances `pos` past the LF. A text that
// ends with LF yields one more, empty, line at its end; the position after the
// last line is end_of_lines(text). An empty text yields one empty line.
// Inline: every pass over a layout calls it once per line.
inline std::string_view next_line(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) {
        pos = text.size() + 1;
        return {};
    }
    const char* start = text.data() + pos;
    const void* lf = std::memchr(start, '\n', text.size() - pos);
    if (lf == nullptr) {
        const std::string_view line(start, text.size() - pos);
        pos = text.size() + 1;
        return line;
    }
    std::size_t len = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
    pos += len + 1;
    if (len > 0 && start[len - 1] == '\r') --len;
    return {start, len};
}

// The position `next_line` reports after the last line of `text`.
inline std::size_t end_of_lines(std::string_view text) { return text.size() + 1; }

// Text tests: case-sensitive, on the whole line, no trimming; NUL is ordinary.
inline bool begins_with(std::string_view line, std::string_view text) {
    return line.substr(0, text.size()) == text;
}
inline bool contains(std::string_view line, std::string_view text) {
    return line.find(text) != std::string_view::npos;
}
inline bool equals(std::string_view line, std::string_view text) { return line == text; }

}  // namespace quarvel
