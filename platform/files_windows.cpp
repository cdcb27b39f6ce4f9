// Windows side of the platform layer's files: the input and the output, with the wide
// APIs and paths in their long form (\\?\), so that any characters and any length work,
// and binary I/O only, so that line ends are the tool's own business.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
std::wstring long_path(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');  // //?/C:/... as \\?\C:\...
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

// Errors another program's handle gives (a scanner, the meter application): worth another try.
bool is_transient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// Attributes an existing output keeps when it is replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ---- Ctrl+C, Ctrl+Break and a closed console window. The handler (a thread of its
// own) tells the run to stop, which it does at its next step, saying why; the guard
// keeps it from racing the rename. A run not ended within two seconds (a read that
// waits) has its new file dropped, and the system ends it.
SRWLOCK guard = SRWLOCK_INIT;
HANDLE new_file = INVALID_HANDLE_VALUE;  // until it is in place
volatile LONG stopping = 0;

struct Guard_held {
    Guard_held() { ::AcquireSRWLockExclusive(&guard); }
    ~Guard_held() { ::ReleaseSRWLockExclusive(&guard); }
};

#if QUARVEL_STOP_POINTS  // a test build: ends itself at step QUARVEL_STOP_AT of the replace, as End task would
void step(int n) {
    const char* at = std::getenv("QUARVEL_STOP_AT");
    if (at != nullptr && std::atoi(at) == n) ::TerminateProcess(::GetCurrentProcess(), 9);
}
#else
void step(int) {}
#endif

// Deletes the new file through its own handle, never a file that took its name.
void delete_through(HANDLE file) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
}

BOOL WINAPI on_console_event(DWORD) {
    ::InterlockedExchange(&stopping, 1);
    ::Sleep(2000);
    const Guard_held held;
    if (new_file != INVALID_HANDLE_VALUE) delete_through(new_file);
    return FALSE;  // the default handler ends the process, with a status that is not 0
}

// Gives the new file what the rename does not carry over from the old one, as
// ReplaceFileW kept it: the rules of its access list (those it inherits come again
// from the folder), and its named streams (a download's zone mark, a program's note).
Failure keep_access_list_and_streams(const Output_files& out, const std::wstring& old) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = ::GetNamedSecurityInfoW(old.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          &acl, nullptr, &descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (error == 0 && acl != nullptr && ::GetSecurityDescriptorControl(descriptor, &control, &revision))
        error = ::SetSecurityInfo(handle_of(out.file), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION |
            (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION),
            nullptr, nullptr, acl, nullptr);
    ::LocalFree(descriptor);
    WIN32_FIND_STREAM_DATA stream{};
    const HANDLE streams = ::FindFirstStreamW(old.c_str(), FindStreamInfoStandard, &stream, 0);
    for (bool more = streams != INVALID_HANDLE_VALUE; more && error == 0; more = ::FindNextStreamW(streams, &stream)) {
        if (std::wstring(stream.cStreamName) == L"::$DATA") continue;
        const std::wstring into_name = path_in(out, out.temp_name) + stream.cStreamName;
        const File from = open_shared(old + stream.cStreamName, GENERIC_READ, 0);
        const File into = file_from(::CreateFileW(into_name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, {}));
        char bytes[65536];
        for (DWORD got = 1; error == 0 && got > 0;)
            error = !from.is_open() || !into.is_open() || !::ReadFile(handle_of(from), bytes, sizeof bytes, &got, {})
                        ? ::GetLastError() : write_all(into, {bytes, got});
    }
    if (streams != INVALID_HANDLE_VALUE) ::FindClose(streams);
    if (error == 0 || error == ERROR_NOT_SUPPORTED) return {};
    return {write_kind, out.path, "its permissions or named streams cannot be kept: " + error_text(int(error))};
}

// The names killed runs of this output left, found by the file system, which
// compares names its own way (case aside).
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
    if (code == ERROR_OPERATION_ABORTED) return "interrupted (Ctrl+C, Ctrl+Break or its window closed)";
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "no such file or directory";
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

// ---- The input.

std::string status_problem(const std::string& path) {
    const std::wstring wide = long_path(widen(path));
    if (wide.empty() && !path.empty()) return not_unicode;
    return ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES ? "" : error_text(int(::GetLastError()));
}

Failure find_input(const std::string& path, Input& input) { return input.path = input.real = path, Failure{}; }

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
        if (stopping) return -std::int64_t{ERROR_OPERATION_ABORTED};
        // A pipe whose writer is done ends the input.
        if (::ReadFile(file, into, ask, &got, nullptr) || ::GetLastError() == ERROR_BROKEN_PIPE)
            return std::int64_t{got};
        return -std::int64_t{::GetLastError()};
    });
}

