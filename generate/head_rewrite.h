// Head block rewrite: the general settings written with Width/Height grown to
// fit the layout or the row of copies, whichever is larger.
#pragma once

#include <cstdint>
#include <string_view>

#include "generate/copy_settings.h"
#include "layout/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// The size written on every head "Width=" and "Height=" line: the larger of the
// layout box's extent and copies x shift + the target's size.
struct Head_sizes {
    std::int32_t width = 0;
    std::int32_t height = 0;
};
Head_sizes head_sizes(const Scan_results& results, const Copy_settings& settings);

// Writes the head block of `text` through the tidy pass, with every line
// that begins with "Width=" ("Height=") rewritten to the larger of the layout
// box's extent and copies x shift + target width (height), in wrapping
// signed 32-bit arithmetic.
void write_head_block(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                      const Copy_settings& settings);

}  // namespace quarvel
