// Windows side of the process and its console: the wide command line, the
// wide console API, and the window a double-click opens, which closes as soon
// as the program ends.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <iostream>
#include <streambuf>

#include "platform/console.h"

namespace quarvel {
namespace {

// UTF-16 as UTF-8, a lone surrogate in the generalised form (three bytes, as
// if it were a character), which no conversion to UTF-16 accepts.
std::string generalised_utf8(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        std::uint32_t code = static_cast<std::uint16_t>(*text);
        const auto next = static_cast<std::uint16_t>(text[1]);
        if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
            ++text;
        }
        const int tail = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(lead[tail] | (code >> (6 * tail)));
        for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F));
    }
    return out;
}

struct Console_buffer : std::streambuf {
    HANDLE console = INVALID_HANDLE_VALUE;
    std::string pending;

    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        pending += traits_type::to_char_type(c);
        if (c == '\n') show_complete();
        return c;
    }
    int sync() override { return show_complete(), 0; }
    // Shows all but an incomplete UTF-8 sequence at the end; "\n" becomes
    // CR LF as the C runtime's text mode writes it.
    void show_complete() {
        std::size_t end = pending.size();
        std::size_t start = end;
        while (start > 0 && end - start < 3 && (static_cast<unsigned char>(pending[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(pending[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (start - 1 + length > end) end = start - 1;
        }
        std::string text;
        for (std::size_t i = 0; i < end; ++i) {
            if (pending[i] == '\n') text += '\r';
            text += pending[i];
        }
        pending.erase(0, end);
        const int size = static_cast<int>(text.size());
        std::wstring wide(text.size(), L'\0');  // never more UTF-16 units than UTF-8 bytes
        wide.resize(size == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], size));
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const DWORD ask = static_cast<DWORD>(wide.size() - done > 16384 ? 16384 : wide.size() - done);
            if (!::WriteConsoleW(console, wide.data() + done, ask, &written, nullptr) || written == 0) break;
            done += written;
        }
    }
};

std::ostream& console_stream(DWORD which, std::ostream& plain) {
    const HANDLE out = ::GetStdHandle(which);
    DWORD mode = 0;
    // Redirected to a file or a pipe, the text is the plain UTF-8 bytes.
    if (!::GetConsoleMode(out, &mode)) return plain;
    static Console_buffer buffers[2];
    static std::ostream streams[2] = {std::ostream(&buffers[0]), std::ostream(&buffers[1])};
    const int i = which == STD_OUTPUT_HANDLE ? 0 : 1;
    buffers[i].console = out;
    return streams[i];
}

}  // namespace

bool prepare_process() { return true; }  // the handler that removes the temporary file comes with the file

std::vector<std::string> program_arguments(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(generalised_utf8(wide[i]));
    ::LocalFree(wide);
    return args;
}

std::ostream& console_output() { return console_stream(STD_OUTPUT_HANDLE, std::cout); }

std::ostream& error_output() { return console_stream(STD_ERROR_HANDLE, std::cerr); }

std::string ansi_code_page_form(const std::string& utf8) {
    // As UTF-16 first; text that is not UTF-8 has no form.
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(utf8.size(), L'\0');  // never more UTF-16 units than UTF-8 bytes
    wide.resize(size == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &wide[0], size));
    if (wide.empty()) return std::string();
    const int wide_size = static_cast<int>(wide.size());
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

std::array<bool, 256> ansi_lead_bytes() {
    std::array<bool, 256> lead{};
    for (int b = 0; b < 256; ++b) lead[b] = ::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(b));
    return lead;
}

bool console_owned_alone() {
    DWORD mode = 0;
    STARTUPINFOW start{};
    ::GetStartupInfoW(&start);
    USEROBJECTFLAGS station{};
    // Redirected input or output means a script or another program started us;
    // a console without a window, started hidden or on a desktop no one sees (a
    // service, a task run while logged off) has no one to read it.
    if (!::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) ||
        !::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) || ::GetConsoleWindow() == nullptr ||
        ((start.dwFlags & STARTF_USESHOWWINDOW) && start.wShowWindow == SW_HIDE) ||
        !::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &station, sizeof station, nullptr) ||
        !(station.dwFlags & WSF_VISIBLE))
        return false;
    DWORD processes[2];
    return ::GetConsoleProcessList(processes, 2) == 1;
}

void wait_for_key(std::ostream& console) {
    console << "Press any key to close this window.\n";
    console.flush();
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    // Keys pressed while the tool ran do not count.
    ::FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!::ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

}  // namespace quarvel
