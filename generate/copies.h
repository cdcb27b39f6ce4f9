// Copy rewriting: the target block written once per copy, renumbered, renamed,
// moved and with its parameter values advanced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/run_settings.h"
#include "config/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// What one copy changes: its index, offsets and new meter number.
struct Copy_step {
    std::int32_t k = 0;
    std::int32_t x_offset = 0;
    std::int32_t y_offset = 0;
    std::int32_t new_number = 0;
};

// The text that rewriting looks for, prepared once for all copies.
struct Copy_rules {
    std::string target_headers[4];  // "[Meter N]", "[Source N]", "[Output N]", "[InputController N]"
    std::string name_line;          // "Name=" + meter name
    std::vector<std::string> parameter_prefixes;  // each key + "="
};

Copy_rules make_copy_rules(const Run_settings& settings, std::uint32_t target_number);

// Appends to `out` the lines that `line` becomes in the copy described by
// `step`, each followed by "\n" (a line matched by several parameter keys is
// written once per key).
void rewrite_copy_line(std::string_view line, const Copy_rules& rules, const Copy_step& step,
                       std::string& out);

// Writes copies 1 ... settings.copies of the target block of `text`.
void write_copies(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Run_settings& settings);

}  // namespace quarvel
