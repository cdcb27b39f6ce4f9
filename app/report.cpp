#include "app/report.h"

#include <algorithm>

#include "layout/encoding.h"

namespace quarvel {

void report_error(std::ostream& console, std::string_view message) {
    console << "ERROR: " << message << '\n';
}

std::string message_of(const Failure& failure) {
    const char* const messages[] = {"", "Can't open file: ", "Can't read file: ", "Can't write file: "};
    return messages[static_cast<int>(failure.kind)] + failure.path;
}

int report_failure(std::ostream& console, std::ostream& errors, const Failure& failure) {
    report_error(console, message_of(failure));
    console.flush();
    write_error_line(errors, "quarvel: " + failure.path + ": " + failure.reason);
    return 1;
}

std::string shown_safely(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const auto c = static_cast<unsigned char>(text[i]);
        length = c < 0x80 ? 1 : utf8_sequence_at(text, i);
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length != 0 && !c1 && !(c < 0x20 && c != '\t') && c != 0x7F) {
            shown.append(text.substr(i, length));
            continue;
        }
        for (std::size_t b = i; b < i + std::max<std::size_t>(length, 1); ++b) {
            const char* const hex = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(text[b]);
            shown += {'\\', 'x', hex[byte >> 4], hex[byte & 15]};
        }
        length = std::max<std::size_t>(length, 1);
    }
    return shown;
}

void write_error_line(std::ostream& errors, std::string_view line) {
    errors << shown_safely(line) << '\n';
    errors.flush();
}

}  // namespace quarvel
