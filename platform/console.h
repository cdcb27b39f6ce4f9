// The console window the tool runs in: whether it was opened for this run
// alone (a double-click), and holding it open until the user has read it.
#pragma once

#include <ostream>

namespace quarvel {

// Whether the console belongs to this process alone, as when the program is
// started from the file manager rather than from a command prompt, and both
// standard input and output are that console. Always false on POSIX.
bool console_owned_alone();

// Asks for a key on `console` and waits until one is pressed, so that the
// window does not close before its text was read.
void wait_for_key(std::ostream& console);

}  // namespace quarvel
