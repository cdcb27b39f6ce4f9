#include "app/hints.h"

#include <algorithm>
#include <optional>

#include "generate/advance.h"
#include "generate/copies.h"
#include "generate/head_rewrite.h"
#include "layout/lines.h"
#include "layout/numbers.h"
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

// "A", "A and B", "A, B and C"; past three, "A, B, C and 2 more".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    const std::size_t named = std::min<std::size_t>(items.size(), 3);
    for (std::size_t i = 0; i < named; ++i) text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    if (items.size() > named) text += " and " + std::to_string(items.size() - named) + " more";
    return text;
}

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_folded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

// A name line like "Name=" and `meter_name` but for ASCII case and spaces
// ("Name=cpu1", "Name = CPU 1", "name=CPU1").
bool is_similar_name_line(std::string_view line, std::string_view meter_name) {
    const std::string wanted = "Name=" + std::string(meter_name);
    const auto space = [](std::string_view text, std::size_t at) {
        return at < text.size() && (text[at] == ' ' || text[at] == '\t');
    };
    for (std::size_t i = 0, j = 0;; ++i, ++j) {
        while (space(line, i)) ++i;
        while (space(wanted, j)) ++j;
        if (i == line.size() || j == wanted.size()) return i == line.size() && j == wanted.size();
        if (fold(line[i]) != fold(wanted[j])) return false;
    }
}

// A line that would be a meter header but for its case: "[meter 2]".
bool is_header_but_for_case(std::string_view line, const Lead_bytes* lead) {
    if (is_meter_header(line, lead)) return false;
    // Character by character: in a double-byte code page a '[' may be a second byte.
    for (std::size_t at = 0; at < line.size(); at += lead && (*lead)[static_cast<unsigned char>(line[at])] ? 2 : 1)
        if (equal_folded(line.substr(at, 6), "[Meter")) return true;
    return false;
}

// The line copy 1 writes for `line` of the meter.
std::string first_copy_of(std::string_view line, const Copy_settings& settings) {
    Scan_results one_line;
    one_line.target = {0, end_of_lines(line)};
    std::string copy;
    const Byte_sink sink = [&copy](std::string_view bytes) { return copy.append(bytes), true; };
    Tidy_writer writer = start_tidy_writer(sink);
    write_copy(writer, plan_copy_template(line, one_line, settings), 1);
    finish_tidy_writer(writer);
    return copy.substr(0, copy.find("\r\n"));
}

}  // namespace

Name_hint find_meter_hint(std::string_view text, std::string_view meter_name, const Lead_bytes* lead) {
    using Kind = Name_hint::Kind;
    std::string_view header;    // the last meter header
    std::string_view previous;  // the line before this one
    bool after_header = false;  // the next line is the one right after it
    bool nameless = false;      // that line named no meter: a later name line is looked for
    for (std::size_t pos = 0; pos < end_of_lines(text);) {
        const std::string_view line = next_line(text, pos);
        if (is_plugin_header(line)) break;
        const bool named = is_name_line(line, meter_name);
        if (named && is_header_but_for_case(previous, lead)) return {Kind::lower_case_header, previous, line};
        previous = line;
        if (is_meter_header(line, lead)) {
            header = line;
            after_header = true;
        } else if (after_header) {
            after_header = false;
            nameless = !begins_with(line, "Name=");
            if (is_similar_name_line(line, meter_name))
                return {nameless ? Kind::spelled_otherwise : Kind::similar, header, line};
            if (!nameless && begins_with(line.substr(5), std::string(meter_name) + " ")) return {Kind::unquoted, header, line};
        } else if (nameless && named) {
            return {Kind::late, header, line};
        }
    }
    return {};
}

