// Windows side of the platform layer's files: the input and the output, with
// the wide-character APIs and paths in their long form (\\?\), so that any
// characters and any length work, and binary I/O only, so that line ends are
// the tool's own business.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/console.h"
#include "platform/input.h"
#include "platform/output_calls.h"

namespace quarvel {
namespace {

constexpr Failure::Kind write_kind = Failure::Kind::write;

HANDLE handle_of(const File& file) { return reinterpret_cast<HANDLE>(file.value); }
File file_from(HANDLE h) { return File(h == nullptr || h == INVALID_HANDLE_VALUE ? -1 : std::intptr_t(h)); }

// UTF-8 to UTF-16. Text that is not valid UTF-8 (a lone surrogate from the
// command line among it) names no file: empty result.
std::wstring widen(const std::string& text) {
    const int size = static_cast<int>(text.size());
    const int n = size == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], n);
    return wide;
}

std::string narrow(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    const int n = text.empty() ? 0 : ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &utf8[0], n, nullptr, nullptr);
    return utf8;
}

bool starts_with(const std::wstring& text, const wchar_t* start) { return text.rfind(start, 0) == 0; }

// The full path in the form that lifts the 260-character limit: \\?\C:\...
// or \\?\UNC\server\share\...; devices (\\.\NUL) stay as they are. Empty for
// a path that names nothing.
std::wstring long_path(const std::wstring& path) {
    if (path.empty() || starts_with(path, L"\\\\?\\") || starts_with(path, L"\\\\.\\")) return path;
    std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD got = full.empty() ? 0 : ::GetFullPathNameW(path.c_str(), DWORD(full.size()), &full[0], nullptr);
    full.resize(got < full.size() ? got : 0);
    if (full.empty() || starts_with(full, L"\\\\.\\")) return full;
    return starts_with(full, L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

// The path of the open file, as the system names it (links, another drive
// letter for the same folder and short names resolved); empty when it cannot
// tell.
std::wstring final_path(HANDLE file) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD n = ::GetFinalPathNameByHandleW(file, nullptr, 0, flags);
    std::wstring path(n, L'\0');
    const DWORD got = n == 0 ? 0 : ::GetFinalPathNameByHandleW(file, &path[0], n, flags);
    path.resize(got < n ? got : 0);
    return path;
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
    state.modified = static_cast<std::int64_t>(static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                                               info.ftLastWriteTime.dwLowDateTime);
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        state.changed = basic.ChangeTime.QuadPart;
    return state;
}

// Opened sharing everything, folders too; for its attributes only, no other
// program's handle refuses it.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD backup_semantics = FILE_FLAG_BACKUP_SEMANTICS;
File open_shared(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES, DWORD flags = backup_semantics) {
    return file_from(::CreateFileW(path.c_str(), access, share_all, nullptr, OPEN_EXISTING, flags, nullptr));
}

std::wstring path_in(const Output_files& out, const std::string& name) { return widen(out.folder + name); }

const char* const not_unicode = "the name is not valid Unicode (it holds a lone surrogate)";

// Errors another program's open handle gives (a virus scanner, an indexer, the
// meter application): worth a short wait and another try.
bool is_transient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

std::string reason_for(DWORD e) { return is_transient(e) ? "in use by another program" : error_text(int(e)); }

// Attributes an existing output keeps when it is replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ---- The temporary file, removed on Ctrl+C, Ctrl+Break or a closed console
// window. The handler runs on a thread of its own; the guard keeps it from
// racing a replace attempt, and after it no attempt starts.
SRWLOCK temp_guard = SRWLOCK_INIT;
HANDLE temp_file = INVALID_HANDLE_VALUE;
std::wstring temp_path;
bool temp_registered = false;
bool stopping = false;

struct Guard_held {
    Guard_held() { ::AcquireSRWLockExclusive(&temp_guard); }
    ~Guard_held() { ::ReleaseSRWLockExclusive(&temp_guard); }
};

BOOL WINAPI on_console_event(DWORD) {
    const Guard_held held;
    stopping = true;
    if (temp_registered) {
        if (temp_file != INVALID_HANDLE_VALUE) ::CloseHandle(temp_file);
        ::DeleteFileW(temp_path.c_str());
        temp_registered = false;
    }
    return FALSE;  // the default handler ends the process, with a status that is not 0
}

// The names a killed run of this output left, found by the file system, which
// compares names its own way (case aside). A live run's temporary file is open
// for no one else: the delete is then refused.
void remove_leftovers(const Output_files& out) {
    const std::wstring folder = widen(out.folder);
    const std::wstring prefix = widen(temp_prefix(out.name));
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        const bool plain_file = !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        if (plain_file && is_own_temp_name(narrow(name), out.name))
            ::DeleteFileW((folder + name).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

}  // namespace

std::string error_text(int code) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD n = ::FormatMessageW(flags, nullptr, DWORD(code), 0, reinterpret_cast<wchar_t*>(&text), 0, {});
    std::string words = n > 0 && text != nullptr ? narrow(text) : "error " + std::to_string(code);
    if (text != nullptr) ::LocalFree(text);
    words.erase(words.find_last_not_of(" .\r\n") + 1);
    if (!words.empty() && words[0] >= 'A' && words[0] <= 'Z') words[0] = static_cast<char>(words[0] - 'A' + 'a');
    return words;
}

int close_file(File& file) {
    if (!file.is_open()) return 0;
    const HANDLE handle = handle_of(file);
    file.value = -1;
    return ::CloseHandle(handle) ? 0 : static_cast<int>(::GetLastError());
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

// ---- The input.

bool path_exists(const std::string& path) {
    const std::wstring wide = long_path(widen(path));
    return !wide.empty() && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Failure find_input(const std::string& path, Input& input) {
    input.path = input.real = path;
    return {};
}

Failure open_input(Input& input) {
    const std::string& path = input.path;
    const std::wstring wide = long_path(widen(path));
    if (wide.empty() && !path.empty()) return {Failure::Kind::open, path, not_unicode};
    if (wide.empty()) return failure(Failure::Kind::open, path, ERROR_FILE_NOT_FOUND);
    // Not a folder (no backup semantics); other programs may go on reading,
    // writing and renaming it meanwhile.
    input.file = open_shared(wide, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!input.file.is_open()) return failure(Failure::Kind::open, path, static_cast<int>(::GetLastError()));
    const HANDLE file = handle_of(input.file);
    if (::GetFileType(file) == FILE_TYPE_DISK) input.state = state_from(file);
    const std::size_t expected = input.state.regular ? static_cast<std::size_t>(input.state.size) : 0;
    return read_to_end(input, expected, [file](char* into, std::size_t room) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(room);  // at most io_call_limit
        // A pipe whose writer is done ends the input.
        if (::ReadFile(file, into, ask, &got, nullptr) || ::GetLastError() == ERROR_BROKEN_PIPE)
            return std::int64_t{got};
        return -std::int64_t{::GetLastError()};
    });
}

Failure check_input(const Input& input) {
    if (!input.state.regular) return {};  // a pipe or a device has no versions
    const File_state now = state_from(handle_of(input.file));
    if (now.size != input.state.size || now.modified != input.state.modified)
        return {Failure::Kind::read, input.path, "changed while it was being read"};
    const File at_path = open_shared(long_path(widen(input.path)));
    if (!at_path.is_open() || !same_file(state_from(handle_of(at_path)), input.state))
        return {Failure::Kind::read, input.path, "replaced by another program since it was read"};
    return {};
}

void release_input(Input& input) { close_file(input.file); }

// ---- The output.

Failure find_output(const std::string& path, Output_files& out) {
    out.path = path;
    const std::wstring full = long_path(widen(path));
    if (full.empty() && !path.empty()) return {write_kind, path, not_unicode};
    if (full.empty()) return failure(write_kind, path, ERROR_PATH_NOT_FOUND);
    const std::size_t slash = full.find_last_of(L"\\/");
    // Another program may replace the file between the two looks: then once more.
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::wstring real;
        const File found = open_shared(full);
        const DWORD error = found.is_open() ? 0 : ::GetLastError();
        if (found.is_open()) {
            out.found = state_from(handle_of(found));
            if (out.found.folder) return {write_kind, path, "is a folder"};
            if (!out.found.regular) return {};  // a device or a pipe: written directly, by its path
            real = final_path(handle_of(found));
        } else if (error == ERROR_FILE_NOT_FOUND && slash + 1 < full.size()) {
            const DWORD attributes = ::GetFileAttributesW(full.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return {write_kind, path, "a link to a file that does not exist"};
            // A new output: its folder as the system names it. The separator
            // stays: \\?\E:\ is the root folder, \\?\E: the volume.
            const std::wstring folder = full.substr(0, slash + 1);
            const File held = open_shared(folder);
            if (!state_from(handle_of(held)).folder) return {write_kind, path, "its folder does not exist"};
            real = final_path(handle_of(held));
            if (!real.empty() && real.back() != L'\\') real += L'\\';
            real = (real.empty() ? folder : real) + full.substr(slash + 1);
            out.found = File_state{};
        } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {write_kind, path, "its folder does not exist"};
        } else {
            return failure(write_kind, path, static_cast<int>(error));
        }
        if (real.empty()) real = full;  // the system cannot tell: as given
        const std::size_t last = real.find_last_of(L'\\');
        out.folder = narrow(real.substr(0, last + 1));
        out.name = narrow(real.substr(last + 1));
        // The name must still hold the file the links led to (or still nothing).
        const File_state named = state_of(out);
        if (out.found.exists ? same_file(named, out.found) : !named.exists) return {};
    }
    return {write_kind, path, changed_by_other};
}

File_state state_of(const Output_files& out) {
    const File file = open_shared(path_in(out, out.name), FILE_READ_ATTRIBUTES,
                                  backup_semantics | FILE_FLAG_OPEN_REPARSE_POINT);
    return file.is_open() ? state_from(handle_of(file)) : File_state{};
}

Failure try_lock_output(Output_files& out, bool& taken) {
    // A named mutex per output, whatever the spelling of its path: its real
    // folder's identity and its name as the file system compares names (case
    // aside), which holds also while a replace leaves the name empty for a
    // moment. It leaves no file, and a killed run's mutex is abandoned, which
    // the next run simply takes.
    const File_state folder = state_from(handle_of(open_shared(widen(out.folder))));
    std::wstring name = widen(out.name);
    const int size = static_cast<int>(name.size());
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), size, &name[0], size, nullptr, nullptr, 0);
    wchar_t key[96];
    std::swprintf(key, 96, L"Local\\quarvel-%016llx-%016llx-%016llx", static_cast<unsigned long long>(folder.volume),
                  static_cast<unsigned long long>(folder.file), static_cast<unsigned long long>(hash_of(narrow(name))));
    File mutex = file_from(::CreateMutexW(nullptr, FALSE, key));
    if (!mutex.is_open()) return failure(write_kind, out.path, static_cast<int>(::GetLastError()));
    const DWORD waited = ::WaitForSingleObject(handle_of(mutex), 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return {};
    out.locked = state_of(out);
    if (out.locked.exists) {
        // The replace must not bypass the file's protection: the read-only
        // attribute, or security settings that refuse this user.
        const std::wstring path = path_in(out, out.name);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            return {write_kind, out.path, "read-only"};
        if (!open_shared(path, GENERIC_WRITE, 0).is_open() && ::GetLastError() == ERROR_ACCESS_DENIED)
            return {write_kind, out.path, "read-only"};
    }
    out.lock = std::move(mutex);
    taken = true;
    return {};
}

