// Windows side of the platform layer: the system calls only (the replace
// protocol that uses them is in replace.cpp). Wide-character APIs throughout,
// with paths in their long form (\\?\), so that any characters and any length
// work, and binary I/O only, so that line ends are the tool's own business.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <streambuf>

#include "platform/files.h"

namespace quarvel {
namespace {

HANDLE handle_of(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle handle_from(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

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

std::string narrow(const wchar_t* text, int size = -1) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, size, &utf8[0], n, nullptr, nullptr);
    if (size < 0) utf8.resize(static_cast<std::size_t>(n) - 1);
    return utf8;
}

// The full path, made absolute first, in the form that lifts the 260
// character limit: \\?\C:\... or \\?\UNC\server\share\.... Devices (\\.\NUL)
// stay as they are. Empty for text that names no file.
std::wstring full_path(const std::wstring& path) {
    if (path.empty()) return path;
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::wstring full(n, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (got == 0 || got >= n) return std::wstring();
    full.resize(got);
    return full;
}

std::wstring long_form(const std::wstring& full) {
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring long_path(const std::string& path) { return long_form(full_path(widen(path))); }

std::wstring path_in(const Output_place& place, const std::string& name) {
    return long_form(widen(place.folder) + L"\\" + widen(name));
}

// Errors that another program briefly holding the file gives (a virus scanner
// or an indexer opening the fresh file): worth a short wait and another try.
bool is_transient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

// Whether another program's open handle would refuse a rename of `path`.
bool can_be_renamed(const std::wstring& path) {
    const HANDLE probe = ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(probe);
    return true;
}

bool same_file(const File_state& a, const File_state& b) {
    return a.exists && b.exists && a.volume == b.volume && a.file == b.file;
}

// An access list (DACL) taken from one file to be given to another.
struct Access_list {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL list = nullptr;
    SECURITY_INFORMATION what = 0;
    ~Access_list() { ::LocalFree(descriptor); }
};

bool read_access_list(const std::wstring& path, Access_list& access) {
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &access.list, nullptr, &access.descriptor) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(access.descriptor, &control, &revision);
    access.what = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                              : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return true;
}

bool give_access_list(const std::wstring& path, const Access_list& access) {
    const DWORD result = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, access.what,
                                                 nullptr, nullptr, access.list, nullptr);
    if (result != ERROR_SUCCESS) ::SetLastError(result);
    return result == ERROR_SUCCESS;
}

// Attributes an existing output keeps when it is replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::int64_t ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

File_state state_from(HANDLE file) {
    File_state state;
    state.exists = true;  // a device (NUL, CON) has no more to tell
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return state;
    state.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state.regular = !state.folder && ::GetFileType(file) == FILE_TYPE_DISK;
    state.volume = info.dwVolumeSerialNumber;
    state.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state.modified = ticks(info.ftLastWriteTime);
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        state.changed = basic.ChangeTime.QuadPart;
    return state;
}

// ---- The temporary file to remove on Ctrl+C or a closed console window.
// The handler runs on a thread of its own; the lock keeps it from racing the
// replace.
SRWLOCK temp_guard = SRWLOCK_INIT;
HANDLE temp_file = INVALID_HANDLE_VALUE;
std::wstring temp_path;
bool temp_registered = false;

BOOL WINAPI on_console_event(DWORD) {
    ::AcquireSRWLockExclusive(&temp_guard);
    if (temp_registered) {
        if (temp_file != INVALID_HANDLE_VALUE) ::CloseHandle(temp_file);
        ::DeleteFileW(temp_path.c_str());
        temp_registered = false;
    }
    ::ReleaseSRWLockExclusive(&temp_guard);
    return FALSE;  // the default handler ends the process
}

struct Temp_guard_held {
    Temp_guard_held() { ::AcquireSRWLockExclusive(&temp_guard); }
    ~Temp_guard_held() { ::ReleaseSRWLockExclusive(&temp_guard); }
};

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

void prepare_process() {
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

namespace {

std::ostream& console_stream(DWORD which, std::ostream& plain) {
    const HANDLE out = ::GetStdHandle(which);
    DWORD mode = 0;
    // Redirected to a file or a pipe, the text is the plain UTF-8 bytes.
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return plain;
    static Console_buffer buffers[2];
    static std::ostream streams[2] = {std::ostream(&buffers[0]), std::ostream(&buffers[1])};
    const int i = which == STD_OUTPUT_HANDLE ? 0 : 1;
    buffers[i].console = out;
    return streams[i];
}

}  // namespace

std::ostream& console_output() { return console_stream(STD_OUTPUT_HANDLE, std::cout); }

std::ostream& error_output() { return console_stream(STD_ERROR_HANDLE, std::cerr); }

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
    const std::wstring wide = long_path(path);
    return !wide.empty() && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ansi_code_page_form(const std::string& utf8) {
    const std::wstring wide = widen(utf8);
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

std::string error_text(int code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                     nullptr);
    std::string words = n > 0 && text != nullptr ? narrow(text) : "error " + std::to_string(code);
    if (text != nullptr) ::LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' '))
        words.pop_back();
    if (!words.empty() && words[0] >= 'A' && words[0] <= 'Z') words[0] = static_cast<char>(words[0] - 'A' + 'a');
    return words;
}

// ---- The input.

Read_status open_input(const std::string& path, Input_file& input, int& error) {
    const std::wstring wide = long_path(path);
    if (wide.empty()) {
        error = ERROR_INVALID_NAME;
        return Read_status::cannot_open;
    }
    // A folder cannot be opened this way (no backup semantics): cannot_open.
    // Other programs may go on reading, writing and renaming it meanwhile.
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return Read_status::cannot_open;
    }
    input.handle = handle_from(file);
    if (::GetFileType(file) == FILE_TYPE_DISK) input.state = state_from(file);
    const std::size_t expected = input.state.regular ? static_cast<std::size_t>(input.state.size) : 0;
    // One byte more than the size, so that the end of file is seen at once.
    std::string& contents = input.buffer;
    contents.resize(expected + 1 < 65536 ? 65536 : expected + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == contents.size()) contents.resize(contents.size() * 2);
        const std::size_t room = contents.size() - used;
        const DWORD ask = room > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(room);
        DWORD got = 0;
        if (!::ReadFile(file, &contents[used], ask, &got, nullptr)) {
            if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // a pipe's writer is done
            error = static_cast<int>(::GetLastError());
            contents.clear();
            return Read_status::read_error;
        }
        if (got == 0) break;
        used += got;
    }
    contents.resize(used);
    input.bytes = contents;
    return Read_status::ok;
}