std::string meter_hint_line(const std::string& input_path, const std::string& meter_name, const Name_hint& hint) {
    using Kind = Name_hint::Kind;
    if (hint.kind == Kind::none) return {};
    const std::string line = "quarvel: " + input_path + ": no meter is named \"" + meter_name + "\"; ";
    const std::string has = shown(hint.header) + " has the line \"" + shown(hint.name_line) + "\", but ";
    const std::string meant = "did you mean \"" + shown(hint.name_line.substr(5)) + "\" (" + shown(hint.header) + ")?";
    switch (hint.kind) {
    case Kind::similar: return line + meant;
    case Kind::unquoted: return line + meant + " A name with spaces needs quotes";
    case Kind::late: return line + has + "a name counts only on the line right after its header";
    case Kind::lower_case_header: return line + has + "only \"[Meter\" with a capital M starts a meter";
    case Kind::spelled_otherwise: return line + has + "a name counts only as \"Name=\" and the name";
    case Kind::none: break;
    }
    return {};
}

std::vector<std::string> run_warnings(std::string_view text, const Scan_results& results,
                                      const Run_settings& settings, const Copy_settings& spelled,
                                      const Lead_bytes* lead) {
    const Copy_settings& typed = settings.copy;
    const bool copies = typed.copies > 0;
    std::vector<std::string> warnings;
    const auto warn = [&warnings](const std::string& text) { warnings.push_back("quarvel: warning: " + text); };

    std::vector<std::string> longer;  // numbers read from a longer text
    const std::int32_t values[] = {typed.copies, typed.x_shift, typed.y_shift};
    for (int i = 0; i < 3; ++i)
        if (settings.number_args[i].find_first_not_of("0123456789") != std::string::npos)
            longer.push_back(std::string(i == 0 ? "copies" : i == 1 ? "xshift" : "yshift") + " \"" +
                             settings.number_args[i] + "\" is read as " + std::to_string(values[i]));
    if (!longer.empty()) warn(listed(longer));
    if (copies && typed.x_shift == 0 && typed.y_shift == 0) warn("both shifts are 0: the copies lie on the meter");

    // One pass over the meter's own lines.
    std::optional<std::int32_t> right, bottom;
    std::string_view many_digits, lower_case_header;
    const std::size_t keys = typed.parameter_keys.size();
    std::vector<std::string> prefixes, ansi_prefixes;  // the layout may spell a key in the ANSI code page (Windows)
    for (const std::string& key : typed.parameter_keys) {
        prefixes.push_back(key + "=");
        const std::string ansi = ansi_code_page_form(key);
        ansi_prefixes.push_back(ansi.empty() ? prefixes.back() : ansi + "=");
    }
    std::vector<bool> begins(keys);
    std::vector<std::string_view> folded(keys);  // the key as a line spells it, case aside
    for (std::size_t pos = results.target.begin, first = pos; pos < results.target.end;) {
        const std::size_t start = pos;
        const std::string_view line = next_line(text, pos);
        if (begins_with(line, "Right=") && scan_int(line.substr(6))) right = scan_int(line.substr(6));
        if (begins_with(line, "Bottom=") && scan_int(line.substr(7))) bottom = scan_int(line.substr(7));
        if (lower_case_header.empty() && start != first && is_header_but_for_case(line, lead)) lower_case_header = line;
        const std::string_view key = line.substr(0, line.find('='));
        for (std::size_t i = 0; i < keys; ++i) {
            begins[i] = begins[i] || begins_with(line, prefixes[i]) || begins_with(line, ansi_prefixes[i]);
            if (folded[i].empty() && key.size() < line.size() && equal_folded(key, typed.parameter_keys[i])) folded[i] = key;
        }
        for (const std::string& spelled_key : spelled.parameter_keys) {
            std::string_view value = begins_with(line, spelled_key + "=") && !position_key_of(spelled_key + "=")
                                         ? line.substr(spelled_key.size() + 1) : "";
            // A lone digit followed by a digit: the value pattern takes each digit on its own.
            for (std::size_t begin = 0, end = 0; many_digits.empty() && find_value_number(value, begin, end);
                 value.remove_prefix(end))
                if (end - begin == 1 && end < value.size() && is_digit(value[end])) many_digits = line;
        }
    }
    for (std::size_t i = 0; i < keys; ++i) {
        const std::string& prefix = prefixes[i];
        const Position_key* position = position_key_of(prefix);
        if (position != nullptr && position->text == prefix) {
            const bool across = position->edge == Edge::left || position->edge == Edge::right;
            warn("\"" + prefix + "\" is a position key: the " + (across ? "x" : "y") +
                 " shift moves it, and it is not advanced as a parameter");
        } else if (!begins[i]) {
            std::string line = "no line of meter " + typed.meter_name + " begins with \"" + prefix + "\"; nothing is advanced for it";
            if (prefix.size() > 2 && prefix[prefix.size() - 2] == '=')
                line += "; give the key without \"=\": " + prefix.substr(0, prefix.find('='));
            else if (!folded[i].empty())
                line += "; did you mean \"" + std::string(folded[i]) + "\"?";
            warn(line);
        }
    }
    if (copies && !many_digits.empty())
        warn("\"" + shown(many_digits) + "\" holds a number of more than one digit; each digit advances on its own (copy 1: " +
             shown(first_copy_of(many_digits, spelled)) + ")");
    if (copies && !lower_case_header.empty())
        warn("the line \"" + shown(lower_case_header) + "\" inside meter " + typed.meter_name +
             " is not a meter header (headers are case-sensitive): it was copied with the meter");

    // The copies' names: every name line right after a header is looked at (a
    // pass of its own). A name whose number does not fit is not renamed.
    const Prefixed_number name = scan_prefixed_number(spelled.meter_name);
    const bool renamed = name.number || name.prefix.size() == spelled.meter_name.size();
    const std::string named = "Name=" + std::string(name.prefix);
    std::vector<std::string> used;
    for (std::size_t at = copies && renamed ? text.find(named) : std::string_view::npos;
         at != std::string_view::npos && at < results.plugin.begin; at = text.find(named, at + 1)) {
        std::size_t pos = at;
        const std::string_view line = next_line(text, pos);
        const Prefixed_number other = scan_prefixed_number(line.substr(5));
        const std::int64_t k = std::int64_t{other.number.value_or(0)} - name.number.value_or(0);
        if (at < 2 || text[at - 1] != '\n' || !other.number || other.rest != name.rest || k < 1 || k > typed.copies)
            continue;
        std::size_t start = text.rfind('\n', at - 2) + 1;  // 0 when there is no line feed before
        const std::string_view header = next_line(text, start);
        if (is_meter_header(header, lead)) used.push_back(shown(line.substr(5)) + " (" + shown(header) + ")");
    }
    if (used.size() == 1) warn("the copy's name " + used[0] + " is already used by another meter; was this meter copied before?");
    if (used.size() > 1) warn("the copies' names " + listed(used) + " are already used by other meters; was this meter copied before?");

    // The sizes the head rewrite set, and what the copies reach.
    const Head_sizes sizes = head_sizes(results, typed);
    std::vector<std::string> reach;
    for (const bool across : {true, false}) {
        const std::string kind = across ? "Width" : "Height";
        const std::int32_t size = across ? sizes.width : sizes.height;
        std::vector<std::string> own;
        bool resized = false;
        for (const Sized_line& sized : results.sized) {
            if (!begins_with(sized.line, kind + "=")) continue;
            resized = true;
            if (!sized.header.empty() && scan_int(sized.line.substr(kind.size() + 1)) != size)
                own.push_back(shown(sized.header) + " had its own " + shown(sized.line));
        }
        if (!own.empty())
            warn(listed(own) + "; like every " + kind + "= line before meter " + typed.meter_name + ", " +
                 (own.size() == 1 ? "it is" : "they are") + " now " + std::to_string(size));
        const std::optional<std::int32_t> edge = across ? right : bottom;
        const std::int32_t last = edge ? wrap_add(*edge, wrap_mul(typed.copies, across ? typed.x_shift : typed.y_shift)) : 0;
        if (copies && resized && edge && last > size)
            reach.push_back("the last copy reaches " + std::string(across ? "Right=" : "Bottom=") + std::to_string(last) +
                            ", beyond " + kind + "=" + std::to_string(size) + " (" + kind +
                            " is the larger of the meters' extent and copies x " + (across ? "x" : "y") + "shift + the meter's " +
                            (across ? "width" : "height") + "); the meter application may cut it off");
    }
    for (const std::string& line : reach) warn(line);
    return warnings;
}

}  // namespace quarvel
