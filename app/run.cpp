#include "app/run.h"

#include <cerrno>
#include <new>

#include "app/arguments.h"
#include "app/help.h"
#include "app/layout_names.h"
#include "app/report.h"
#include "config/encoding.h"
#include "config/scan.h"
#include "generate/output.h"
#include "platform/files.h"
#include "platform/replace.h"

namespace quarvel {
namespace {

// A UTF-16 layout is decoded into memory of its own; anything else is read
// where it lies.
bool decode_input(Input_file& input, Text_encoding& encoding) {
    const std::string_view bytes = input.bytes;
    const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                             (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    if (!utf16) return true;
    if (input.buffer.data() != bytes.data()) input.buffer.assign(bytes);
    const bool decoded = decode_layout(input.buffer, encoding);
    input.bytes = input.buffer;
    return decoded;
}

int fail(std::ostream& console, std::ostream& errors, const std::string& message,
         const std::string& path, const std::string& reason) {
    report_error(console, message + path);
    console.flush();
    errors << "quarvel: " << path << ": " << reason << '\n';
    errors.flush();
    return 1;
}

}  // namespace

int run_tool(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors) {
    if (const std::optional<int> answered = answer_help_or_version(args, console)) return *answered;
    const std::optional<Run_settings> settings = parse_arguments(args, console);
    if (!settings) return 1;
    const std::string& in = settings->input_path;
    const std::string& out = settings->output_path;

    // The lock comes first, so that an output that is also the input is read
    // under it; a failure to take it is reported once the input is known good.
    Safe_output output;
    lock_output(out, output);

    Input_file input;
    Text_encoding encoding = Text_encoding::bytes;
    Read_status status = Read_status::read_error;
    int error = 0;
    try {
        status = open_input(in, input, error);
        if (status == Read_status::ok && !decode_input(input, encoding)) {
            status = Read_status::read_error;
            error = 0;
        }
    } catch (const std::bad_alloc&) {
        // An input too large to hold (an endless device, say) cannot be read.
        status = Read_status::read_error;
        error = ENOMEM;
    }
    if (status == Read_status::cannot_open) return fail(console, errors, "Can't open file: ", in, error_text(error));
    if (status == Read_status::read_error)
        return fail(console, errors, "Can't read file: ", in, error != 0 ? error_text(error) : "not valid UTF-16");
    const Decoded_text text = split_byte_order_mark(input.bytes);

    Run_settings names = *settings;  // as the layout's bytes spell them
    const Scan_results results = scan_for_meter(text, encoding, names);
    if (!results.found) {
        if (!input_unchanged(input))
            return fail(console, errors, "Can't read file: ", in, "changed while it was being read");
        report_error(console, "Can't find meter: " + settings->meter_name);
        return 1;
    }
    console << "Found meter: " << settings->meter_name << '\n'
            << "Total meters: " << results.highest_number << "\n\n";
    console.flush();

    const Byte_sink sink = [&output](std::string_view bytes) { return write_output_bytes(output, bytes); };
    const bool written = begin_output(output) &&
                         write_output(sink, text.text, results, names, text.preamble, encoding) &&
                         commit_output(output, input);
    if (!written) {
        if (output.failure.kind == Failure::Kind::read)
            return fail(console, errors, "Can't read file: ", in, output.failure.reason);
        // A write straight from a mapped input that was cut short fails too:
        // the input is what went wrong.
        if (input.handle != no_handle && !input_unchanged(input))
            return fail(console, errors, "Can't read file: ", in, "changed while it was being read");
        return fail(console, errors, "Can't write file: ", out, output.failure.reason);
    }
    console << "DONE: " << settings->copies << " copies made.\n\n";
    return 0;
}

}  // namespace quarvel
