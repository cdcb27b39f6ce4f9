// Hints on standard error for what a user probably meant: the meter a run
// could not find, and parameter keys that advance nothing.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "generate/copy_settings.h"
#include "layout/scan.h"

namespace quarvel {

// After "Can't find meter": one "quarvel: <in>: " line naming what looks
// meant (the scan's hint), if anything does.
void report_meter_hint(std::ostream& errors, const std::string& input_path, const std::string& meter_name,
                       const Name_hint& hint);

// After a successful run: one "quarvel: warning: " line for each key of
// `typed` that is a position key, or that begins no line of the target block.
void report_key_warnings(std::ostream& errors, std::string_view text, const Scan_results& results,
                         const Copy_settings& typed);

}  // namespace quarvel
