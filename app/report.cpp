#include "app/report.h"

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
    errors << "quarvel: " << failure.path << ": " << failure.reason << '\n';
    errors.flush();
    return 1;
}

}  // namespace quarvel
