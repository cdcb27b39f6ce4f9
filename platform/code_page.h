// The system's ANSI code page: the text form of programs that predate Unicode
// on Windows, in which older layouts are saved.
#pragma once

#include <string>

namespace quarvel {

// The bytes of the UTF-8 text `utf8` in the system's ANSI code page. Empty
// when that form is the UTF-8 form itself (plain ASCII), when a character has
// no form there, and always on POSIX, where arguments are bytes already.
std::string ansi_code_page_form(const std::string& utf8);

}  // namespace quarvel
