// Head block rewrite: the general settings written with Width/Height grown to
// fit the layout or the row of copies, whichever is larger.
#pragma once

#include <cstdint>
#include <string_view>

#include "config/run_settings.h"
#include "config/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// The size written on every head "Width=" and "Height=" line.
struct Head_sizes {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The larger of the layout box's extent and copies x shift + target size,
// per axis, in wrapping signed 32-bit arithmetic.
Head_sizes head_sizes(const Scan_results& results, const Run_settings& settings);

// Writes the head block of `text` through the tidy pass, with every line
// that begins with "Width=" or "Height=" rewritten to the computed size.
void write_head_block(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                      const Run_settings& settings);

}  // namespace quarvel
