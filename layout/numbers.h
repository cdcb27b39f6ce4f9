// Numbers in a layout's lines: the field scans and 32-bit wrapping arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quarvel {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal integer as "%d" does: optional C white space, optional sign,
// one or more digits. `used` receives the number of bytes taken. No value when
// there is no digit or the number does not fit in a signed 32-bit integer.
std::optional<std::int32_t> scan_int(std::string_view text, std::size_t* used = nullptr);

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

}  // namespace quarvel
