// Parameter value advancing: what a number in a parameter value is, and how
// its sum with the copy index is written.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarvel {

// Finds the leftmost match of the value pattern "[0-9](?:\.[0-9]+)?" in
// `text`: one digit, optionally a point and one or more digits. Returns false
// when there is none; otherwise sets [begin, end).
bool find_value_number(std::string_view text, std::size_t& begin, std::size_t& end);

// The longest text put_float writes.
constexpr std::size_t float_text_limit = 32;

// Writes `value` as an output stream writes a float by default (general
// notation, 6 significant digits, no trailing zeros, a two-digit exponent) to
// `out`, which has room for float_text_limit bytes; returns the end.
char* put_float(char* out, float value);

}  // namespace quarvel
