// One run of the tool: arguments, input scan, output, console report.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quarvel {

// Runs the tool on `args` (the arguments after the program name), reporting
// on `console` and giving the reason for a failure on `errors`. Returns the
// process exit status: 0 on success, 1 on any error.
int run_tool(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors);

}  // namespace quarvel
