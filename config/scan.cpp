#include "config/scan.h"

#include <algorithm>
#include <optional>

#include "config/lines.h"
#include "config/numbers.h"

namespace quarvel {
namespace {

enum class Scan_state { before_target, pending, in_target, after_target, plugin };

void measure_layout(Layout_box& box, Edge edge, std::int32_t value) {
    switch (edge) {
    case Edge::left: box.min_left = std::min(box.min_left, value); break;
    case Edge::right: box.max_right = std::max(box.max_right, value); break;
    case Edge::top: box.min_top = std::min(box.min_top, value); break;
    case Edge::bottom: box.max_bottom = std::max(box.max_bottom, value); break;
    }
}

// A target without Left (Top) is measured from 0; Right before Left is
// measured from the Left seen so far.
void measure_target(Target_box& box, Edge edge, std::int32_t value) {
    switch (edge) {
    case Edge::left: box.left = value; break;
    case Edge::right: box.width = wrap_sub(value, box.left); break;
    case Edge::top: box.top = value; break;
    case Edge::bottom: box.height = wrap_sub(value, box.top); break;
    }
}

bool is_name_line(std::string_view line, std::string_view meter_name) {
    return line.size() == 5 + meter_name.size() && begins_with(line, "Name=") && line.substr(5) == meter_name;
}

bool is_size_line(std::string_view line) {
    return !line.empty() && (line[0] == 'W' || line[0] == 'H') &&
           (begins_with(line, "Width=") || begins_with(line, "Height="));
}

// Adds the line [line_start, pos) to the unfinished runs, joining it to the
// run before when they touch.
void mark_unfinished(std::vector<Text_block>& runs, std::size_t line_start, std::size_t pos) {
    if (!runs.empty() && runs.back().end == line_start) {
        runs.back().end = pos;
    } else {
        runs.push_back({line_start, pos});
    }
}

}  // namespace

Scan_results scan_input(std::string_view text, std::string_view meter_name) {
    Scan_results r;
    Scan_state state = Scan_state::before_target;
    std::uint32_t current_number = 0;
    // Blocks are contiguous runs of lines, so each is known by where it starts:
    // the head starts at 0, the pending/target block at its header, and so on.
    std::size_t pending_start = 0;
    std::size_t trailing_start = 0;
    std::size_t plugin_start = 0;
    bool have_trailing = false;
    // At the top of the file an empty line is as unfinished as after another.
    bool previous_empty = true;

    std::size_t pos = 0;
    const std::size_t end = end_of_lines(text);
    while (pos < end) {
        const std::size_t line_start = pos;
        const std::string_view line = next_line(text, pos);
        const bool ends_crlf = pos - line_start == line.size() + 2;
        if (!ends_crlf || (line.empty() && previous_empty) || (!r.found && is_size_line(line)))
            mark_unfinished(r.unfinished, line_start, pos);
        previous_empty = line.empty();

        const Position_key* key = position_key_of(line);
        std::optional<std::int32_t> value;
        if (key != nullptr) value = scan_int(line.substr(key->text.size()));
        if (value) measure_layout(r.box, key->edge, *value);

        if (state != Scan_state::plugin && equals(line, "[PluginInfo]")) {
            // A pending header whose name was never tested stays with the head.
            state = Scan_state::plugin;
            plugin_start = line_start;
            continue;
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
            if (number) current_number = static_cast<std::uint32_t>(*number);
            r.highest_number = std::max(r.highest_number, current_number);
            continue;
        }
        if (state == Scan_state::pending) {
            if (is_name_line(line, meter_name)) {
                r.found = true;
                r.target_number = current_number;
                state = Scan_state::in_target;
            } else {
                state = Scan_state::before_target;
            }
        } else if (state == Scan_state::in_target && value) {
            measure_target(r.target_box, key->edge, *value);
        }
    }

    const std::size_t plugin_begin = state == Scan_state::plugin ? plugin_start : end;
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
    r.plugin = {plugin_begin, end};
    return r;
}

}  // namespace quarvel
