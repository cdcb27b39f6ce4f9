// POSIX side of the process and its console: arguments are bytes, and a
// terminal outlives the programs run in it.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "platform/console.h"

namespace quarvel {

bool prepare_process() {
    // One look at all three; the lowest free number is taken first, so each
    // closed one is filled in turn.
    pollfd standard[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    ::poll(standard, 3, 0);
    for (const pollfd& fd : standard) {
        if ((fd.revents & POLLNVAL) && ::open("/dev/null", O_RDWR) < 0) return false;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::ostream& console_output() { return std::cout; }

std::ostream& error_output() { return std::cerr; }

// Arguments are the bytes the user typed: they match the layout's bytes as they are.
std::string ansi_code_page_form(const std::string&) { return std::string(); }

std::array<bool, 256> ansi_lead_bytes() { return {}; }

bool console_owned_alone() { return false; }

void wait_for_key(std::ostream&) {}

}  // namespace quarvel
