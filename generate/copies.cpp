// The copy rules. Copy k (1 ... copies) is the target block, its blank lines
// tidied (empty lines at its top dropped, runs of them cut to one), each line
// rewritten by the first of these rules that applies to it:
//  1. A target header, "[Meter N]", "[Source N]", "[Output N]" or
//     "[InputController N]" with N the target number written plainly: N
//     becomes the new meter number, highest meter number + k.
//  2. Any other line beginning with "[Output" or "[InputController": its
//     first run of digits becomes the new meter number (no digits: unchanged).
//  3. The target's own name line, "Name=" + meter name: the number after the
//     name's leading non-digits gets + k, and the text after it stays. A name
//     without a digit counts as 0 (k is appended); one whose number does not
//     fit in 32 bits is unchanged.
//  4. "Left=" or "Right=": the value + k x shift; "Top=" or "Bottom=": the
//     value + k y shift. Text after the value is dropped; a line without a
//     value is unchanged.
//  5. A line beginning with a parameter key and "=": in its value (all text
//     after the first "="), every digit with any decimal fraction after it
//     gets + k in single precision. The line is written once per key that it
//     begins with.
//  6. Any other line is unchanged.
// Arithmetic wraps at 32 bits. The rules are applied once, to plan a template
// of literal bytes and holes; each copy writes the literal bytes and fills in
// the holes.
#include "generate/copies.h"

#include <charconv>
#include <cstring>

#include "layout/lines.h"
#include "layout/numbers.h"
#include "generate/advance.h"