bool input_unchanged(const Input_file& input) {
    if (!input.state.regular) return true;  // a pipe or a device has no versions
    const File_state now = state_from(handle_of(input.handle));
    // Only what tells of new content: a file renamed over or linked (a new
    // status time) is still the version that was read.
    return now.size == input.state.size && now.modified == input.state.modified;
}

void close_input(Input_file& input) {
    input.bytes = {};
    if (input.handle != no_handle) ::CloseHandle(handle_of(input.handle));
    input.handle = no_handle;
}

// ---- The output's folder, its names and the lock.

bool find_output_place(const std::string& path, Output_place& place, int& error) {
    const std::wstring full = full_path(widen(path));
    const std::size_t slash = full.find_last_of(L"\\/");
    if (full.empty() || slash == std::wstring::npos || slash + 1 == full.size()) {
        error = full.empty() ? ERROR_INVALID_NAME : ERROR_DIRECTORY;
        return false;
    }
    const std::wstring folder = full.substr(0, slash);
    const bool device = full.rfind(L"\\\\.\\", 0) == 0;
    const DWORD attributes = device ? FILE_ATTRIBUTE_DIRECTORY : ::GetFileAttributesW(long_form(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = attributes == INVALID_FILE_ATTRIBUTES ? static_cast<int>(::GetLastError()) : ERROR_DIRECTORY;
        return false;
    }
    place.folder = narrow(folder.c_str());
    place.name = narrow(full.c_str() + slash + 1);
    return true;
}

void close_output_place(Output_place&) {}

File_state state_of(const Output_place& place, const std::string& name) {
    // Reading attributes is never refused for another program's open handle.
    const HANDLE file = ::CreateFileW(path_in(place, name).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        File_state state;
        const DWORD attributes = ::GetFileAttributesW(path_in(place, name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            state.exists = true;
            state.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            state.regular = !state.folder;
        }
        return state;
    }
    const File_state state = state_from(file);
    ::CloseHandle(file);
    return state;
}

bool may_write(const Output_place& place) {
    const std::wstring path = path_in(place, place.name);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    const HANDLE probe = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        return true;
    }
    // A sharing violation is another program's open handle, waited for at
    // the replace; access refused is the file's security settings.
    return ::GetLastError() != ERROR_ACCESS_DENIED;
}

Lock_status try_lock_output(const Output_place& place, Handle& lock, File_state& state, int& error) {
    // A named mutex per output path: it leaves no file, and a killed run's
    // mutex is abandoned, which the next run simply takes.
    std::wstring key = widen(place.folder) + L"\\" + widen(place.name);
    ::CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : key) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\quarvel-%016llx", static_cast<unsigned long long>(hash));
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) {
        error = static_cast<int>(::GetLastError());
        return Lock_status::failed;
    }
    const DWORD waited = ::WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        ::CloseHandle(mutex);
        return Lock_status::busy;
    }
    lock = handle_from(mutex);
    state = state_of(place, place.name);
    return Lock_status::locked;
}

void unlock_output(Handle& lock) {
    if (lock == no_handle) return;
    ::ReleaseMutex(handle_of(lock));
    ::CloseHandle(handle_of(lock));
    lock = no_handle;
}

// ---- Files being written.

