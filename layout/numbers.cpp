#include "layout/numbers.h"

namespace quarvel {
namespace {

// White space for the C library's scanf in the "C" locale.
bool is_scan_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<std::int32_t> scan_int_in_full(std::string_view text, std::size_t* used) {
    std::size_t i = 0;
    while (i < text.size() && is_scan_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t first_digit = i;
    // Up to 2147483648, the magnitude of INT32_MIN; past it the number cannot fit.
    std::int64_t magnitude = 0;
    bool overflow = false;
    while (i < text.size() && is_digit(text[i])) {
        if (!overflow) {
            magnitude = magnitude * 10 + (text[i] - '0');
            if (magnitude > std::int64_t{2147483648}) overflow = true;
        }
        ++i;
    }
    if (used != nullptr) *used = i;
    if (i == first_digit || overflow) return std::nullopt;
    if (negative) return static_cast<std::int32_t>(-magnitude);
    if (magnitude > std::int64_t{2147483647}) return std::nullopt;
    return static_cast<std::int32_t>(magnitude);
}

Prefixed_number scan_prefixed_number(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && !is_digit(value[i])) ++i;
    Prefixed_number result;
    result.prefix = value.substr(0, i);
    std::size_t used = 0;
    result.number = scan_int(value.substr(i), &used);
    result.rest = value.substr(i + used);
    return result;
}

}  // namespace quarvel