namespace quarvel {
namespace {

// The texts that the rules look for, made once.
struct Copy_rules {
    std::string target_headers[4];
    std::string name_line;
    std::vector<std::string> parameter_prefixes;  // each key + "="
};

Copy_rules make_rules(const Copy_settings& settings, std::uint32_t target_number) {
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

// Adds literal bytes, referred to where they lie. Bytes that go on where the
// last piece ends in the text (a line's own CR LF among them) extend it, unless
// a hole is in between.
void add_literal(Copy_template& plan, std::string_view bytes) {
    if (bytes.empty()) return;
    const bool hole_at_end = !plan.holes.empty() && plan.holes.back().at == plan.literal_size;
    plan.literal_size += bytes.size();
    if (!plan.pieces.empty() && !hole_at_end) {
        Literal_piece& last = plan.pieces.back();
        // Compared as numbers: the piece may lie in a constant, not in the text.
        const std::size_t next = reinterpret_cast<std::uintptr_t>(last.data) + last.size -
                                 reinterpret_cast<std::uintptr_t>(plan.source.data());
        const bool in_source = next >= last.size && next <= plan.source.size();
        if (last.data + last.size == bytes.data() || (in_source && plan.source.substr(next, bytes.size()) == bytes)) {
            last.size += bytes.size();
            return;
        }
    }
    plan.pieces.push_back({bytes.data(), bytes.size()});
}

void add_line_end(Copy_template& plan) { add_literal(plan, "\r\n"); }

void add_hole(Copy_template& plan, Hole_kind kind, std::int32_t number = 0, float value = 0) {
    Template_hole hole;
    hole.at = plan.literal_size;
    hole.kind = kind;
    hole.number = number;
    hole.value = value;
    plan.holes.push_back(hole);
}

// `line` with [begin, end) replaced by a hole, then the line end.
void plan_replaced(Copy_template& plan, std::string_view line, std::size_t begin, std::size_t end,
                   Hole_kind kind, std::int32_t number = 0) {
    add_literal(plan, line.substr(0, begin));
    add_hole(plan, kind, number);
    add_literal(plan, line.substr(end));
    add_line_end(plan);
}

void plan_unchanged(Copy_template& plan, std::string_view line) {
    add_literal(plan, line);
    add_line_end(plan);
}

// Rule 2: the first run of digits.
void plan_companion(Copy_template& plan, std::string_view line) {
    std::size_t begin = 0;
    while (begin < line.size() && !is_digit(line[begin])) ++begin;
    if (begin == line.size()) return plan_unchanged(plan, line);
    std::size_t end = begin;
    while (end < line.size() && is_digit(line[end])) ++end;
    plan_replaced(plan, line, begin, end, Hole_kind::meter_number);
}

// Rule 3, on "Name=" + meter name.
void plan_name(Copy_template& plan, std::string_view line) {
    const std::size_t value_start = 5;
    const Prefixed_number parts = scan_prefixed_number(line.substr(value_start));
    const bool has_digit = value_start + parts.prefix.size() < line.size();
    if (has_digit && !parts.number) return plan_unchanged(plan, line);
    plan_replaced(plan, line, value_start + parts.prefix.size(), line.size() - parts.rest.size(),
                  Hole_kind::name_number, parts.number.value_or(0));
}

// Rule 5, once for each matching key.
void plan_parameter(Copy_template& plan, std::string_view line, std::size_t times) {
    const std::size_t value_start = line.find('=') + 1;
    for (std::size_t i = 0; i < times; ++i) {
        add_literal(plan, line.substr(0, value_start));
        std::string_view rest = line.substr(value_start);
        std::size_t begin = 0;
        std::size_t end = 0;
        while (find_value_number(rest, begin, end)) {
            add_literal(plan, rest.substr(0, begin));
            if (end - begin == 1) {
                const int digit = rest[begin] - '0';
                plan.lone_digits[digit] = true;
                add_hole(plan, Hole_kind::parameter_digit, digit);
            } else {
                float value = 0;
                // The match is digits with a point and more digits: always convertible.
                std::from_chars(rest.data() + begin, rest.data() + end, value);
                add_hole(plan, Hole_kind::parameter_number, 0, value);
            }
            rest.remove_prefix(end);
        }
        add_literal(plan, rest);
        add_line_end(plan);
    }
}

void plan_line(Copy_template& plan, std::string_view line, const Copy_rules& rules) {
    for (const std::string& header : rules.target_headers) {
        if (line == header) {
            // Formatted from a number, a target header always holds digits.
            return plan_replaced(plan, line, line.find_first_of("0123456789"), line.size() - 1,
                                 Hole_kind::meter_number);
        }
    }
    if (begins_with(line, "[Output") || begins_with(line, "[InputController")) return plan_companion(plan, line);
    if (line == rules.name_line) return plan_name(plan, line);
    if (const Position_key* key = position_key_of(line)) {
        const std::optional<std::int32_t> value = scan_int(line.substr(key->text.size()));
        if (!value) return plan_unchanged(plan, line);
        const bool across = key->edge == Edge::left || key->edge == Edge::right;
        return plan_replaced(plan, line, key->text.size(), line.size(),
                             across ? Hole_kind::x_position : Hole_kind::y_position, *value);
    }
    std::size_t matched = 0;
    for (const std::string& prefix : rules.parameter_prefixes) {
        if (begins_with(line, prefix)) ++matched;
    }
    if (matched > 0) return plan_parameter(plan, line, matched);
    plan_unchanged(plan, line);
}

}  // namespace

Copy_template plan_copy_template(std::string_view text, const Scan_results& results,
                                 const Copy_settings& settings) {
    Copy_template plan;
    plan.source = text;
    plan.highest_number = results.highest_number;
    plan.x_shift = settings.x_shift;
    plan.y_shift = settings.y_shift;
    const Copy_rules rules = make_rules(settings, results.target_number);
    // Every copy keeps the same lines: the filter starts afresh for each.
    Blank_filter filter;
    std::size_t pos = results.target.begin;
    while (pos < results.target.end) {
        const std::string_view line = next_line(text, pos);
        if (!keep_line(filter, line)) continue;
        plan_line(plan, line, rules);
        plan.last_line_empty = line.empty();
    }
    plan.size_limit = plan.literal_size + plan.holes.size() * float_text_limit + copy_padding;
    // A copy written in place in the buffer takes its bytes from one string;
    // a larger one writes the pieces where they lie, never holding them twice.
    if (plan.size_limit < tidy_flush_size) {
        plan.literal.reserve(plan.literal_size + copy_padding);
        for (const Literal_piece& piece : plan.pieces) plan.literal.append(piece.data, piece.size);
        plan.literal.append(copy_padding, '\0');
    }
    return plan;
}

namespace {

// A number's text; the bytes past `size` are scratch that put() may copy
// along but that is never kept.
struct Number_text {
    char bytes[float_text_limit];
    std::size_t size;
};

// What fills the holes of one copy. A long parameter value holds many lone
// digits, so the sum of each digit and k is formatted once per copy.
struct Copy_numbers {
    std::int32_t k;
    std::int32_t meter_number;
    std::int32_t x_offset;
    std::int32_t y_offset;
    Number_text digit_sums[10];
};

// Fills `numbers` for copy `k`; only the digit sums the template uses are set.
void set_copy_numbers(Copy_numbers& numbers, const Copy_template& plan, std::int32_t k) {
    numbers.k = k;
    numbers.meter_number = static_cast<std::int32_t>(plan.highest_number + static_cast<std::uint32_t>(k));
    numbers.x_offset = wrap_mul(k, plan.x_shift);
    numbers.y_offset = wrap_mul(k, plan.y_shift);
    for (int digit = 0; digit < 10; ++digit) {
        if (!plan.lone_digits[digit]) continue;
        Number_text& sum = numbers.digit_sums[digit];
        sum.size = static_cast<std::size_t>(put_float(sum.bytes, static_cast<float>(digit) + static_cast<float>(k)) - sum.bytes);
    }
}

// Copies `size` bytes from `from` to `out` and returns the end; plainly,
// memcpy(out, from, size). Most pieces of a copy are a few bytes, so one of
// up to copy_padding bytes moves as a block of that fixed size, which needs
// no call: there are copy_padding bytes to spare after the literal bytes,
// after every number text and after the room taken for a copy.
char* put(char* out, const char* from, std::size_t size) {
    if (size <= copy_padding) {
        std::memcpy(out, from, copy_padding);
    } else {
        std::memcpy(out, from, size);
    }
    return out + size;
}

// Writes the hole's text for copy `numbers` to `out`, which has room for
// float_text_limit bytes; returns the end.
char* put_hole(char* out, const Template_hole& hole, const Copy_numbers& numbers) {
    char* const limit = out + float_text_limit;
    switch (hole.kind) {
    case Hole_kind::meter_number: return std::to_chars(out, limit, numbers.meter_number).ptr;
    case Hole_kind::name_number: return std::to_chars(out, limit, wrap_add(hole.number, numbers.k)).ptr;
    case Hole_kind::x_position: return std::to_chars(out, limit, wrap_add(hole.number, numbers.x_offset)).ptr;
    case Hole_kind::y_position: return std::to_chars(out, limit, wrap_add(hole.number, numbers.y_offset)).ptr;
    case Hole_kind::parameter_number:
        return put_float(out, static_cast<float>(hole.value + static_cast<float>(numbers.k)));
    case Hole_kind::parameter_digit: {
        const Number_text& sum = numbers.digit_sums[hole.number];
        return put(out, sum.bytes, sum.size);
    }
    }
    return out;
}

}  // namespace

void write_copy(Tidy_writer& writer, const Copy_template& plan, std::int32_t k) {
    Copy_numbers numbers;
    set_copy_numbers(numbers, plan, k);
    const char* const literal = plan.literal.data();
    std::size_t written = 0;
    if (plan.size_limit < tidy_flush_size) {
        // The whole copy fits in the buffer: written in place.
        char* out = reserve(writer, plan.size_limit);
        for (const Template_hole& hole : plan.holes) {
            out = put_hole(put(out, literal + written, hole.at - written), hole, numbers);
            written = hole.at;
        }
        commit(writer, put(out, literal + written, plan.literal_size - written));
        return;
    }
    // A copy with a huge line: its pieces go out from where they lie. Every
    // line ends with its CR LF, so no hole comes after the last piece.
    auto hole = plan.holes.begin();
    for (const Literal_piece& piece : plan.pieces) {
        for (; hole != plan.holes.end() && hole->at == written; ++hole)
            commit(writer, put_hole(reserve(writer, float_text_limit), *hole, numbers));
        write_bytes(writer, std::string_view(piece.data, piece.size));
        written += piece.size;
    }
}

void write_copies(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Copy_settings& settings) {
    if (settings.copies <= 0) return;
    const Copy_template plan = plan_copy_template(text, results, settings);
    for (std::int64_t k = 1; k <= settings.copies && !writer.failed; ++k)
        write_copy(writer, plan, static_cast<std::int32_t>(k));
    // A copy begins with its header, so the filter passes every line of it.
    lines_written(writer, plan.last_line_empty);
}

}  // namespace quarvel
