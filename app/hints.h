// Hints on standard error for what a user probably meant: the meter a run
// could not find, and parameter keys that advance nothing.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "generate/copy_settings.h"
#include "layout/scan.h"

namespace quarvel {

// What looks meant when the meter is not found: the first section whose name
// line differs from the one looked for only in ASCII case or in spaces, or
// that has that very name line, but later than right after its header.
struct Name_hint {
    std::string_view header;     // the section's header line; empty: no hint
    std::string_view name_line;  // the line that looks meant
    bool late = false;           // the name line as looked for, in the wrong place
};

// A pass of its own over `text`, made only when the scan found no meter named
// `meter_name`; sections end where the scan's do, and nothing after
// "[PluginInfo]" is looked at.
Name_hint find_meter_hint(std::string_view text, std::string_view meter_name, const Lead_bytes* lead = nullptr);

// After "Can't find meter": one "quarvel: <in>: " line naming what looks
// meant, if anything does.
void report_meter_hint(std::ostream& errors, const std::string& input_path, const std::string& meter_name,
                       const Name_hint& hint);

// The "quarvel: warning: " lines (each ending in "\n") for the keys of `typed`
// that are position keys or begin no line of the target block of `text`:
// worked out before the replace, printed after it.
std::vector<std::string> key_warnings(std::string_view text, const Scan_results& results, const Copy_settings& typed);

}  // namespace quarvel
