// The layout file of a run, read, changed and replaced in one cycle: the output's
// lock, the input and its decoding, the meter looked up in it, the new file.
#pragma once

#include <string>

#include "app/arguments.h"
#include "generate/copy_settings.h"
#include "layout/encoding.h"
#include "layout/scan.h"
#include "platform/input.h"
#include "platform/output.h"

namespace quarvel {

// Owned by the run until it ends: what the run read stays readable, whatever
// the replace releases.
struct Layout_file {
    Safe_output output;
    Input input;
    std::string decoded;  // a UTF-16 layout's text in UTF-8
    Decoded_text text;    // the input as the line rules read it
    Failure lock_failed;  // reported once the input is known good
};

// Locks the output (so that an output that is also the input is read under
// the lock), then reads and decodes the input: the input's failure, if any.
// Throws std::bad_alloc when the layout does not fit in memory.
Failure open_layout(const Run_settings& settings, Layout_file& file);

struct Meter_lookup {
    Scan_results results;
    Copy_settings copy;  // the meter name and keys as the layout spells them
    const Lead_bytes* lead = nullptr;  // a double-byte code page's lead bytes, where the layout is in one
};

// Scans `text` for the meter named in `typed`. A legacy layout (no byte-order
// mark, bytes that are not UTF-8) may be in the system's ANSI code page: there
// a name not found as typed is looked for in that form, each parameter key
// with such a form gets it too, and a double-byte code page's characters are
// read as characters. POSIX arguments are bytes: they stay as typed.
Meter_lookup find_meter(const Decoded_text& text, const Copy_settings& typed);

// Writes the new layout (the blocks of `results`, copies by `copy`) beside the
// output and puts it in place, if the input and the output are still the
// versions read and locked: the lock's failure, a write's or a check's.
// Throws std::bad_alloc, with nothing replaced, when memory runs out.
Failure replace_layout(Layout_file& file, const Scan_results& results, const Copy_settings& copy);

}  // namespace quarvel
