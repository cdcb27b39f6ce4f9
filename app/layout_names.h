// The meter name and parameter keys as a layout's bytes spell them: a legacy
// layout (no byte-order mark, bytes that are not UTF-8) may be text in the
// system's ANSI code page, where the names typed are matched in that form too.
#pragma once

#include "config/encoding.h"
#include "config/run_settings.h"
#include "config/scan.h"

namespace quarvel {

// Scans `input` for the meter named in `settings`. In a legacy layout, a name
// not found as typed is looked for in its ANSI code page form, which then
// becomes `settings.meter_name` for the copies; each parameter key with such a
// form gets it added right after it. Other layouts, and POSIX, where arguments
// are bytes already, keep `settings` as it is.
Scan_results scan_for_meter(const Decoded_text& input, Text_encoding encoding, Run_settings& settings);

}  // namespace quarvel
