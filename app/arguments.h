// Argument checks and echo lines of the command line.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "generate/copy_settings.h"

namespace quarvel {

extern const char* const usage_text;

// What the command line asked for, filled once and read-only afterwards.
struct Run_settings {
    std::string input_path;
    std::string output_path;
    Copy_settings copy;              // the meter name and keys as typed
    std::string number_args[3];      // copies, xshift and yshift as typed
};

// Checks `args` (the arguments after the program name) left to right, writing
// each echo line to `console` as it goes. On a bad argument writes the error
// line and the usage text (and for an input that cannot be found, its reason
// on `errors`) and returns no value.
std::optional<Run_settings> parse_arguments(const std::vector<std::string>& args, std::ostream& console,
                                            std::ostream& errors);

// The leading decimal number of a copies or shift argument: it must start with
// a digit and fit in a signed 32-bit integer; digits end at the first non-digit.
std::optional<std::int32_t> leading_number(const std::string& arg);

}  // namespace quarvel
