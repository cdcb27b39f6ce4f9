// The process and its console: set-up, the command line, the two streams, and
// the console window a double-click opens.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quarvel {

// Process set-up before anything else: standard input, output and error that
// the caller closed are opened on the null device (so that no file the tool
// opens takes their numbers); a file-size limit or a closed pipe makes a
// write fail instead of ending the process; on Windows, Ctrl+C, Ctrl+Break
// and a closed window remove the temporary file before the process ends.
void prepare_process();

// The command-line arguments after the program name, as UTF-8. On Windows they
// come from the wide command line, so any character survives; a lone surrogate
// (which no valid name holds) is kept in the generalised form of UTF-8, which
// every file call then refuses.
std::vector<std::string> program_arguments(int argc, char** argv);

// Where the console report goes: standard output, in UTF-8. On a Windows
// console the text is shown through the wide console API, so that any
// character reads right whatever the console's code page.
std::ostream& console_output();

// Standard error, for the one-line reason behind a failure; shown like the report.
std::ostream& error_output();

// The bytes of the UTF-8 text `utf8` in the system's ANSI code page (the text
// form of programs that predate Unicode on Windows, in which older layouts are
// saved). Empty when that form is the UTF-8 form itself (plain ASCII), when a
// character has no form there, and always on POSIX, where arguments are bytes.
std::string ansi_code_page_form(const std::string& utf8);

// Whether the program has a console window of its own that a person can see,
// as when it is started from the file manager rather than from a command
// prompt, a script or a hidden task, with standard input and output on it.
// Always false on POSIX.
bool console_owned_alone();

// Asks for a key on `console` and waits until one is pressed, so that the
// window does not close before its text was read.
void wait_for_key(std::ostream& console);

}  // namespace quarvel
