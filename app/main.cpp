// The quarvel command: duplicates a meter of a layout file into a row of copies.
#include <iostream>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/help.h"
#include "app/report.h"
#include "app/run.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    if (!quarvel::prepare_process()) {
        // A file the run opened could take the number of a closed standard
        // stream and receive console text: the run opens none.
        quarvel::write_error_line(quarvel::error_output(),
                                  "quarvel: a standard stream is closed, and the null device cannot take its place");
        return 1;
    }
    const std::vector<std::string> args = quarvel::program_arguments(argc, argv);
    std::ostream& console = quarvel::console_output();
    // Started with a window of its own (a double-click, a file dropped on
    // the program), which would close before anyone read it: a bare start
    // says how to start a command-line tool, and the window stays until a
    // key is pressed. A full command line never waits: a scheduled task must
    // not hang.
    const bool own_window = args.size() < 6 && quarvel::console_owned_alone();
    int status = 0;
    if (own_window && args.empty())
        console << quarvel::first_contact_text << quarvel::usage_text << "The full help: quarvel --help\n\n";
    else status = quarvel::run_tool(args, console, quarvel::error_output());
    if (own_window) quarvel::wait_for_key(console);
    console.flush();
    return status;
}
