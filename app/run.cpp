#include "app/run.h"

#include <new>

#include "app/arguments.h"
#include "app/help.h"
#include "app/layout_names.h"
#include "app/report.h"
#include "config/encoding.h"
#include "config/scan.h"
#include "generate/output.h"
#include "platform/output.h"

namespace quarvel {
namespace {

// A UTF-16 layout is decoded into memory of its own; anything else is read
// where it lies.
Failure decode_input(Input& input, Text_encoding& encoding) {
    const std::string_view bytes = input.bytes;
    const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                             (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    if (!utf16) return {};
    try {
        if (input.buffer.data() != bytes.data()) input.buffer.assign(bytes);
        const bool decoded = decode_layout(input.buffer, encoding);
        input.bytes = input.buffer;
        if (!decoded) return {Failure::Kind::read, input.path, "not valid UTF-16"};
    } catch (const std::bad_alloc&) {
        return {Failure::Kind::read, input.path, "too large to hold in memory"};
    }
    return {};
}

int report(std::ostream& console, std::ostream& errors, const Failure& failed) {
    const char* const messages[] = {"", "Can't open file: ", "Can't read file: ", "Can't write file: "};
    report_error(console, messages[static_cast<int>(failed.kind)] + failed.path);
    console.flush();
    errors << "quarvel: " << failed.path << ": " << failed.reason << '\n';
    errors.flush();
    return 1;
}

}  // namespace

int run_tool(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors) {
    if (const std::optional<int> answered = answer_help_or_version(args, console)) return *answered;
    const std::optional<Run_settings> settings = parse_arguments(args, console);
    if (!settings) return 1;

    // The lock comes first, so that an output that is also the input is read
    // under it; a failure to take it is reported once the input is known good.
    Safe_output output;
    const Failure lock_failed = lock_output(settings->output_path, output);

    Input input;
    Text_encoding encoding = Text_encoding::bytes;
    if (Failure failed = open_input(settings->input_path, input)) return report(console, errors, failed);
    if (Failure failed = decode_input(input, encoding)) return report(console, errors, failed);
    const Decoded_text text = split_byte_order_mark(input.bytes);

    Run_settings names = *settings;  // as the layout's bytes spell them
    const Scan_results results = scan_for_meter(text, encoding, names);
    if (!results.found) {
        if (Failure failed = check_input(input)) return report(console, errors, failed);
        report_error(console, "Can't find meter: " + settings->meter_name);
        return 1;
    }
    console << "Found meter: " << settings->meter_name << '\n'
            << "Total meters: " << results.highest_number << "\n\n";
    console.flush();
    if (lock_failed) return report(console, errors, lock_failed);

    Failure failed = begin_output(output);
    const Byte_sink sink = [&](std::string_view bytes) { return !(failed = write_output_bytes(output, bytes)); };
    if (!failed && write_output(sink, text.text, results, names, text.preamble, encoding))
        failed = commit_output(output, input);
    if (failed) {
        // A write straight from a mapped input that was cut short fails too:
        // the input is what went wrong.
        if (input.file.is_open()) {
            if (Failure changed = check_input(input)) return report(console, errors, changed);
        }
        return report(console, errors, failed);
    }
    console << "DONE: " << settings->copies << " copies made.\n\n";
    return 0;
}

}  // namespace quarvel
