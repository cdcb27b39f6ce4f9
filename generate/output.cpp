#include "generate/output.h"

#include "generate/copies.h"
#include "generate/head_rewrite.h"

namespace quarvel {

bool write_output(const Byte_sink& sink, std::string_view text, const Scan_results& results,
                  const Copy_settings& settings, std::string_view preamble, Text_encoding encoding) {
    Tidy_writer writer = start_tidy_writer(sink, preamble, encoding);
    write_head_block(writer, text, results, settings);
    write_block(writer, text, results.target, results.unfinished);
    write_block(writer, text, results.trailing, results.unfinished);
    write_copies(writer, text, results, settings);
    write_block(writer, text, results.plugin, results.unfinished);
    return finish_tidy_writer(writer);
}

}  // namespace quarvel
