// One run of the tool, in order; a step that fails ends the run:
//   answer_help_or_version  a lone --help, -h, /? or --version is answered, and that is all
//   parse_arguments         each argument checked and echoed: the run settings, read-only from here
//   open_layout             the output's lock, then the input read and decoded under it
//   find_meter              the one scan of the input, with the names as the layout spells them
//                           "Found meter: ", "Total meters: " (or "Can't find meter: ", once the
//                           input is known to be the version read, and a hint of what looks meant)
//   replace_layout          the new layout written beside the output, the input and the output
//                           checked, the new file put in place
//                           warnings about keys that advance nothing, "DONE: "
// A failed file step is reported in one place, report_failure: its message (from its kind
// and path) on standard output, its reason on standard error.
#include "app/run.h"

#include "app/arguments.h"
#include "app/help.h"
#include "app/hints.h"
#include "app/layout_file.h"
#include "app/report.h"

namespace quarvel {

int run_tool(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors) {
    if (const std::optional<int> answered = answer_help_or_version(args, console)) return *answered;
    const std::optional<Run_settings> settings = parse_arguments(args, console);
    if (!settings) return 1;

    Layout_file layout;
    if (Failure failed = open_layout(*settings, layout)) return report_failure(console, errors, failed);
    const Meter_lookup meter = find_meter(layout.text, settings->copy);
    if (!meter.results.found) {
        if (Failure changed = check_input(layout.input)) return report_failure(console, errors, changed);
        report_error(console, "Can't find meter: " + settings->copy.meter_name);
        console.flush();
        report_meter_hint(errors, settings->input_path, settings->copy.meter_name, meter.results.hint);
        return 1;
    }
    console << "Found meter: " << settings->copy.meter_name << '\n'
            << "Total meters: " << meter.results.highest_number << "\n\n";
    console.flush();

    if (Failure failed = replace_layout(layout, meter.results, meter.copy))
        return report_failure(console, errors, failed);
    report_key_warnings(errors, layout.text.text, meter.results, settings->copy);
    console << "DONE: " << settings->copy.copies << " copies made.\n\n";
    return 0;
}

}  // namespace quarvel
