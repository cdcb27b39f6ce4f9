// The input scan: one pass over the layout that cuts it into four blocks
// around the target meter, measures the layout and notes which lines are not
// yet in their written form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "layout/lines.h"

namespace quarvel {

// The bytes that start a two-byte character in a layout's code page (Shift-JIS,
// GBK, Big5, Korean): a '[' that is such a character's second byte starts nothing.
using Lead_bytes = std::array<bool, 256>;

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

// Where the target sits and how large it is, from its own section only.
struct Target_box {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// A "Width=" or "Height=" line before the target, under its meter's header (none in the general settings).
struct Sized_line {
    std::string_view header;
    std::string_view line;
};

struct Scan_results {
    Text_block head;      // general settings and every meter before the target
    Text_block target;    // the target's section, from its header on
    Text_block trailing;  // from the first meter header after the target
    Text_block plugin;    // "[PluginInfo]" and everything after it
    // Runs of lines that cannot go out as they stand, in file order: a line
    // end other than CR LF, an empty line after an empty line or at the very
    // top, a "Width=" or "Height=" line before the target. Every other line
    // is already in its written form.
    std::vector<Text_block> unfinished;
    std::vector<Sized_line> sized;  // every line the head rewrite resizes
    Layout_box box;
    Target_box target_box;
    std::uint32_t highest_number = 0;
    bool found = false;
    std::uint32_t target_number = 0;
};

// Scans `text` (the decoded file contents) for the meter whose line after its
// header is exactly "Name=" + `meter_name`, reading it in a double-byte code
// page where `lead` is given. The blocks partition the lines of `text` in file
// order and refer into it, so `text` must outlive the results. `text` is only
// read, and nothing is read past its end.
Scan_results scan_input(std::string_view text, std::string_view meter_name, const Lead_bytes* lead = nullptr);

// The format's quirks, as the meter application has them.

// A meter header is any line that holds "[Meter" anywhere: "[MeterStyle]" and
// a value such as "Text=[Meter" count too. Plainly: contains(line, "[Meter").
inline bool is_meter_header(std::string_view line, const Lead_bytes* lead = nullptr) {
    for (std::size_t at = line.find("[Meter"); at != std::string_view::npos; at = line.find("[Meter", at + 1)) {
        std::size_t i = 0;  // where the character at or before `at` starts
        while (lead != nullptr && i < at) i += (*lead)[static_cast<unsigned char>(line[i])] ? 2 : 1;
        if (i == at || lead == nullptr) return true;
    }
    return false;
}

// The plugin part begins at the line that is exactly "[PluginInfo]".
inline bool is_plugin_header(std::string_view line) { return equals(line, "[PluginInfo]"); }

// A meter's name is looked for only on the line right after its header.
inline bool is_name_line(std::string_view line, std::string_view meter_name) {
    return line.size() == 5 + meter_name.size() && begins_with(line, "Name=") && line.substr(5) == meter_name;
}

// The position keys, each with the edge of a box it gives.
enum class Edge { left, right, top, bottom };
struct Position_key {
    std::string_view text;  // the key and "="
    Edge edge;
};
inline constexpr Position_key position_keys[] = {
    {"Left=", Edge::left}, {"Right=", Edge::right}, {"Top=", Edge::top}, {"Bottom=", Edge::bottom}};

// The position key that `line` begins with, or null.
inline const Position_key* position_key_of(std::string_view line) {
    if (line.empty()) return nullptr;
    const char c = line[0];
    if (c != 'L' && c != 'R' && c != 'T' && c != 'B') return nullptr;  // most lines stop here
    for (const Position_key& key : position_keys) {
        if (line.substr(0, key.text.size()) == key.text) return &key;
    }
    return nullptr;
}

}  // namespace quarvel
