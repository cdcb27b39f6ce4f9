#include "generate/advance.h"

#include <charconv>
#include <system_error>

#include "config/line_rules.h"

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

void append_float(std::string& out, float value) {
    char text[float_text_limit];
    out.append(text, put_float(text, value));
}

void advance_parameter_line(std::string_view line, std::int32_t k, std::string& out) {
    const std::size_t eq = line.find('=');
    const std::string_view key = line.substr(0, eq);
    std::string_view rest = eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
    out.append(key);
    out += '=';
    const float step = static_cast<float>(k);
    std::size_t begin = 0;
    std::size_t end = 0;
    while (find_value_number(rest, begin, end)) {
        float number = 0;
        // The match is digits with at most one point: always convertible.
        std::from_chars(rest.data() + begin, rest.data() + end, number);
        out.append(rest.substr(0, begin));
        append_float(out, static_cast<float>(number + step));
        rest.remove_prefix(end);
    }
    out.append(rest);
}

}  // namespace quarvel
