#include "app/hints.h"

#include "layout/lines.h"
#include "platform/console.h"

namespace quarvel {
namespace {

// A line of the layout as a hint shows it: a long one cut at a character boundary.
std::string shown(std::string_view line) {
    constexpr std::size_t limit = 60;
    if (line.size() <= limit) return std::string(line);
    std::size_t keep = limit;
    while (keep > 0 && (static_cast<unsigned char>(line[keep]) & 0xC0) == 0x80) --keep;
    return std::string(line.substr(0, keep)) + "...";
}

bool begins_a_line(std::string_view text, Text_block block, const std::string& prefix) {
    for (std::size_t pos = block.begin; pos < block.end;) {
        if (begins_with(next_line(text, pos), prefix)) return true;
    }
    return false;
}

}  // namespace

void report_meter_hint(std::ostream& errors, const std::string& input_path, const std::string& meter_name,
                       const Name_hint& hint) {
    if (hint.header.empty()) return;
    errors << "quarvel: " << input_path << ": no meter is named \"" << meter_name << "\"; ";
    if (hint.late) {
        errors << shown(hint.header) << " has the line \"" << shown(hint.name_line)
               << "\", but a name counts only on the line right after its header\n";
    } else {
        errors << "did you mean \"" << shown(hint.name_line.substr(5)) << "\" (" << shown(hint.header) << ")?\n";
    }
    errors.flush();
}

void report_key_warnings(std::ostream& errors, std::string_view text, const Scan_results& results,
                         const Copy_settings& typed) {
    for (const std::string& key : typed.parameter_keys) {
        const std::string prefix = key + "=";
        const Position_key* position = position_key_of(prefix);
        // The layout may spell the key in the ANSI code page (Windows).
        const std::string ansi = ansi_code_page_form(key);
        if (position != nullptr && position->text == prefix) {
            const bool across = position->edge == Edge::left || position->edge == Edge::right;
            errors << "quarvel: warning: \"" << prefix << "\" is a position key: the " << (across ? "x" : "y")
                   << " shift moves it, and it is not advanced as a parameter\n";
        } else if (!begins_a_line(text, results.target, prefix) &&
                   (ansi.empty() || !begins_a_line(text, results.target, ansi + "="))) {
            errors << "quarvel: warning: no line of meter " << typed.meter_name << " begins with \"" << prefix
                   << "\"; nothing is advanced for it\n";
        }
    }
    errors.flush();
}

}  // namespace quarvel
