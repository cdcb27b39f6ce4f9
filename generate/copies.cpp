#include "generate/copies.h"

#include <charconv>

#include "config/line_rules.h"
#include "generate/advance.h"

namespace quarvel {
namespace {

void append_int(std::string& out, std::int32_t value) {
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// Replaces the first run of digits with the new meter number.
void renumber_companion(std::string_view line, std::int32_t number, std::string& out) {
    std::size_t begin = 0;
    while (begin < line.size() && !is_digit(line[begin])) ++begin;
    if (begin == line.size()) {
        out.append(line);
        return;
    }
    std::size_t end = begin;
    while (end < line.size() && is_digit(line[end])) ++end;
    out.append(line.substr(0, begin));
    append_int(out, number);
    out.append(line.substr(end));
}

void rewrite_name(std::string_view line, std::int32_t k, std::string& out) {
    const std::size_t eq = line.find('=');
    const std::string_view value = line.substr(eq + 1);
    const Prefixed_number parts = scan_prefixed_number(value);
    const bool has_digit = parts.prefix.size() < value.size();
    if (has_digit && !parts.number) {
        out.append(line);  // a number that does not fit is left alone
        return;
    }
    out.append(line.substr(0, eq + 1));
    out.append(parts.prefix);
    append_int(out, wrap_add(parts.number.value_or(0), k));
    out.append(parts.rest);
}

void rewrite_position(std::string_view line, std::int32_t offset, std::string& out) {
    const std::size_t eq = line.find('=');
    const std::optional<std::int32_t> value = scan_int(line.substr(eq + 1));
    if (!value) {
        out.append(line);
        return;
    }
    out.append(line.substr(0, eq + 1));
    append_int(out, wrap_add(*value, offset));
}

}  // namespace

Copy_rules make_copy_rules(const Run_settings& settings, std::uint32_t target_number) {
    Copy_rules rules;
    const std::string number = std::to_string(target_number);
    rules.target_headers[0] = "[Meter " + number + "]";
    rules.target_headers[1] = "[Source " + number + "]";
    rules.target_headers[2] = "[Output " + number + "]";
    rules.target_headers[3] = "[InputController " + number + "]";
    rules.name_line = "Name=" + settings.meter_name;
    for (const std::string& key : settings.parameter_keys) rules.parameter_prefixes.push_back(key + "=");
    return rules;
}

void rewrite_copy_line(std::string_view line, const Copy_rules& rules, const Copy_step& step,
                       std::string& out) {
    for (const std::string& header : rules.target_headers) {
        if (line == header) {
            out.append(line.substr(0, line.find_first_of("0123456789")));
            append_int(out, step.new_number);
            out.append("]\n");
            return;
        }
    }
    if (begins_with(line, "[Output") || begins_with(line, "[InputController")) {
        renumber_companion(line, step.new_number, out);
    } else if (line == rules.name_line) {
        rewrite_name(line, step.k, out);
    } else if (begins_with(line, "Left=") || begins_with(line, "Right=")) {
        rewrite_position(line, step.x_offset, out);
    } else if (begins_with(line, "Top=") || begins_with(line, "Bottom=")) {
        rewrite_position(line, step.y_offset, out);
    } else {
        bool matched = false;
        for (const std::string& prefix : rules.parameter_prefixes) {
            if (!begins_with(line, prefix)) continue;
            advance_parameter_line(line, step.k, out);
            out += '\n';
            matched = true;
        }
        if (matched) return;
        out.append(line);
    }
    out += '\n';
}

void write_copies(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Run_settings& settings) {
    if (settings.copies <= 0) return;
    const Copy_rules rules = make_copy_rules(settings, results.target_number);
    Copy_step step;
    std::string lines;
    for (std::int64_t k = 1; k <= settings.copies; ++k) {
        step.k = static_cast<std::int32_t>(k);
        step.x_offset = wrap_add(step.x_offset, settings.x_shift);
        step.y_offset = wrap_add(step.y_offset, settings.y_shift);
        step.new_number = static_cast<std::int32_t>(results.highest_number + static_cast<std::uint32_t>(step.k));
        Blank_filter filter = collapse_and_trim();
        std::size_t pos = results.target.begin;
        while (pos < results.target.end) {
            const std::string_view line = next_line(text, pos);
            if (!keep_line(filter, line)) continue;
            lines.clear();
            rewrite_copy_line(line, rules, step, lines);
            // Each rewritten line ends with "\n"; hand them to the tidy pass one by one.
            std::size_t start = 0;
            while (start < lines.size()) {
                const std::size_t nl = lines.find('\n', start);
                write_line(writer, std::string_view(lines).substr(start, nl - start));
                start = nl + 1;
            }
        }
    }
}

}  // namespace quarvel
