// The input scan: one pass over the layout that cuts it into four blocks
// around the target meter and measures the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

// A run of whole lines of the scanned text: [begin, end) in the positions
// that next_line() walks through. Lines are read back with next_line().
struct Text_block {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Smallest Left/Top and largest Right/Bottom of the whole file. The start
// values are sentinels, not clamps.
struct Layout_box {
    std::int32_t min_left = 10000;
    std::int32_t max_right = -10000;
    std::int32_t min_top = 10000;
    std::int32_t max_bottom = -10000;
};

struct Scan_results {
    Text_block head;      // general settings and every meter before the target
    Text_block target;    // the target's section, from its header on
    Text_block trailing;  // from the first meter header after the target
    Text_block plugin;    // "[PluginInfo]" and everything after it
    Layout_box box;
    std::uint32_t current_number = 0;
    std::uint32_t highest_number = 0;
    bool found = false;
    std::uint32_t target_number = 0;
    std::int32_t target_left = 0;
    std::int32_t target_top = 0;
    std::int32_t target_width = 0;
    std::int32_t target_height = 0;
};

// Scans `text` (the decoded file contents) for the meter whose line after its
// header is exactly "Name=" + `meter_name`. The blocks partition the lines of
// `text` in file order and refer into it, so `text` must outlive the results.
Scan_results scan_input(std::string_view text, std::string_view meter_name);

// Whether `line` is exactly "Name=" + `meter_name`.
bool is_name_line(std::string_view line, std::string_view meter_name);

// The lines of `block`, each followed by "\n": the block's stored form.
std::string block_text(std::string_view text, Text_block block);

}  // namespace quarvel