Create_status create_temp(const Output_place& place, const std::string& name, Handle& file, int& error) {
    const DWORD old = ::GetFileAttributesW(path_in(place, place.name).c_str());
    const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (old != INVALID_FILE_ATTRIBUTES ? old & kept_attributes : 0);
    const std::wstring path = path_in(place, name);
    const Temp_guard_held held;
    // Opened for no one else: a later run that cannot remove it knows its
    // maker lives.
    const HANDLE created = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Create_status::name_taken
                                                                           : Create_status::failed;
    }
    temp_file = created;
    temp_path = path;
    temp_registered = true;
    file = handle_from(created);
    return Create_status::created;
}

// The replace keeps the security descriptor, attributes and streams.
bool copy_metadata(Handle, Handle, int&) { return true; }

bool open_direct(const Output_place& place, Handle& file, int& error) {
    const HANDLE device = ::CreateFileW(path_in(place, place.name).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return false;
    }
    file = handle_from(device);
    return true;
}

bool write_all(Handle file, std::string_view bytes, int& error) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const DWORD ask = left > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!::WriteFile(handle_of(file), p, ask, &done, nullptr) || done == 0) {
            error = done == 0 && ::GetLastError() == 0 ? ERROR_DISK_FULL : static_cast<int>(::GetLastError());
            return false;
        }
        p += done;
        left -= done;
    }
    return true;
}

bool sync_file(Handle file, int& error) {
    if (::FlushFileBuffers(handle_of(file))) return true;
    error = static_cast<int>(::GetLastError());
    return false;
}

bool close_file(Handle& file, int& error) {
    const HANDLE h = handle_of(file);
    file = no_handle;
    {
        const Temp_guard_held held;
        if (temp_file == h) temp_file = INVALID_HANDLE_VALUE;
    }
    if (::CloseHandle(h)) return true;
    error = static_cast<int>(::GetLastError());
    return false;
}

void remove_temp(const Output_place& place, const std::string& name, Handle& file) {
    const Temp_guard_held held;
    if (file != no_handle) ::CloseHandle(handle_of(file));
    file = no_handle;
    ::DeleteFileW(path_in(place, name).c_str());
    temp_file = INVALID_HANDLE_VALUE;
    temp_registered = false;
}

std::vector<std::string> folder_names(const Output_place& place) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(path_in(place, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(narrow(found.cFileName));
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

bool remove_if_abandoned(const Output_place& place, const std::string& name) {
    // A live run holds its temporary file open for no one else: the delete
    // is then refused with a sharing violation.
    return ::DeleteFileW(path_in(place, name).c_str()) != 0;
}

Replace_status replace_output(const Output_place& place, const std::string& temp, Handle& file,
                              const File_state& expected, int& error) {
    const std::wstring from = path_in(place, temp);
    const std::wstring to = path_in(place, place.name);
    const Temp_guard_held held;
    const File_state mine = state_from(handle_of(file));
    // The replace must open the file: our handle shares it with no one.
    const HANDLE h = handle_of(file);
    file = no_handle;
    temp_file = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h)) {
        error = static_cast<int>(::GetLastError());
        return Replace_status::failed;
    }
    // About two seconds in all for whoever holds the output to let go. The
    // replace is tried only once the output can be renamed: a failed
    // attempt may leave a stray backup file behind.
    for (int attempt = 0;; ++attempt) {
        bool done = false;
        if (!expected.exists) {
            done = ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        } else if (can_be_renamed(to)) {
            done = ::ReplaceFileW(to.c_str(), from.c_str(), nullptr, 0, nullptr, nullptr) != 0;
            // The output could be renamed a moment ago, yet some systems refuse
            // the call itself (Wine, for paths beyond 260 characters) and leave
            // both files as they were: then a rename, and the old access list
            // given to the new file.
            Access_list access;
            if (!done && same_file(state_of(place, place.name), expected) && read_access_list(to, access) &&
                ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                temp_registered = false;
                if (give_access_list(to, access)) return Replace_status::replaced;
                error = static_cast<int>(::GetLastError());
                return Replace_status::failed_after;
            }
        }
        if (done) {
            temp_registered = false;
            return Replace_status::replaced;
        }
        const DWORD code = ::GetLastError();
        error = static_cast<int>(code);
        if (!expected.exists && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS))
            return Replace_status::other_version;
        if (attempt == 20 || !is_transient(code)) break;
        ::Sleep(100);
    }
    // The system may have got part of the way: where does the new file stand?
    if (same_file(state_of(place, place.name), mine)) {
        temp_registered = false;
        return Replace_status::failed_after;
    }
    return Replace_status::failed;
}

bool sync_folder(const Output_place&, int&) { return true; }

std::uint64_t random_number() {
    static std::mt19937_64 engine = [] {
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        // The library may have no random source to offer; the counter and
        // the process id still make the name differ from run to run.
        std::uint64_t device_bits = 0;
        try {
            std::random_device device;
            device_bits = (static_cast<std::uint64_t>(device()) << 32) ^ device();
        } catch (...) {
        }
        std::seed_seq seed{device_bits, static_cast<std::uint64_t>(::GetCurrentProcessId()),
                           static_cast<std::uint64_t>(counter.QuadPart),
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    return engine();
}

}  // namespace quarvel
