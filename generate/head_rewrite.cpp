#include "generate/head_rewrite.h"

#include <algorithm>
#include <string>

#include "config/line_rules.h"

namespace quarvel {

Head_sizes head_sizes(const Scan_results& results, const Run_settings& settings) {
    const Layout_box& box = results.box;
    const std::int32_t grown_width = wrap_add(wrap_mul(settings.copies, settings.x_shift), results.target_width);
    const std::int32_t grown_height = wrap_add(wrap_mul(settings.copies, settings.y_shift), results.target_height);
    const std::int32_t layout_width = wrap_sub(box.max_right, box.min_left);
    const std::int32_t layout_height = wrap_sub(box.max_bottom, box.min_top);
    return {std::max(grown_width, layout_width), std::max(grown_height, layout_height)};
}

void write_head_block(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                      const Run_settings& settings) {
    const Head_sizes sizes = head_sizes(results, settings);
    Blank_filter filter = collapse_filter();
    std::string rewritten;
    // Lines that pass unchanged are handed on as whole runs, from `run` on.
    std::size_t run = results.head.begin;
    std::size_t pos = results.head.begin;
    while (pos < results.head.end) {
        const std::size_t line_start = pos;
        const std::string_view line = next_line(text, pos);
        const bool kept = keep_line(filter, line);
        const bool width = kept && begins_with(line, "Width=");
        if (kept && !width && !begins_with(line, "Height=")) continue;
        write_lines(writer, text, run, line_start);
        run = pos;
        if (!kept) continue;
        rewritten = width ? "Width=" : "Height=";
        rewritten += std::to_string(width ? sizes.width : sizes.height);
        write_line(writer, rewritten);
    }
    write_lines(writer, text, run, results.head.end);
}

}  // namespace quarvel
