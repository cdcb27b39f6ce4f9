// The process and its console: set-up, the command line, the two streams, and
// the window a double-click opens.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace quarvel {

// Before anything else: standard streams that the caller closed are opened on
// the null device, so that no file takes their numbers (false where it cannot
// be: the run must open no file); a file-size limit or a closed pipe makes a
// write fail, not the process.
bool prepare_process();

// The arguments after the program name, as UTF-8; on Windows from the wide
// command line, a lone surrogate kept in generalised UTF-8, which every file
// call then refuses.
std::vector<std::string> program_arguments(int argc, char** argv);

// Standard output for the report and standard error for a failure's reason,
// in UTF-8; a Windows console shows them through its wide API.
std::ostream& console_output();
std::ostream& error_output();

// The UTF-8 text in the system's ANSI code page, in which older layouts are
// saved on Windows. Empty when that form is the UTF-8 one (plain ASCII), when
// a character has no form there, and on POSIX, where arguments are bytes.
std::string ansi_code_page_form(const std::string& utf8);

// The bytes that start a two-byte character in the system's ANSI code page
// (Shift-JIS, GBK, Big5, Korean); none in one-byte code pages and on POSIX.
std::array<bool, 256> ansi_lead_bytes();

// Whether the program has a console window of its own that a person can see
// (started from the file manager, not from a prompt, a script or a hidden
// task), with standard input and output on it. Always false on POSIX.
bool console_owned_alone();

// Asks for a key on `console` and waits for one, so that the window does not
// close before its text was read.
void wait_for_key(std::ostream& console);

}  // namespace quarvel
