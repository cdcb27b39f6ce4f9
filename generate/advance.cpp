#include "generate/advance.h"

#include <charconv>
#include <cstdint>

#include "layout/numbers.h"

namespace quarvel {

bool find_value_number(std::string_view text, std::size_t& begin, std::size_t& end) {
    std::size_t i = 0;
    while (i < text.size() && !is_digit(text[i])) ++i;
    if (i == text.size()) return false;
    begin = i;
    end = i + 1;
    if (end + 1 < text.size() && text[end] == '.' && is_digit(text[end + 1])) {
        end += 2;
        while (end < text.size() && is_digit(text[end])) ++end;
    }
    return true;
}

char* put_float(char* out, float value) {
    // A whole number below a million has at most six digits, so the general
    // notation writes it as the integer; the integer path is many times faster.
    if (value >= 1 && value < 1e6f) {  // not 0, which may be -0
        const auto whole = static_cast<std::int32_t>(value);
        if (static_cast<float>(whole) == value) return std::to_chars(out, out + float_text_limit, whole).ptr;
    }
    return std::to_chars(out, out + float_text_limit, value, std::chars_format::general, 6).ptr;
}

}  // namespace quarvel
