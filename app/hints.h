// Hints and warnings on standard error for what a layout author would not
// expect: the meter a run could not find, and the surprises of a run that did.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/arguments.h"
#include "generate/copy_settings.h"
#include "layout/scan.h"

namespace quarvel {

// What looks meant when the meter is not found, the first in file order: a name
// line like it but for case or spaces, or that adds " ..." (typed without quotes);
// the very name line, but late, under "[meter", or spelled "name=" or "Name = ".
struct Name_hint {
    enum class Kind { none, similar, unquoted, late, lower_case_header, spelled_otherwise };
    Kind kind = Kind::none;
    std::string_view header;     // the section's header line
    std::string_view name_line;  // the line that looks meant
};

// A pass of its own over `text`, made only when the scan found no meter named
// `meter_name`; sections end where the scan's do, and nothing after
// "[PluginInfo]" is looked at.
Name_hint find_meter_hint(std::string_view text, std::string_view meter_name, const Lead_bytes* lead = nullptr);

// After "Can't find meter": the "quarvel: <in>: " line naming what looks meant,
// or nothing.
std::string meter_hint_line(const std::string& input_path, const std::string& meter_name, const Name_hint& hint);

// The "quarvel: warning: " lines of a run that found its meter (worked out
// before the replace, written after it); `spelled` has the names as the layout
// spells them. The meter's lines and, for the copies' names, every name line.
std::vector<std::string> run_warnings(std::string_view text, const Scan_results& results,
                                      const Run_settings& settings, const Copy_settings& spelled,
                                      const Lead_bytes* lead = nullptr);

}  // namespace quarvel