Failure create_new_file(Output_files& out) {
    const DWORD old = out.locked.exists ? ::GetFileAttributesW(path_in(out, out.name).c_str()) : 0;
    const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (old != INVALID_FILE_ATTRIBUTES ? old & kept_attributes : 0);
    static const BOOL handler_set = ::SetConsoleCtrlHandler(on_console_event, TRUE);
    (void)handler_set;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const std::string name = new_temp_name(out.name);
        const Guard_held held;
        temp_path = path_in(out, name);
        // Opened for no one else: a later run cannot remove it while this one lives.
        out.file = file_from(::CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, {}));
        error = out.file.is_open() ? 0 : ::GetLastError();
        if (error == 0) out.temp_name = name;
        temp_registered = error == 0;
        temp_file = handle_of(out.file);
    }
    if (error == ERROR_ACCESS_DENIED)
        return {write_kind, out.path, "this user may not create files in its folder, where the new file is made"};
    if (error != 0) return failure(write_kind, out.path, static_cast<int>(error));
    return {};
}

Failure open_direct(Output_files& out) {
    out.direct = true;
    out.file = open_shared(long_path(widen(out.path)), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL);
    if (!out.file.is_open()) return failure(write_kind, out.path, static_cast<int>(::GetLastError()));
    return {};
}

