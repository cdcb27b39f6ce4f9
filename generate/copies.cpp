#include "generate/copies.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "config/line_rules.h"
#include "generate/advance.h"

namespace quarvel {
namespace {

void set_number(Number_text& text, std::int32_t value) {
    text.size = static_cast<std::size_t>(std::to_chars(text.bytes, text.bytes + sizeof text.bytes, value).ptr - text.bytes);
}

void set_number(Number_text& text, float value) {
    text.size = static_cast<std::size_t>(put_float(text.bytes, value) - text.bytes);
}

// Copies `text` to `out`: most pieces are a few bytes, too few for a call.
char* put(char* out, std::string_view text) {
    if (text.size() > 16) {
        std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    for (const char c : text) *out++ = c;
    return out;
}

// Copies a number's text: a fixed eight bytes when that covers it, which
// needs no loop; the room for each number in the line buffer allows it.
char* put(char* out, const Number_text& text) {
    if (text.size > 8) return put(out, text.view());
    std::memcpy(out, text.bytes, 8);
    return out + text.size;
}

char* put_int(char* out, std::int32_t value) { return std::to_chars(out, out + 16, value).ptr; }

// A line whose number is replaced: `line` up to `cut`, the number, and the
// line from `resume` on (empty when `resume` is past its end).
Copy_line replaced_number(Copy_rule rule, std::string_view line, std::size_t cut, std::size_t resume,
                          std::int32_t value = 0) {
    Copy_line plan;
    plan.rule = rule;
    plan.line = line;
    plan.cut = cut;
    plan.resume = resume;
    plan.value = value;
    return plan;
}

Copy_line verbatim(std::string_view line) {
    Copy_line plan;
    plan.line = line;
    return plan;
}

// Replaces the first run of digits with the new meter number.
Copy_line plan_companion(std::string_view line) {
    std::size_t begin = 0;
    while (begin < line.size() && !is_digit(line[begin])) ++begin;
    if (begin == line.size()) return verbatim(line);
    std::size_t end = begin;
    while (end < line.size() && is_digit(line[end])) ++end;
    return replaced_number(Copy_rule::meter_number, line, begin, end);
}

Copy_line plan_name(std::string_view line) {
    const std::size_t eq = line.find('=');
    const std::string_view value = line.substr(eq + 1);
    const Prefixed_number parts = scan_prefixed_number(value);
    const bool has_digit = parts.prefix.size() < value.size();
    if (has_digit && !parts.number) return verbatim(line);  // a number that does not fit is left alone
    const std::size_t cut = eq + 1 + parts.prefix.size();
    return replaced_number(Copy_rule::name, line, cut, line.size() - parts.rest.size(),
                           parts.number.value_or(0));
}

// The text after the number is dropped: the key, "=" and the moved value.
Copy_line plan_position(std::string_view line, Copy_rule rule) {
    const std::size_t eq = line.find('=');
    const std::optional<std::int32_t> value = scan_int(line.substr(eq + 1));
    if (!value) return verbatim(line);
    return replaced_number(rule, line, eq + 1, line.size(), *value);
}

Copy_line plan_parameter(std::string_view line, std::size_t repeat) {
    Copy_line plan;
    plan.rule = Copy_rule::parameter;
    plan.line = line;
    plan.repeat = repeat;
    const std::size_t eq = line.find('=');
    plan.cut = eq + 1;
    std::string_view rest = line.substr(eq + 1);
    std::size_t begin = 0;
    std::size_t end = 0;
    while (find_value_number(rest, begin, end)) {
        Value_number number;
        number.before = rest.substr(0, begin);
        if (end - begin == 1) {
            number.digit = rest[begin] - '0';
        } else {
            // The match is digits with at most one point: always convertible.
            std::from_chars(rest.data() + begin, rest.data() + end, number.value);
        }
        plan.numbers.push_back(number);
        rest.remove_prefix(end);
    }
    plan.resume = line.size() - rest.size();
    return plan;
}

// The most bytes put_planned writes for `plan`.
std::size_t planned_size_limit(const Copy_line& plan) {
    return plan.line.size() + float_text_limit * (plan.numbers.size() + 1);
}

// Writes the planned line as it stands in the copy of `texts` to `out`, which
// has room for planned_size_limit(plan) bytes; returns the end of what it wrote.
char* put_planned(const Copy_line& plan, const Copy_texts& texts, char* out) {
    switch (plan.rule) {
    case Copy_rule::verbatim:
        return put(out, plan.line);
    case Copy_rule::meter_number:
        out = put(out, plan.line.substr(0, plan.cut));
        out = put(out, texts.meter_number);
        return put(out, plan.line.substr(plan.resume));
    case Copy_rule::name:
        out = put(out, plan.line.substr(0, plan.cut));
        out = put_int(out, wrap_add(plan.value, texts.step.k));
        return put(out, plan.line.substr(plan.resume));
    case Copy_rule::x_position:
    case Copy_rule::y_position: {
        const std::int32_t offset = plan.rule == Copy_rule::x_position ? texts.step.x_offset : texts.step.y_offset;
        out = put(out, plan.line.substr(0, plan.cut));
        return put_int(out, wrap_add(plan.value, offset));
    }
    case Copy_rule::parameter: {
        out = put(out, plan.line.substr(0, plan.cut));
        const float step = static_cast<float>(texts.step.k);
        for (const Value_number& number : plan.numbers) {
            out = put(out, number.before);
            if (number.digit >= 0) {
                out = put(out, texts.digits[number.digit]);
            } else {
                out = put_float(out, static_cast<float>(number.value + step));
            }
        }
        return put(out, plan.line.substr(plan.resume));
    }
    }
    return out;
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

Copy_line plan_copy_line(std::string_view line, const Copy_rules& rules) {
    for (const std::string& header : rules.target_headers) {
        if (line == header) {
            // A target header always holds digits: it was formatted from a number.
            return replaced_number(Copy_rule::meter_number, line, line.find_first_of("0123456789"),
                                   line.size() - 1);
        }
    }
    if (begins_with(line, "[Output") || begins_with(line, "[InputController")) return plan_companion(line);
    if (line == rules.name_line) return plan_name(line);
    if (begins_with(line, "Left=") || begins_with(line, "Right=")) return plan_position(line, Copy_rule::x_position);
    if (begins_with(line, "Top=") || begins_with(line, "Bottom=")) return plan_position(line, Copy_rule::y_position);
    std::size_t matched = 0;
    for (const std::string& prefix : rules.parameter_prefixes) {
        if (begins_with(line, prefix)) ++matched;
    }
    if (matched > 0) return plan_parameter(line, matched);
    return verbatim(line);
}

unsigned digits_used(const std::vector<Copy_line>& plan) {
    unsigned digits = 0;
    for (const Copy_line& line : plan) {
        for (const Value_number& number : line.numbers) {
            if (number.digit >= 0) digits |= 1u << number.digit;
        }
    }
    return digits;
}

void set_copy_texts(Copy_texts& texts, const Copy_step& step, unsigned digits) {
    texts.step = step;
    set_number(texts.meter_number, step.new_number);
    const float k = static_cast<float>(step.k);
    for (int digit = 0; digit < 10; ++digit) {
        if ((digits >> digit) & 1u) set_number(texts.digits[digit], static_cast<float>(digit + k));
    }
}

void write_planned_line(const Copy_line& plan, const Copy_texts& texts, std::string& out) {
    std::string line(planned_size_limit(plan), '\0');
    line.resize(static_cast<std::size_t>(put_planned(plan, texts, &line[0]) - line.data()));
    for (std::size_t i = 0; i < plan.repeat; ++i) {
        out += line;
        out += '\n';
    }
}

void rewrite_copy_line(std::string_view line, const Copy_rules& rules, const Copy_step& step,
                       std::string& out) {
    const Copy_line plan = plan_copy_line(line, rules);
    Copy_texts texts;
    set_copy_texts(texts, step, digits_used({plan}));
    write_planned_line(plan, texts, out);
}

std::vector<Copy_line> plan_copies(std::string_view text, Text_block target, const Copy_rules& rules) {
    // The filter restarts for every copy, so every copy keeps the same lines.
    std::vector<Copy_line> plan;
    Blank_filter filter = collapse_and_trim();
    std::size_t pos = target.begin;
    while (pos < target.end) {
        const std::string_view line = next_line(text, pos);
        if (keep_line(filter, line)) plan.push_back(plan_copy_line(line, rules));
    }
    return plan;
}

void write_copies(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Run_settings& settings) {
    if (settings.copies <= 0) return;
    const std::vector<Copy_line> plan = plan_copies(text, results.target, make_copy_rules(settings, results.target_number));
    const unsigned digits = digits_used(plan);
    std::size_t longest = 0;
    for (const Copy_line& planned : plan) longest = std::max(longest, planned_size_limit(planned));
    std::string line(longest, '\0');  // written in place, never grown
    Copy_step step;
    Copy_texts texts;
    for (std::int64_t k = 1; k <= settings.copies; ++k) {
        step.k = static_cast<std::int32_t>(k);
        step.x_offset = wrap_add(step.x_offset, settings.x_shift);
        step.y_offset = wrap_add(step.y_offset, settings.y_shift);
        step.new_number = static_cast<std::int32_t>(results.highest_number + static_cast<std::uint32_t>(step.k));
        set_copy_texts(texts, step, digits);
        for (const Copy_line& planned : plan) {
            if (planned.rule == Copy_rule::verbatim) {
                write_line(writer, planned.line);
                continue;
            }
            const char* end = put_planned(planned, texts, &line[0]);
            const std::string_view written(line.data(), static_cast<std::size_t>(end - line.data()));
            for (std::size_t i = 0; i < planned.repeat; ++i) write_line(writer, written);
        }
    }
}

}  // namespace quarvel
