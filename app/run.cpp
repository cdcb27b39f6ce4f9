#include "app/run.h"

#include <new>

#include "app/arguments.h"
#include "app/report.h"
#include "config/encoding.h"
#include "config/scan.h"
#include "generate/output.h"
#include "platform/files.h"

namespace quarvel {

int run_tool(const std::vector<std::string>& args, std::ostream& console) {
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

    const Scan_results results = scan_input(input.text, settings->meter_name);
    if (!results.found) {
        report_error(console, "Can't find meter: " + settings->meter_name);
        return 1;
    }
    console << "Found meter: " << settings->meter_name << '\n'
            << "Total meters: " << results.highest_number << "\n\n";
    console.flush();

    // The output goes to a temporary file beside it, put in place once complete.
    Output_file file;
    bool written = open_output(settings->output_path, file);
    if (written) {
        const Byte_sink to_file = [&file](std::string_view bytes) { return write_output(file, bytes); };
        written = write_output(to_file, input.text, results, *settings, input.preamble, encoding);
        if (written) {
            written = commit_output(file);
        } else {
            discard_output(file);
        }
    }
    if (!written) {
        report_error(console, "Can't write file: " + settings->output_path);
        return 1;
    }
    console << "DONE: " << settings->copies << " copies made.\n\n";
    return 0;
}

}  // namespace quarvel