Failure check_input(const Input& input) {
    if (!input.state.regular) return {};  // a pipe or a device has no versions
    const File_state now = state_from(handle_of(input.file));
    if (now.size != input.state.size || now.modified != input.state.modified || now.changed != input.state.changed)
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
    // aside). It leaves no file, and a killed run's mutex is abandoned, which
    // the next run simply takes.
    if (stopping) return failure(write_kind, out.path, ERROR_OPERATION_ABORTED);
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
    const std::wstring old = path_in(out, out.name);
    const DWORD was = out.locked.exists ? ::GetFileAttributesW(old.c_str()) : 0;
    const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (was != INVALID_FILE_ATTRIBUTES ? was & kept_attributes : 0);
    static const BOOL handler_set = ::SetConsoleCtrlHandler(on_console_event, TRUE);
    (void)handler_set;
    // Under the lock no live run has a temporary name of this output.
    if (out.locked.exists) remove_leftovers(out);
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const std::string name = new_temp_name(out.name);
        const Guard_held held;
        // Open for no one else, with the right to rename and delete it: no other program
        // can hold the new file, which goes, or takes the output's place, by this handle.
        const DWORD access = GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC;
        out.file = file_from(::CreateFileW(path_in(out, name).c_str(), access, 0, nullptr, CREATE_NEW, attributes, {}));
        error = out.file.is_open() ? 0 : ::GetLastError();
        if (error == 0) out.temp_name = name, new_file = handle_of(out.file);
    }
    if (error == ERROR_ACCESS_DENIED)
        return {write_kind, out.path, "this user may not create files in its folder, where the new file is made"};
    if (error != 0) return failure(write_kind, out.path, static_cast<int>(error));
    step(1);
    return out.locked.exists ? keep_access_list_and_streams(out, old) : Failure{};
}

Failure open_direct(Output_files& out) {
    out.direct = true;
    out.file = open_shared(long_path(widen(out.path)), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL);
    if (!out.file.is_open()) return failure(write_kind, out.path, static_cast<int>(::GetLastError()));
    return {};
}

int write_all(const File& file, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        if (stopping) return ERROR_OPERATION_ABORTED;
        const DWORD ask = static_cast<DWORD>(std::min(bytes.size() - done, io_call_limit));
        DWORD wrote = 0;
        if (!::WriteFile(handle_of(file), bytes.data() + done, ask, &wrote, nullptr) || wrote == 0)
            return ::GetLastError() != 0 ? static_cast<int>(::GetLastError()) : ERROR_DISK_FULL;
        done += wrote;
    }
    return 0;
}

int sync_file(const File& file) { return step(2), ::FlushFileBuffers(handle_of(file)) ? 0 : int(::GetLastError()); }

Failure replace_output(Output_files& out) {
    // The new file takes the output's place in one rename of its own handle: the name
    // holds the old layout or the new one at every moment. About two seconds for a
    // program that holds the output, checked to be the version locked before each try.
    const std::wstring to = path_in(out, out.name);
    std::string room(sizeof(FILE_RENAME_INFO) + (to.size() + 1) * sizeof(wchar_t), '\0');
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(&room[0]);
    rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, to.c_str(), rename->FileNameLength);

    DWORD error = 0;
    for (int attempt = 0; attempt <= 20 && (attempt == 0 || is_transient(error)); ++attempt) {
        if (attempt > 0) ::Sleep(100);
        const Guard_held held;
        if (stopping) return failure(write_kind, out.path, ERROR_OPERATION_ABORTED);
        if (!same_version(state_of(out), out.locked)) return {write_kind, out.path, changed_by_other};
        step(3);
        // Windows 10 (1607 on) renames as POSIX does (FileRenameInfoEx: its flags sit where ReplaceIfExists
        // does), past a program that holds the old file but lets it go; else the rename Windows always had.
        bool renamed = false;
        for (const DWORD flags : {DWORD{2} | out.locked.exists, DWORD{out.locked.exists}}) {
            const auto kind = flags > 1 ? static_cast<FILE_INFO_BY_HANDLE_CLASS>(22) : FileRenameInfo;
            std::memcpy(rename, &flags, sizeof flags);
            if ((renamed = ::SetFileInformationByHandle(handle_of(out.file), kind, rename, DWORD(room.size())))) break;
        }
        if (renamed) {
            step(4);
            new_file = INVALID_HANDLE_VALUE;
            out.temp_name.clear();
            // Flushed, the file carries its rename to disk (NTFS logs it with the file's own records).
            if (::FlushFileBuffers(handle_of(out.file))) return {};
            return {write_kind, out.path, error_text(int(::GetLastError())) + "; the new file is in place, but may not be on disk"};
        }
        error = ::GetLastError();
    }
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return {write_kind, out.path, changed_by_other};
    // The new file is open for no one else: what another program holds is the output.
    return {write_kind, out.path, is_transient(error) ? "in use by another program" : error_text(int(error))};
}

void drop_new_file(Output_files& out) {
    const Guard_held held;
    if (!out.temp_name.empty()) delete_through(handle_of(out.file));
    new_file = INVALID_HANDLE_VALUE;
    close_file(out.file);
    out.temp_name.clear();
}

}  // namespace quarvel
