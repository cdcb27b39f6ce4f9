#include "app/run.h"

#include <new>

#include "app/arguments.h"
#include "app/help.h"
#include "app/layout_names.h"
#include "app/report.h"
#include "config/encoding.h"
#include "config/scan.h"
#include "generate/output.h"
#include "platform/files.h"

namespace quarvel {

int run_tool(const std::vector<std::string>& args, std::ostream& console) {
    if (const std::optional<int> answered = answer_help_or_version(args, console)) return *answered;
    const std::optional<Run_settings> settings = parse_arguments(args, console);
    if (!settings) return 1;

    std::string contents;
    Text_encoding encoding = Text_encoding::bytes;
    Read_status status = Read_status::read_error;
    try {
        status = read_whole_file(settings->input_path, contents);
        if (status == Read_status::ok && !decode_layout(contents, encoding)) status = Read_status::read_error;
    } catch (const std::bad_alloc&) {
        // An input too large to hold (an endless device, say) cannot be read.
        status = Read_status::read_error;
    }
    if (status == Read_status::cannot_open) {
        report_error(console, "Can't open file: " + settings->input_path);
        return 1;
    }
    if (status == Read_status::read_error) {
        report_error(console, "Can't read file: " + settings->input_path);
        return 1;
    }
    const Decoded_text input = split_byte_order_mark(contents);

    Run_settings names = *settings;  // as the layout's bytes spell them
    const Scan_results results = scan_for_meter(input, encoding, names);
    if (!results.found) {
        report_error(console, "Can't find meter: " + settings->meter_name);
        return 1;
    }
    console << "Found meter: " << settings->meter_name << '\n'
            << "Total meters: " << results.highest_number << "\n\n";
    console.flush();

    if (!write_output_file(input.text, results, names, input.preamble, encoding)) {
        report_error(console, "Can't write file: " + settings->output_path);
        return 1;
    }
    console << "DONE: " << settings->copies << " copies made.\n\n";
    return 0;
}

}  // namespace quarvel
