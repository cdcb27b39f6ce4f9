#include "generate/output.h"

#include "config/line_rules.h"
#include "generate/copies.h"
#include "generate/head_rewrite.h"

namespace quarvel {
namespace {

void write_block(Tidy_writer& writer, std::string_view text, Text_block block) {
    write_lines(writer, text, block.begin, block.end);
}

}  // namespace

void write_layout(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Run_settings& settings) {
    write_head_block(writer, text, results, settings);
    write_block(writer, text, results.target);
    write_block(writer, text, results.trailing);
    write_copies(writer, text, results, settings);
    write_block(writer, text, results.plugin);
}

std::string generate_output(std::string_view text, const Scan_results& results,
                            const Run_settings& settings, std::string_view preamble,
                            Text_encoding encoding) {
    Tidy_writer writer = start_tidy_writer(nullptr, preamble, encoding);
    write_layout(writer, text, results, settings);
    finish_tidy_writer(writer);
    return std::move(writer.buffer);
}

bool write_output(const Byte_sink& sink, std::string_view text, const Scan_results& results,
                     const Run_settings& settings, std::string_view preamble,
                     Text_encoding encoding) {
    Tidy_writer writer = start_tidy_writer(&sink, preamble, encoding);
    write_layout(writer, text, results, settings);
    return finish_tidy_writer(writer);
}

}  // namespace quarvel
