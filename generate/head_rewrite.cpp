#include "generate/head_rewrite.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "layout/lines.h"
#include "layout/numbers.h"

namespace quarvel {

Head_sizes head_sizes(const Scan_results& results, const Copy_settings& settings) {
    const Layout_box& box = results.box;
    const Target_box& target = results.target_box;
    const std::int32_t grown_width = wrap_add(wrap_mul(settings.copies, settings.x_shift), target.width);
    const std::int32_t grown_height = wrap_add(wrap_mul(settings.copies, settings.y_shift), target.height);
    const std::int32_t layout_width = wrap_sub(box.max_right, box.min_left);
    const std::int32_t layout_height = wrap_sub(box.max_bottom, box.min_top);
    return {std::max(grown_width, layout_width), std::max(grown_height, layout_height)};
}

namespace {

// The scan counts every head Width=/Height= line as unfinished, so the
// rewrite sees each of them here.
void rebuild_head_line(Tidy_writer& writer, std::string_view line, const void* context) {
    const Head_sizes& sizes = *static_cast<const Head_sizes*>(context);
    if (begins_with(line, "Width=")) {
        write_line(writer, "Width=" + std::to_string(sizes.width));
    } else if (begins_with(line, "Height=")) {
        write_line(writer, "Height=" + std::to_string(sizes.height));
    } else {
        write_line(writer, line);
    }
}

}  // namespace

void write_head_block(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                      const Copy_settings& settings) {
    // The head's own collapse filter keeps nothing the tidy pass would not,
    // so the tidy pass alone gives the same lines.
    const Head_sizes sizes = head_sizes(results, settings);
    write_block(writer, text, results.head, results.unfinished, rebuild_head_line, &sizes);
}

}  // namespace quarvel
