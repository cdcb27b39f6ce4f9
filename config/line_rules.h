// The line rules of a layout file: what a line is, the text tests, the
// field extractions and the two blank-line filters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace quarvel {

// Reads the line that starts at `pos` in `text`: the bytes up to the next LF,
// less one CR directly before that LF. Advances `pos` past the LF. A text that
// ends with LF yields one more, empty, line at its end; the position after the
// last line is text.size() + 1. An empty text yields one empty line.
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

// Whether `c` is white space for the C library's scanf in the "C" locale.
inline bool is_scan_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// scan_int for what the inline part leaves: white space, signs, long numbers.
std::optional<std::int32_t> scan_int_general(std::string_view text, std::size_t* used);

// Reads a decimal integer as "%d" does: optional C white space, optional sign,
// one or more digits. `used` receives the number of bytes taken. No value when
// there is no digit or the number does not fit in a signed 32-bit integer.
inline std::optional<std::int32_t> scan_int(std::string_view text, std::size_t* used = nullptr) {
    // Inline for the common case, a few plain digits: up to nine always fit.
    std::size_t digits = 0;
    std::int32_t value = 0;
    while (digits < 9 && digits < text.size() && is_digit(text[digits])) {
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || (digits < text.size() && is_digit(text[digits]))) return scan_int_general(text, used);
    if (used != nullptr) *used = digits;
    return value;
}

// A key line taken apart at its first "=": the key before it (empty when the
// line begins with "=") and everything after it. No value without an "=".
struct Key_value {
    std::string_view key;
    std::string_view value;
};
std::optional<Key_value> split_key(std::string_view line);

// "%*[^=]=%d": the integer after the first "=" of a key line.
std::optional<std::int32_t> scan_key_int(std::string_view line);

// "%*[^ ] %d": the meter number of a header line such as "[Meter 12]".
std::optional<std::int32_t> scan_meter_number(std::string_view line);

// "%[^0123456789]%d" on a value: the leading run of non-digits (possibly
// empty), the number that follows and the text after that number. `number`
// has no value when there is no digit or the digits do not fit in 32 bits.
struct Prefixed_number {
    std::string_view prefix;
    std::optional<std::int32_t> number;
    std::string_view rest;
};
Prefixed_number scan_prefixed_number(std::string_view value);

// Signed 32-bit arithmetic that wraps on overflow, without undefined behaviour.
inline std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t wrap_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// Collapse filter: the first empty line of a run passes, later ones do not.
// With `trim_leading` (the collapse-and-trim filter) every empty line before
// the first non-empty line is dropped as well.
struct Blank_filter {
    bool trim_leading = false;
    bool seen_text = false;
    std::size_t empty_run = 0;
};

// Returns whether `line` passes the filter, and updates its counters.
inline bool keep_line(Blank_filter& filter, std::string_view line) {
    if (!line.empty()) {
        filter.seen_text = true;
        filter.empty_run = 0;
        return true;
    }
    ++filter.empty_run;
    if (filter.trim_leading && !filter.seen_text) return false;
    return filter.empty_run == 1;
}

inline Blank_filter collapse_filter() { return Blank_filter{false, false, 0}; }
inline Blank_filter collapse_and_trim() { return Blank_filter{true, false, 0}; }

}  // namespace quarvel
