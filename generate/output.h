// Output writing: the blocks and the copies in file order, through the tidy
// pass, to a byte sink or into memory.
#pragma once

#include <string>
#include <string_view>

#include "layout/encoding.h"
#include "generate/copy_settings.h"
#include "layout/scan.h"
#include "generate/tidy_writer.h"

namespace quarvel {

// Writes the output to `sink`: `preamble` first, then the head (rewritten),
// target, trailing meters, copies and plugin blocks of `text`, tidied, in
// `encoding`. Returns false when the sink refused a write.
bool write_output(const Byte_sink& sink, std::string_view text, const Scan_results& results,
                  const Copy_settings& settings, std::string_view preamble = {},
                  Text_encoding encoding = Text_encoding::bytes);

// The whole output in memory: what write_output hands to its sink.
inline std::string generate_output(std::string_view text, const Scan_results& results, const Copy_settings& settings,
                                   std::string_view preamble = {}, Text_encoding encoding = Text_encoding::bytes) {
    std::string out;
    write_output([&out](std::string_view bytes) { return out.append(bytes), true; }, text, results, settings, preamble,
                 encoding);
    return out;
}

}  // namespace quarvel
