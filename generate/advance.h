// Parameter value advancing: every digit (with any decimal fraction after it)
// in a parameter line's value is advanced by the copy index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

// Finds the leftmost match of the value pattern "[0-9](?:\.[0-9]+)?" in
// `text`: one digit, optionally a point and one or more digits. Returns false
// when there is none; otherwise sets [begin, end).
bool find_value_number(std::string_view text, std::size_t& begin, std::size_t& end);

// Appends `value` as an output stream writes a float by default: general
// notation, 6 significant digits, no trailing zeros, a two-digit exponent.
void append_float(std::string& out, float value);

// The longest text append_float writes.
constexpr std::size_t float_text_limit = 32;

// Writes `value` as append_float does to `out`, which has room for
// float_text_limit bytes, and returns the end of what it wrote.
char* put_float(char* out, float value);

// Appends the line rewritten for copy `k`: the key, "=", and the value (all
// text after the first "=") with every value-pattern match advanced by k in
// single precision.
void advance_parameter_line(std::string_view line, std::int32_t k, std::string& out);

}  // namespace quarvel
