// Windows side of the ANSI code page: the conversion the system applies for
// programs that are not Unicode ("Language for non-Unicode programs").
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/code_page.h"

namespace quarvel {

std::string ansi_code_page_form(const std::string& utf8) {
    if (utf8.empty()) return std::string();
    const int size = static_cast<int>(utf8.size());
    const int wide_size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (wide_size <= 0) return std::string();
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &wide[0], wide_size);

    // No best-fit guesses ("Ł" as "L"): a name with a character the code page
    // lacks has no form there.
    BOOL lacking = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_size, nullptr, 0,
                                        nullptr, &lacking);
    if (n <= 0 || lacking) return std::string();
    std::string ansi(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_size, &ansi[0], n, nullptr, &lacking);
    if (lacking || ansi == utf8) return std::string();
    return ansi;
}

}  // namespace quarvel
