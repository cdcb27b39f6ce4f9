#include "layout/scan.h"

#include <algorithm>
#include <optional>

#include "layout/lines.h"
#include "layout/numbers.h"

namespace quarvel {
namespace {

// A header right after a header whose name was not yet tested takes its place
// when it carries a number: the name line that follows is then its own.
bool takes_over_pending(const std::optional<std::int32_t>& number) { return number.has_value(); }

// The general settings' size keys, rewritten in the head.
bool is_size_line(std::string_view line) {
    return !line.empty() && (line[0] == 'W' || line[0] == 'H') &&
           (begins_with(line, "Width=") || begins_with(line, "Height="));
}

enum class Scan_state { before_target, pending, in_target, after_target, plugin };

// What the scan keeps from line to line.
struct Scan {
    Scan_results r;
    std::string_view meter_name;
    const Lead_bytes* lead = nullptr;
    Scan_state state = Scan_state::before_target;
    std::uint32_t current_number = 0;  // a header without a number keeps the one before
    std::string_view header;           // the last meter header
    // Blocks are contiguous runs of lines, each known by where it starts.
    std::size_t pending_start = 0;
    std::size_t trailing_start = 0;
    std::size_t plugin_start = 0;
    bool have_trailing = false;
    bool previous_empty = true;  // at the top an empty line is as unfinished as after another
};

// Job 1: the lines the writer must rebuild rather than copy as they stand: a
// line end other than CR LF, an empty line after an empty line (or at the
// top), a "Width=" or "Height=" line before the target. Touching runs join.
void note_unfinished(Scan& s, std::string_view line, std::size_t start, std::size_t end) {
    const bool ends_crlf = end - start == line.size() + 2;
    const bool sized = !s.r.found && is_size_line(line);
    if (sized) s.r.sized.push_back({s.header, line});
    if (!ends_crlf || (line.empty() && s.previous_empty) || sized) {
        std::vector<Text_block>& runs = s.r.unfinished;
        if (!runs.empty() && runs.back().end == start) runs.back().end = end;
        else runs.push_back({start, end});
    }
    s.previous_empty = line.empty();
}

// Job 2: which block the line goes to. Both headers hold a '['; a line
// without one can only be the name line of a pending header.
void track_section(Scan& s, std::string_view line, std::size_t start, bool has_bracket) {
    if (has_bracket && s.state != Scan_state::plugin && is_plugin_header(line)) {
        // A pending header whose name was never tested stays with the head.
        s.state = Scan_state::plugin;
        s.plugin_start = start;
        return;
    }
    if (has_bracket && is_meter_header(line, s.lead)) {
        const std::optional<std::int32_t> number = scan_meter_number(line);
        if (s.state == Scan_state::before_target || (s.state == Scan_state::pending && takes_over_pending(number))) {
            s.state = Scan_state::pending;
            s.pending_start = start;
        } else if (s.state == Scan_state::in_target) {
            s.state = Scan_state::after_target;
            s.trailing_start = start;
            s.have_trailing = true;
        }
        s.header = line;
        if (number) s.current_number = static_cast<std::uint32_t>(*number);
        s.r.highest_number = std::max(s.r.highest_number, s.current_number);
        return;
    }
    if (s.state != Scan_state::pending) return;
    s.r.found = is_name_line(line, s.meter_name);
    if (s.r.found) s.r.target_number = s.current_number;
    s.state = s.r.found ? Scan_state::in_target : Scan_state::before_target;
}

// Job 3: the layout box from every line's position key, and the target's own
// box from those of its section (no header ever leaves the scan inside it). A
// target without Left (Top) is measured from 0; Right before Left is measured
// from the Left seen so far.
void measure(Scan& s, std::string_view line) {
    const Position_key* key = position_key_of(line);
    const std::optional<std::int32_t> value = key ? scan_int(line.substr(key->text.size())) : std::nullopt;
    if (!value) return;
    Layout_box& box = s.r.box;
    switch (key->edge) {
    case Edge::left: box.min_left = std::min(box.min_left, *value); break;
    case Edge::right: box.max_right = std::max(box.max_right, *value); break;
    case Edge::top: box.min_top = std::min(box.min_top, *value); break;
    case Edge::bottom: box.max_bottom = std::max(box.max_bottom, *value); break;
    }
    if (s.state != Scan_state::in_target) return;
    Target_box& target = s.r.target_box;
    switch (key->edge) {
    case Edge::left: target.left = *value; break;
    case Edge::right: target.width = wrap_sub(*value, target.left); break;
    case Edge::top: target.top = *value; break;
    case Edge::bottom: target.height = wrap_sub(*value, target.top); break;
    }
}

// Where the next '[' at or after `from` is, or the end of the text.
std::size_t next_bracket(std::string_view text, std::size_t from) {
    const std::size_t at = text.find('[', std::min(from, text.size()));
    return at == std::string_view::npos ? text.size() : at;
}

// The blocks, from where each begins.
void cut_blocks(Scan& s, std::size_t end) {
    Scan_results& r = s.r;
    const std::size_t plugin_begin = s.state == Scan_state::plugin ? s.plugin_start : end;
    const std::size_t target_end = s.have_trailing ? s.trailing_start : plugin_begin;
    r.head = {0, r.found ? s.pending_start : plugin_begin};
    r.target = r.found ? Text_block{s.pending_start, target_end} : Text_block{plugin_begin, plugin_begin};
    r.trailing = r.found ? Text_block{target_end, plugin_begin} : Text_block{plugin_begin, plugin_begin};
    r.plugin = {plugin_begin, end};
}

}  // namespace

Scan_results scan_input(std::string_view text, std::string_view meter_name, const Lead_bytes* lead) {
    Scan s;
    s.meter_name = meter_name;
    s.lead = lead;
    const std::size_t end = end_of_lines(text);
    // Most lines hold no '[': one search through the text finds the next one,
    // instead of a search of every line. Plainly: contains(line, "[").
    std::size_t bracket = next_bracket(text, 0);
    for (std::size_t pos = 0; pos < end;) {
        const std::size_t start = pos;
        const std::string_view line = next_line(text, pos);
        const bool has_bracket = bracket < start + line.size();
        if (has_bracket) bracket = next_bracket(text, pos);
        note_unfinished(s, line, start, pos);
        track_section(s, line, start, has_bracket);
        measure(s, line);
    }
    cut_blocks(s, end);
    return s.r;
}

}  // namespace quarvel
