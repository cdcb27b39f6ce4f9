// Help and version: the answers to "--help", "-h", "/?" and "--version".
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quarvel {

// The full help text: every argument, what a copy gets, an example, the exit
// statuses and where to read more.
extern const char* const help_text;

// What a window of its own shows first (a double-click): that this is a
// command-line tool and how to open a prompt in its folder; the usage follows.
extern const char* const first_contact_text;

// When `args` (after the program name) is exactly one of "--help", "-h", "/?"
// or "--version", writes the help text or "quarvel <version>" to `console`
// and returns the exit status 0; any other argument list gets no value and is
// a run as usual.
std::optional<int> answer_help_or_version(const std::vector<std::string>& args, std::ostream& console);

}  // namespace quarvel
