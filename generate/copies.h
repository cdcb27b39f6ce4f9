// Copy rewriting: the target block written once per copy, renumbered, renamed,
// moved and with its parameter values advanced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/run_settings.h"
#include "config/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// What one copy changes: its index, offsets and new meter number.
struct Copy_step {
    std::int32_t k = 0;
    std::int32_t x_offset = 0;
    std::int32_t y_offset = 0;
    std::int32_t new_number = 0;
};

// The text that rewriting looks for, prepared once for all copies.
struct Copy_rules {
    std::string target_headers[4];  // "[Meter N]", "[Source N]", "[Output N]", "[InputController N]"
    std::string name_line;          // "Name=" + meter name
    std::vector<std::string> parameter_prefixes;  // each key + "="
};

Copy_rules make_copy_rules(const Run_settings& settings, std::uint32_t target_number);

// Which rewrite a line of the target block takes, in every copy alike.
enum class Copy_rule { verbatim, meter_number, name, x_position, y_position, parameter };

// One number of a parameter value: the text before it and either a lone
// digit or the parsed value of a number with a fraction.
struct Value_number {
    std::string_view before;
    int digit = -1;     // 0 ... 9 for a match without a fraction
    float value = 0;    // the match's value when `digit` is -1
};

// A target line taken apart once, so that each copy only formats numbers:
// written as line[0, cut), the copy's number or value, line[resume, end).
struct Copy_line {
    Copy_rule rule = Copy_rule::verbatim;
    std::string_view line;
    std::size_t cut = 0;
    std::size_t resume = 0;
    std::int32_t value = 0;              // the name's number or the position
    std::size_t repeat = 1;              // how many parameter keys matched
    std::vector<Value_number> numbers;   // parameter value numbers, in order
};

// A short number formatted once and written many times.
struct Number_text {
    char bytes[32] = {};  // all set, so an eight-byte copy never reads unset bytes
    std::size_t size = 0;
    std::string_view view() const { return {bytes, size}; }
};

// What every line of one copy shares: its step, its meter number as text and
// the text of each lone digit advanced by k (only the digits asked for).
struct Copy_texts {
    Copy_step step;
    Number_text meter_number;
    Number_text digits[10];
};

// Takes `line` apart by the first copy rule that applies to it.
Copy_line plan_copy_line(std::string_view line, const Copy_rules& rules);

// Which lone digits the parameter values of `plan` hold, one bit per digit.
unsigned digits_used(const std::vector<Copy_line>& plan);

// Fills `texts` for the copy described by `step`, formatting the lone digits
// whose bits are set in `digits`.
void set_copy_texts(Copy_texts& texts, const Copy_step& step, unsigned digits);

// Appends the planned line as written in the copy of `texts`, followed by
// "\n", once per matched parameter key.
void write_planned_line(const Copy_line& plan, const Copy_texts& texts, std::string& out);

// Appends to `out` the lines that `line` becomes in the copy described by
// `step`, each followed by "\n" (a line matched by several parameter keys is
// written once per key).
void rewrite_copy_line(std::string_view line, const Copy_rules& rules, const Copy_step& step,
                       std::string& out);

// The lines of the target block that every copy keeps, each taken apart.
std::vector<Copy_line> plan_copies(std::string_view text, Text_block target, const Copy_rules& rules);

// Writes copies 1 ... settings.copies of the target block of `text`.
void write_copies(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Run_settings& settings);

}  // namespace quarvel
