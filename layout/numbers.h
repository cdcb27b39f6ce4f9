// Numbers in a layout's lines: the field scans and 32-bit wrapping arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quarvel {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// scan_int for any text: white space, a sign, digits beyond nine.
std::optional<std::int32_t> scan_int_in_full(std::string_view text, std::size_t* used);

// How many plain digits scan_int reads inline (up to nine always fit); a
// test build (QUARVEL_SMALL_LIMITS) sends longer numbers the full way.
constexpr std::size_t plain_digits = QUARVEL_SMALL_LIMITS ? 1 : 9;

// Reads a decimal integer as "%d" does: optional C white space, optional sign,
// one or more digits. `used` receives the number of bytes taken. No value when
// there is no digit or the number does not fit in a signed 32-bit integer.
// Inline for the common case, a few plain digits: the scan reads one from
// every position line.
inline std::optional<std::int32_t> scan_int(std::string_view text, std::size_t* used = nullptr) {
    std::size_t digits = 0;
    std::int32_t plain = 0;
    while (digits < plain_digits && digits < text.size() && is_digit(text[digits])) plain = plain * 10 + (text[digits++] - '0');
    if (digits == 0 || (digits < text.size() && is_digit(text[digits]))) return scan_int_in_full(text, used);
    if (used != nullptr) *used = digits;
    return plain;
}

// "%*[^ ] %d": the meter number of a header line such as "[Meter 12]".
inline std::optional<std::int32_t> scan_meter_number(std::string_view line) {
    std::size_t start = line.find(' ');
    if (start == 0 || start == std::string_view::npos) return std::nullopt;
    while (start < line.size() && line[start] == ' ') ++start;  // what scan_int would skip, the quick way
    return scan_int(line.substr(start));
}

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

}  // namespace quarvel
