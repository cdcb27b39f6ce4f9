// The executable describes itself: the version information that Explorer
// shows, read back from the built quarvel.exe, and its application manifest.
#include <gtest/gtest.h>

#include <string>

#include "app/version.h"
#include "test_support.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#endif

namespace quarvel {
namespace {

#ifdef _WIN32

std::wstring exe_path() { return std::filesystem::path(QUARVEL_EXE_PATH).make_preferred().wstring(); }

// One string of the version information's US English block, or "(none)".
std::string version_string(const std::wstring& exe, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (size == 0) return "(none)";
    std::string block(size, '\0');
    if (!::GetFileVersionInfoW(exe.c_str(), 0, size, &block[0])) return "(none)";
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueW(&block[0], query.c_str(), &value, &length) || length == 0) return "(none)";
    const std::wstring wide(static_cast<const wchar_t*>(value), length - 1);  // without its NUL
    return std::filesystem::path(wide).u8string();
}

std::string manifest(const std::wstring& exe) {
    const HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return "(cannot load)";
    std::string text = "(none)";
    if (const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const HGLOBAL data = ::LoadResource(module, found);
        text.assign(static_cast<const char*>(::LockResource(data)), ::SizeofResource(module, found));
    }
    ::FreeLibrary(module);
    return text;
}

TEST(Resources, VersionInformationAndManifest) {
    const std::wstring exe = exe_path();
    EXPECT_EQ(version_string(exe, L"ProductVersion"), QUARVEL_VERSION);
    EXPECT_EQ(version_string(exe, L"FileVersion"), QUARVEL_VERSION);
    EXPECT_EQ(version_string(exe, L"OriginalFilename"), "quarvel.exe");
    EXPECT_EQ(version_string(exe, L"ProductName"), "Quarvel");
    for (const wchar_t* name : {L"FileDescription", L"LegalCopyright"})
        EXPECT_NE(version_string(exe, name), "(none)") << std::filesystem::path(name).u8string();

    const std::string text = manifest(exe);
    EXPECT_NE(text.find("<ws2:longPathAware>true</ws2:longPathAware>"), std::string::npos) << text;
    EXPECT_NE(text.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos) << text;  // Windows 10 and 11
}

#else

TEST(Resources, VersionInformationAndManifest) {
    GTEST_SKIP() << "version information and manifests are resources of Windows executables";
}

#endif

}  // namespace
}  // namespace quarvel
