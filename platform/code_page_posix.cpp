// POSIX side of the ANSI code page: there is none; arguments are the bytes the
// user typed, which match the layout's bytes as they are.
#include "platform/code_page.h"

namespace quarvel {

std::string ansi_code_page_form(const std::string&) { return std::string(); }

}  // namespace quarvel
