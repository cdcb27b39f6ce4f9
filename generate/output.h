// Output writing: the blocks and the copies in file order, through the tidy
// pass, to memory or to a sink.
#pragma once

#include <string>
#include <string_view>

#include "config/run_settings.h"
#include "config/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// Streams the head (rewritten), target, trailing meters, copies and plugin
// blocks of `text` into `writer`.
void write_layout(Tidy_writer& writer, std::string_view text, const Scan_results& results,
                  const Run_settings& settings);

// The whole output in memory, `preamble` first, in `encoding`: what the
// output file holds.
std::string generate_output(std::string_view text, const Scan_results& results,
                            const Run_settings& settings, std::string_view preamble = {},
                            Text_encoding encoding = Text_encoding::bytes);

// Streams the whole output, `preamble` first, in `encoding`, to `sink`.
// False when the sink failed.
bool write_output(const Byte_sink& sink, std::string_view text, const Scan_results& results,
                     const Run_settings& settings, std::string_view preamble = {},
                     Text_encoding encoding = Text_encoding::bytes);

}  // namespace quarvel
