// One run of the tool, in order; a step that fails ends the run:
//   answer_help_or_version  a lone --help, -h, /? or --version is answered, and that is all
//   parse_arguments         each argument checked and echoed: the run settings, read-only from here
//   open_layout             the output's lock, then the input read and decoded under it; its
//                           bytes are the run's until it ends
//   find_meter              the one scan of the input, with the names as the layout spells them
//                           "Found meter: ", "Total meters: " (or "Can't find meter: ", once the
//                           input is known to be the version read, and a hint of what looks meant)
//   key_warnings            keys that advance nothing, worked out before the replace
//   replace_layout          the new layout written beside the output, the input and the output
//                           checked, the new file put in place
//                           the warnings, "DONE: "
// A failed file step is reported in one place, report_failure: its message (from its kind
// and path) on standard output, its reason on standard error. Memory that runs out is such
// a failure too: of the reading, or of the writing.
#include "app/run.h"

#include <new>

#include "app/arguments.h"
#include "app/help.h"
#include "app/hints.h"
#include "app/layout_file.h"
#include "app/report.h"

namespace quarvel {
namespace {

// The run from the lock to "DONE: ". `stage` says what a failed allocation
// would fail: the reading, the writing, or nothing once the new file is in place.
int run_layout(const Run_settings& settings, std::ostream& console, std::ostream& errors, Failure::Kind& stage) {
    Layout_file layout;
    if (Failure failed = open_layout(settings, layout)) return report_failure(console, errors, failed);
    const Meter_lookup meter = find_meter(layout.text, settings.copy);
    if (!meter.results.found) {
        if (Failure changed = check_input(layout.input)) return report_failure(console, errors, changed);
        const std::string hint = meter_hint_line(settings.input_path, settings.copy.meter_name,
                                                 find_meter_hint(layout.text.text, settings.copy.meter_name, meter.lead));
        report_error(console, "Can't find meter: " + settings.copy.meter_name);
        console.flush();
        if (!hint.empty()) write_error_line(errors, hint);
        return 1;
    }
    console << "Found meter: " << settings.copy.meter_name << '\n'
            << "Total meters: " << meter.results.highest_number << "\n\n";
    console.flush();

    stage = Failure::Kind::write;
    const std::vector<std::string> warnings =
        run_warnings(layout.text.text, meter.results, settings, meter.copy, meter.lead);
    if (Failure failed = replace_layout(layout, meter.results, meter.copy))
        return report_failure(console, errors, failed);
    stage = Failure::Kind::none;
    for (const std::string& warning : warnings) write_error_line(errors, warning);
    console << "DONE: " << settings.copy.copies << " copies made.\n\n";
    return 0;
}

}  // namespace

int run_tool(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors) {
    if (const std::optional<int> answered = answer_help_or_version(args, console)) return *answered;
    const std::optional<Run_settings> settings = parse_arguments(args, console, errors);
    if (!settings) return 1;
    Failure::Kind stage = Failure::Kind::read;
    try {
        return run_layout(*settings, console, errors, stage);
    } catch (const std::bad_alloc&) {
        // The run's memory is given back by now, so the report has room. Past
        // the replace, the new layout stands: the run has done its work.
        if (stage == Failure::Kind::none) return 0;
        const bool reading = stage == Failure::Kind::read;
        return report_failure(console, errors,
                              {stage, reading ? settings->input_path : settings->output_path, "not enough memory"});
    }
}

}  // namespace quarvel
