// The quarvel command: duplicates a meter of a layout file into a row of copies.
#include <iostream>
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/files.h"

int main(int argc, char** argv) {
    quarvel::prepare_process();
    const std::vector<std::string> args = quarvel::program_arguments(argc, argv);
    std::ostream& console = quarvel::console_output();
    const int status = quarvel::run_tool(args, console, quarvel::error_output());
    console.flush();
    return status;
}
