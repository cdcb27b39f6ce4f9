#include "config/scan.h"

#include <algorithm>
#include <optional>

#include "config/line_rules.h"

namespace quarvel {
namespace {

enum class Scan_state { before_target, pending, in_target, after_target, plugin };

// The integer of a position line: `key_size` is the length of its key and
// "=", which holds the line's first "=", so this is scan_key_int without the
// search for it.
std::optional<std::int32_t> position_value(std::string_view line, std::size_t key_size) {
    return scan_int(line.substr(key_size));
}

void measure_layout(Layout_box& box, std::string_view line) {
    // Only lines that begin with a position key reach the integer scan.
    if (line.empty()) return;
    const char c = line[0];
    if (c != 'L' && c != 'R' && c != 'T' && c != 'B') return;
    if (begins_with(line, "Left=")) {
        if (auto v = position_value(line, 5)) box.min_left = std::min(box.min_left, *v);
    } else if (begins_with(line, "Right=")) {
        if (auto v = position_value(line, 6)) box.max_right = std::max(box.max_right, *v);
    } else if (begins_with(line, "Top=")) {
        if (auto v = position_value(line, 4)) box.min_top = std::min(box.min_top, *v);
    } else if (begins_with(line, "Bottom=")) {
        if (auto v = position_value(line, 7)) box.max_bottom = std::max(box.max_bottom, *v);
    }
}

void measure_target(Scan_results& r, std::string_view line) {
    if (begins_with(line, "Left=")) {
        if (auto v = position_value(line, 5)) r.target_left = *v;
    } else if (begins_with(line, "Right=")) {
        if (auto v = position_value(line, 6)) r.target_width = wrap_sub(*v, r.target_left);
    } else if (begins_with(line, "Top=")) {
        if (auto v = position_value(line, 4)) r.target_top = *v;
    } else if (begins_with(line, "Bottom=")) {
        if (auto v = position_value(line, 7)) r.target_height = wrap_sub(*v, r.target_top);
    }
}

}  // namespace

bool is_name_line(std::string_view line, std::string_view meter_name) {
    return line.size() == 5 + meter_name.size() && begins_with(line, "Name=") &&
           line.substr(5) == meter_name;
}

Scan_results scan_input(std::string_view text, std::string_view meter_name) {
    Scan_results r;
    Scan_state state = Scan_state::before_target;
    // Blocks are contiguous runs of lines, so each is known by where it starts:
    // the head starts at 0, the pending/target block at its header, and so on.
    std::size_t pending_start = 0;
    std::size_t trailing_start = 0;
    std::size_t plugin_start = 0;
    bool have_trailing = false;
    bool have_plugin = false;

    std::size_t pos = 0;
    const std::size_t end = end_of_lines(text);
    while (pos < end) {
        const std::size_t line_start = pos;
        const std::string_view line = next_line(text, pos);
        measure_layout(r.box, line);

        if (equals(line, "[PluginInfo]")) {
            // A pending header whose name was never tested stays with the head.
            state = Scan_state::plugin;
            plugin_start = line_start;
            have_plugin = true;
            break;
        }
        if (contains(line, "[Meter")) {
            const std::optional<std::int32_t> number = scan_meter_number(line);
            if (state == Scan_state::before_target) {
                state = Scan_state::pending;
                pending_start = line_start;
            } else if (state == Scan_state::pending && number) {
                // Header after header: the later one, which carries a number,
                // is the one whose name line comes next.
                pending_start = line_start;
            } else if (state == Scan_state::in_target) {
                state = Scan_state::after_target;
                trailing_start = line_start;
                have_trailing = true;
            }
            if (number) r.current_number = static_cast<std::uint32_t>(*number);
            r.highest_number = std::max(r.highest_number, r.current_number);
            continue;
        }
        if (state == Scan_state::pending) {
            if (is_name_line(line, meter_name)) {
                r.found = true;
                r.target_number = r.current_number;
                state = Scan_state::in_target;
            } else {
                state = Scan_state::before_target;
            }
        } else if (state == Scan_state::in_target) {
            measure_target(r, line);
        }
    }

    // Lines after "[PluginInfo]" only feed the layout box and the numbers.
    while (pos < end) {
        const std::string_view line = next_line(text, pos);
        measure_layout(r.box, line);
        if (contains(line, "[Meter")) {
            if (auto number = scan_meter_number(line)) r.current_number = static_cast<std::uint32_t>(*number);
            r.highest_number = std::max(r.highest_number, r.current_number);
        }
    }

    const std::size_t after_all = end;
    const std::size_t plugin_begin = have_plugin ? plugin_start : after_all;
    if (r.found) {
        const std::size_t target_end = have_trailing ? trailing_start : plugin_begin;
        r.head = {0, pending_start};
        r.target = {pending_start, target_end};
        r.trailing = {target_end, plugin_begin};
    } else {
        r.head = {0, plugin_begin};
        r.target = {plugin_begin, plugin_begin};
        r.trailing = {plugin_begin, plugin_begin};
    }
    r.plugin = {plugin_begin, after_all};
    return r;
}

std::string block_text(std::string_view text, Text_block block) {
    std::string out;
    std::size_t pos = block.begin;
    while (pos < block.end) {
        out += next_line(text, pos);
        out += '\n';
    }
    return out;
}

}  // namespace quarvel