int write_all(const File& file, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const DWORD ask = static_cast<DWORD>(std::min(bytes.size() - done, io_call_limit));
        DWORD wrote = 0;
        if (!::WriteFile(handle_of(file), bytes.data() + done, ask, &wrote, nullptr) || wrote == 0)
            return ::GetLastError() != 0 ? static_cast<int>(::GetLastError()) : ERROR_DISK_FULL;
        done += wrote;
    }
    return 0;
}

int sync_file(const File& file) { return ::FlushFileBuffers(handle_of(file)) ? 0 : static_cast<int>(::GetLastError()); }

Failure replace_output(Output_files& out) {
    const std::wstring from = path_in(out, out.temp_name);
    const std::wstring to = path_in(out, out.name);
    const File_state mine = state_from(handle_of(out.file));
    {
        // The replace must open the file: our handle shares it with no one.
        const Guard_held held;
        temp_file = INVALID_HANDLE_VALUE;
        if (const int error = close_file(out.file)) return failure(write_kind, out.path, error);
    }
    // The old file goes to a temporary name of ours: every outcome of the
    // replace is then one the system documents, and a file left there is a
    // leftover the next run removes.
    const std::wstring backup = path_in(out, new_temp_name(out.name));
    // About two seconds in all for whoever holds the output to let go, with
    // the check that it is still the version read right before every try.
    bool old_stands = out.locked.exists;
    DWORD error = 0;
    for (int attempt = 0; attempt <= 20; ++attempt) {
        if (attempt > 0) ::Sleep(100);
        const Guard_held held;
        if (stopping || !same_version(state_of(out), old_stands ? out.locked : File_state{})) {
            error = 0;
            break;
        }
        bool done = false;
        if (!old_stands) {
            done = ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        } else if (open_shared(to, DELETE).is_open() && open_shared(from, DELETE).is_open()) {
            // Tried only when no other program's handle refuses a rename of either file.
            done = ::ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(), 0, nullptr, nullptr) != 0;
        } else {
            ::SetLastError(ERROR_SHARING_VIOLATION);
        }
        error = done ? 0 : ::GetLastError();  // before any other call
        if (done) {
            // The old file; a program that opened it for a moment delays its removal.
            for (int tries = 0; tries < 20 && !::DeleteFileW(backup.c_str()); ++tries)
                ::Sleep(::GetLastError() == ERROR_SHARING_VIOLATION ? 10 : 0);
            temp_registered = false;
            out.temp_name.clear();
            remove_leftovers(out);
            return {};
        }
        if (old_stands && !state_of(out).exists) {
            // The replace got part of the way (ERROR_UNABLE_TO_MOVE_REPLACEMENT
            // and its like): the old file is gone from the output and the new
            // one, the only complete copy, is moved into place, with a fresh
            // round of tries, and never removed.
            old_stands = temp_registered = false;
            attempt = -1;
        } else if (!is_transient(error)) {
            break;
        }
    }
    const Guard_held held;
    // The system may have got part of the way.
    const bool placed = same_file(state_of(out), mine);
    const bool only_copy = !placed && !old_stands;
    const bool other = error == 0 || error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    std::string why = stopping ? "interrupted" : other ? changed_by_other : reason_for(error);
    if (placed) why += "; the new file is in place, but may not be on disk";
    // Paths as users write them (their long form's \\?\ dropped).
    if (only_copy && ::GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
        why += "; the old layout is " + narrow(backup.substr(4));
    if (only_copy) why += "; the new layout is " + narrow(from.substr(4));
    if (placed || only_copy) {
        temp_registered = false;
        out.temp_name.clear();
    }
    return {write_kind, out.path, why};
}

void drop_new_file(Output_files& out) {
    const Guard_held held;
    if (handle_of(out.file) == temp_file) temp_file = INVALID_HANDLE_VALUE;
    close_file(out.file);
    if (!out.temp_name.empty()) ::DeleteFileW(path_in(out, out.temp_name).c_str());
    out.temp_name.clear();
    temp_registered = false;
}

}  // namespace quarvel
