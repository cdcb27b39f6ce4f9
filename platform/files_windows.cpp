// Windows side of the platform layer: wide-character file APIs throughout, so
// that UTF-8 paths with any characters work, and binary I/O only, so that line
// ends are the tool's own business and never the C runtime's.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <streambuf>

#include "platform/files.h"

namespace quarvel {
namespace {

HANDLE handle_of(const Output_file& out) { return reinterpret_cast<HANDLE>(out.handle); }

bool is_open(const Output_file& out) { return handle_of(out) != INVALID_HANDLE_VALUE; }

// UTF-8 to UTF-16. Text that is not valid UTF-8 names no file: empty result.
std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], n);
    return wide;
}

std::string narrow(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], n, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(n) - 1);
    return utf8;
}

std::string random_suffix() {
    static std::mt19937_64 engine = [] {
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        std::seed_seq seed{static_cast<std::uint64_t>(std::random_device{}()),
                           static_cast<std::uint64_t>(std::random_device{}()),
                           static_cast<std::uint64_t>(::GetCurrentProcessId()),
                           static_cast<std::uint64_t>(counter.QuadPart),
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(engine()));
    return text;
}

// The path up to and including its last folder separator (or its drive,
// "C:name"), where the temporary file is made.
std::string folder_prefix(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) return path.substr(0, slash + 1);
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return std::string();
}

// Errors that another program briefly holding the file gives (a virus scanner
// or an indexer opening the fresh file): worth a short wait and another try.
bool is_transient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

// Attributes an existing output keeps when it is replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Console text as UTF-8 bytes, shown line by line with WriteConsoleW: the
// bytes of the console's code page would garble names beyond it.
struct Console_buffer : std::streambuf {
    HANDLE console = INVALID_HANDLE_VALUE;
    std::string pending;

    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        pending += traits_type::to_char_type(c);
        if (c == '\n') show_complete();
        return c;
    }
    int sync() override {
        show_complete();
        return 0;
    }
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
        if (text.empty()) return;
        const int size = static_cast<int>(text.size());
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
        if (n <= 0) return;
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], n);
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const DWORD ask = static_cast<DWORD>(wide.size() - done > 16384 ? 16384 : wide.size() - done);
            if (!::WriteConsoleW(console, wide.data() + done, ask, &written, nullptr) || written == 0) break;
            done += written;
        }
    }
};

}  // namespace

void prepare_process() {}

std::ostream& console_output() {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // Redirected to a file or a pipe, the report is the plain UTF-8 bytes.
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return std::cout;
    static Console_buffer buffer;
    static std::ostream stream(&buffer);
    buffer.console = out;
    return stream;
}

std::vector<std::string> program_arguments(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

bool path_exists(const std::string& path) {
    const std::wstring wide = widen(path);
    return !wide.empty() && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Read_status read_whole_file(const std::string& path, std::string& contents) {
    const std::wstring wide = widen(path);
    if (wide.empty()) return Read_status::cannot_open;
    // A folder cannot be opened this way (no backup semantics): cannot_open.
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Read_status::cannot_open;
    contents.clear();
    LARGE_INTEGER size{};
    std::size_t expected = 0;
    if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) && size.QuadPart > 0)
        expected = static_cast<std::size_t>(size.QuadPart);
    // One byte more than the size, so that the end of file is seen at once.
    contents.resize(expected + 1 < 65536 ? 65536 : expected + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == contents.size()) contents.resize(contents.size() * 2);
        const std::size_t room = contents.size() - used;
        const DWORD ask = room > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(room);
        DWORD got = 0;
        if (!::ReadFile(file, &contents[used], ask, &got, nullptr)) {
            if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // a pipe's writer is done
            ::CloseHandle(file);
            contents.clear();
            return Read_status::read_error;
        }
        if (got == 0) break;
        used += got;
    }
    ::CloseHandle(file);
    contents.resize(used);
    return Read_status::ok;
}

bool open_output(const std::string& path, Output_file& out) {
    out = Output_file{};
    out.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    out.target_path = path;
    const std::wstring wide = widen(path);
    if (wide.empty()) return false;

    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
        // Renaming over a file must not bypass its protection.
        if (attributes & FILE_ATTRIBUTE_READONLY) return false;
        const HANDLE probe = ::CreateFileW(wide.c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            // Access refused by the file's security settings; a sharing
            // violation is someone else's open handle, waited for at the replace.
            if (::GetLastError() == ERROR_ACCESS_DENIED) return false;
        } else if (::GetFileType(probe) != FILE_TYPE_DISK) {
            // A device (NUL, CON) or a pipe cannot be renamed over: write it directly.
            out.handle = reinterpret_cast<std::intptr_t>(probe);
            return true;
        } else {
            ::CloseHandle(probe);
        }
    }

    const std::string prefix = folder_prefix(path);
    const std::string base = path.substr(prefix.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = prefix + base + ".tmp." + random_suffix();
        const DWORD new_attributes =
            FILE_ATTRIBUTE_NORMAL | (exists ? attributes & kept_attributes : 0);
        const HANDLE file = ::CreateFileW(widen(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          new_attributes, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        out.handle = reinterpret_cast<std::intptr_t>(file);
        out.temp_path = std::move(temp);
        return true;
    }
    return false;
}

bool write_output(Output_file& out, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const DWORD ask = left > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!::WriteFile(handle_of(out), p, ask, &done, nullptr) || done == 0) return false;
        p += done;
        left -= done;
    }
    return true;
}

bool commit_output(Output_file& out) {
    if (out.temp_path.empty()) {
        const bool closed = ::CloseHandle(handle_of(out)) != 0;
        out.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
        return closed;
    }
    if (!::FlushFileBuffers(handle_of(out))) {
        discard_output(out);
        return false;
    }
    const HANDLE file = handle_of(out);
    out.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    if (!::CloseHandle(file)) {
        discard_output(out);
        return false;
    }
    const std::wstring from = widen(out.temp_path);
    const std::wstring to = widen(out.target_path);
    // About two seconds in all for whoever holds the output to let go.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
        if (attempt == 20 || !is_transient(::GetLastError())) {
            discard_output(out);
            return false;
        }
        ::Sleep(100);
    }
    out.temp_path.clear();
    return true;
}

void discard_output(Output_file& out) {
    if (is_open(out)) ::CloseHandle(handle_of(out));
    out.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    if (!out.temp_path.empty()) ::DeleteFileW(widen(out.temp_path).c_str());
    out.temp_path.clear();
}

}  // namespace quarvel
