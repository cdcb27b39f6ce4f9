// The error reporter: every failure the tool detects is one "ERROR: " line on
// standard output.
#pragma once

#include <ostream>
#include <string_view>

namespace quarvel {

// Writes "ERROR: " + message + "\n" to the console.
void report_error(std::ostream& console, std::string_view message);

}  // namespace quarvel
