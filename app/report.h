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

}  // namespace quarvel
