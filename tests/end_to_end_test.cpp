// Golden end-to-end cases: each folder under tests/cases holds the arguments,
// the files to start from, the expected console text (and "stderr"), exit
// status and the files the run folder must hold afterwards, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "app/arguments.h"
#include "app/version.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace quarvel {
namespace {

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(QUARVEL_CASES_PATH))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, Run) {
    const fs::path folder = fs::path(QUARVEL_CASES_PATH) / GetParam();
#ifndef _WIN32
    // A case that needs the Windows command line or code pages says why.
    if (fs::exists(folder / "windows-only")) GTEST_SKIP() << test::read_bytes((folder / "windows-only").string());
#else
    // One for a code page of its own runs where Windows uses that one.
    const fs::path code_page = folder / "code-page";
    if (fs::exists(code_page) && test::read_bytes(code_page.string()) != std::to_string(::GetACP()) + "\n") GTEST_SKIP();
#endif
    test::Scratch_dir run_dir;
    if (fs::exists(folder / "files"))
        for (const auto& entry : fs::directory_iterator(folder / "files"))
            fs::copy_file(entry.path(), fs::path(run_dir.path) / entry.path().filename());

    const std::vector<std::string> args = split_lines(test::read_bytes((folder / "args").string()));
    const test::Run_result result = test::run_program(args, run_dir.path);

    EXPECT_EQ(test::console_text(result.console), test::read_bytes((folder / "console").string()));
    EXPECT_EQ(std::to_string(result.status) + "\n", test::read_bytes((folder / "status").string()));
    // A run with nothing to warn about writes nothing on standard error.
    const fs::path errors = folder / "stderr";
    const std::string expected_errors = fs::exists(errors) ? test::read_bytes(errors.string()) : "";
    const bool checked = fs::exists(errors) || result.status == 0;
    EXPECT_EQ(checked ? test::console_text(result.errors) : expected_errors, expected_errors);

    std::vector<std::string> expected_names;
    if (fs::exists(folder / "expected"))
        for (const auto& entry : fs::directory_iterator(folder / "expected")) {
            const std::string name = entry.path().filename().string();
            expected_names.push_back(name);
            EXPECT_EQ(test::read_bytes(run_dir.file(name)), test::read_bytes(entry.path().string())) << name;
        }
    std::sort(expected_names.begin(), expected_names.end());
    EXPECT_EQ(test::list_dir(run_dir.path), expected_names);
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(case_names()),
                         [](const auto& info) { return info.param; });

// Help and version answer only a lone "--help", "-h", "/?" or "--version";
// with more arguments these are ordinary arguments, checked as always.
TEST(HelpAndVersion, AnswerOnlyTheLoneOption) {
    const std::string help = test::read_bytes((fs::path(QUARVEL_CASES_PATH) / "help" / "console").string());
    const struct {
        std::vector<std::string> args;
        int status;
        std::string console;
    } cases[] = {
        {{"-h"}, 0, help},
        {{"/?"}, 0, help},
        {{"--version"}, 0, "quarvel " QUARVEL_VERSION "\n"},
        {{"--help", "in.ini"}, 1, std::string("ERROR: Too few arguments\n") + usage_text},
        {{"--version", "out.ini", "A", "1", "0", "0"}, 1, std::string("ERROR: Can't open file: --version\n") + usage_text},
    };
    for (const auto& c : cases) {
        test::Scratch_dir run_dir;
        const test::Run_result result = test::run_program(c.args, run_dir.path);
        EXPECT_EQ(test::console_text(result.console), c.console) << c.args[0];
        EXPECT_EQ(result.status, c.status) << c.args[0];
    }
}

}  // namespace
}  // namespace quarvel
