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

// A name line whose name differs from `meter_name` only in ASCII case or in
// spaces (a user who typed "cpu1" for "CPU1").
bool is_similar_name_line(std::string_view line, std::string_view meter_name) {
    if (!begins_with(line, "Name=")) return false;
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto space = [](std::string_view text, std::size_t at) {
        return at < text.size() && (text[at] == ' ' || text[at] == '\t');
    };
    for (std::size_t i = 5, j = 0;; ++i, ++j) {
        while (space(line, i)) ++i;
        while (space(meter_name, j)) ++j;
        if (i == line.size() || j == meter_name.size()) return i == line.size() && j == meter_name.size();
        if (fold(line[i]) != fold(meter_name[j])) return false;
    }
}

bool begins_a_line(std::string_view text, Text_block block, const std::string& prefix) {
    for (std::size_t pos = block.begin; pos < block.end;) {
        if (begins_with(next_line(text, pos), prefix)) return true;
    }
    return false;
}

}  // namespace

Name_hint find_meter_hint(std::string_view text, std::string_view meter_name, const Lead_bytes* lead) {
    std::string_view header;    // the last meter header
    bool after_header = false;  // the next line is the one right after it
    bool nameless = false;      // that line named no meter: a later name line is looked for
    for (std::size_t pos = 0; pos < end_of_lines(text);) {
        const std::string_view line = next_line(text, pos);
        if (is_plugin_header(line)) break;
        if (is_meter_header(line, lead)) {
            header = line;
            after_header = true;
        } else if (after_header) {
            after_header = false;
            nameless = !begins_with(line, "Name=");
            if (is_similar_name_line(line, meter_name)) return {header, line, false};
        } else if (nameless && is_name_line(line, meter_name)) {
            return {header, line, true};
        }
    }
    return {};
}

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

std::vector<std::string> key_warnings(std::string_view text, const Scan_results& results, const Copy_settings& typed) {
    std::vector<std::string> warnings;
    for (const std::string& key : typed.parameter_keys) {
        const std::string prefix = key + "=";
        const Position_key* position = position_key_of(prefix);
        // The layout may spell the key in the ANSI code page (Windows).
        const std::string ansi = ansi_code_page_form(key);
        if (position != nullptr && position->text == prefix) {
            const bool across = position->edge == Edge::left || position->edge == Edge::right;
            warnings.push_back("quarvel: warning: \"" + prefix + "\" is a position key: the " + (across ? "x" : "y") +
                               " shift moves it, and it is not advanced as a parameter\n");
        } else if (!begins_a_line(text, results.target, prefix) &&
                   (ansi.empty() || !begins_a_line(text, results.target, ansi + "="))) {
            warnings.push_back("quarvel: warning: no line of meter " + typed.meter_name + " begins with \"" + prefix +
                               "\"; nothing is advanced for it\n");
        }
    }
    return warnings;
}

}  // namespace quarvel
