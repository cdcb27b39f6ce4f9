// Copy rewriting: the target block planned once as a template of literal
// bytes and holes, then written once per copy with the holes filled in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "generate/copy_settings.h"
#include "layout/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// What fills a hole in copy k.
enum class Hole_kind {
    meter_number,      // highest meter number + k
    name_number,       // the name's number + k
    x_position,        // the position + k x shift
    y_position,        // the position + k y shift
    parameter_number,  // a number with a fraction in a parameter value + k, in single precision
    parameter_digit,   // a lone digit in a parameter value + k, likewise
};

struct Template_hole {
    std::size_t at = 0;       // the literal bytes before the hole end here
    Hole_kind kind = Hole_kind::meter_number;
    std::int32_t number = 0;  // the name's number, the position or the lone digit
    float value = 0;          // the parameter value's number
};

// Zero bytes after a template's literal bytes, never written out: they let
// pieces up to this size be copied as fixed-size blocks (a test build,
// QUARVEL_SMALL_LIMITS, makes it small).
constexpr std::size_t copy_padding = QUARVEL_SMALL_LIMITS ? 2 : 16;

// A run of a template's literal bytes where they lie: in the target block or
// in a constant.
struct Literal_piece {
    const char* data;
    std::size_t size;
};

// One copy of the target block: literal bytes (already tidy, CR LF line
// ends) with holes between them, and what every copy shares.
struct Copy_template {
    std::string_view source;             // the text the pieces refer into
    std::vector<Literal_piece> pieces;   // the literal bytes, in order; holes fall between pieces
    std::string literal;                 // a copy that fits in the writer's buffer: the pieces
                                         // joined, then copy_padding zero bytes; else empty
    std::size_t literal_size = 0;
    std::vector<Template_hole> holes;  // in the order of `at`
    bool lone_digits[10] = {};   // which lone digits parameter values hold
    std::size_t size_limit = 0;  // the room a copy takes
    bool last_line_empty = false;
    std::uint32_t highest_number = 0;
    std::int32_t x_shift = 0;
    std::int32_t y_shift = 0;
};

// Plans the target block of `text` by the copy rules. The template refers
// into `text`, which must outlive it.
Copy_template plan_copy_template(std::string_view text, const Scan_results& results,
                                 const Copy_settings& settings);

// Writes copy `k` (1 or more) of the template.
void write_copy(Tidy_writer& writer, const Copy_template& plan, std::int32_t k);

// Writes copies 1 ... settings.copies of the target block of `text`.
void write_copies(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Copy_settings& settings);

}  // namespace quarvel
