// The error reporter: every failure the tool detects is one "ERROR: " line on
// standard output; a failed file step adds its reason on standard error.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarvel {

// Writes "ERROR: " + message + "\n" to the console.
void report_error(std::ostream& console, std::string_view message);

// A file step's failure as its message: "Can't open/read/write file: " and the path.
std::string message_of(const Failure& failure);

// Its message on the console and "quarvel: <path>: <reason>" on `errors`; returns 1.
int report_failure(std::ostream& console, std::ostream& errors, const Failure& failure);

// `text` as standard error shows it: every control character (but tab, and the
// C1 controls too) and every byte that is not UTF-8 as \xHH, so that a
// layout's text cannot move the cursor, retitle the window or draw a false DONE.
std::string shown_safely(std::string_view text);

// One line on standard error: `line`, shown safely, and its end.
void write_error_line(std::ostream& errors, std::string_view line);

}  // namespace quarvel
