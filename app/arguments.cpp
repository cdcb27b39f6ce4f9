#include "app/arguments.h"

#include <filesystem>

#include "app/report.h"
#include "layout/numbers.h"
#include "platform/input.h"

namespace quarvel {

const char* const usage_text =
    "Usage: Quarvel <in> <out> <meter> <copies> <xshift> <yshift> <param1> [<param2>]...\n"
    "Use quotes around any argument that contains spaces.\n";

std::optional<std::int32_t> leading_number(const std::string& arg) {
    if (arg.empty() || !is_digit(arg[0])) return std::nullopt;
    return scan_int(arg);
}

namespace {

struct Number_argument {
    const char* error;
    const char* echo;
};

// The copies and shift arguments, in order; the odd spacing of the x shift
// message is the tool's established text.
const Number_argument number_arguments[] = {
    {"<copies> must be a digit: ", "Copies: "},
    {"<xshif>t  must be a digit: ", "Xshift: "},
    {"<yshift> must be a digit: ", "Yshift: "},
};

// Files beside a missing layout named as an interrupted run names its new file:
// one of them may be the only copy of the layout, which the reason names.
std::string left_beside(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path missing = fs::u8path(path);
    const std::string prefix = missing.filename().u8string() + ".tmp.";
    std::string found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(missing.has_parent_path() ? missing.parent_path() : ".", error)) {
        const std::string name = entry.path().filename().u8string();
        if (name.size() == prefix.size() + 16 && name.compare(0, prefix.size(), prefix) == 0)
            found += (found.empty() ? "; " : ", ") + name;
    }
    return found.empty() ? "" : found + " beside it may hold its layout, left by an interrupted run";
}

std::nullopt_t refuse(std::ostream& console, const std::string& message) {
    report_error(console, message);
    console << usage_text;
    return std::nullopt;
}

}  // namespace

std::optional<Run_settings> parse_arguments(const std::vector<std::string>& args, std::ostream& console,
                                            std::ostream& errors) {
    if (args.size() < 6) return refuse(console, "Too few arguments");
    Run_settings settings;

    if (const std::string problem = status_problem(args[0]); !problem.empty()) {
        const bool missing = problem == "no such file or directory";
        write_error_line(errors, "quarvel: " + args[0] + ": " + problem + (missing ? left_beside(args[0]) : ""));
        return refuse(console, message_of({Failure::Kind::open, args[0], ""}));
    }
    settings.input_path = args[0];
    console << "In: " << args[0] << '\n';

    settings.output_path = args[1];
    console << "Out: " << args[1] << '\n';

    settings.copy.meter_name = args[2];
    console << "Meter name: " << args[2] << '\n';

    std::int32_t* const numbers[] = {&settings.copy.copies, &settings.copy.x_shift, &settings.copy.y_shift};
    for (int i = 0; i < 3; ++i) {
        const std::string& arg = args[3 + i];
        const std::optional<std::int32_t> value = leading_number(arg);
        if (!value) return refuse(console, number_arguments[i].error + arg);
        *numbers[i] = *value;
        settings.number_args[i] = arg;
        console << number_arguments[i].echo << *value << '\n';
    }

    for (std::size_t i = 6; i < args.size(); ++i) {
        console << "params " << settings.copy.parameter_keys.size() << ": " << args[i] << '\n';
        settings.copy.parameter_keys.push_back(args[i]);
    }
    return settings;
}

}  // namespace quarvel
