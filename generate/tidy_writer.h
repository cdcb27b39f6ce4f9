// The tidy pass as a stream: lines go through the collapse-and-trim filter
// and out with CR LF line ends, buffered, to a file or into memory.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "config/encoding.h"
#include "config/line_rules.h"

namespace quarvel {

// Where written bytes go; false when they could not be written.
using Byte_sink = std::function<bool(std::string_view)>;

struct Tidy_writer {
    std::string buffer;            // bytes not yet handed to the file
    Blank_filter filter = collapse_and_trim();
    const Byte_sink* sink = nullptr;  // null: everything stays in `buffer`
    bool failed = false;              // a write to the sink failed
    Text_encoding encoding = Text_encoding::bytes;  // what the UTF-8 text becomes on the way out
    std::string carry;             // an incomplete UTF-8 sequence left over by the last flush
    std::string encoded;           // room for the encoded bytes of one flush
};

// How many buffered bytes make a write to the file.
constexpr std::size_t tidy_flush_size = std::size_t{1} << 20;

// Starts a writer that sends its bytes to `sink`, or keeps them in memory when
// `sink` is null. `preamble` (a byte-order mark) is written first, untidied.
// With a UTF-16 `encoding` the text (preamble included) is encoded as it goes
// out; in memory, when the writer is finished.
Tidy_writer start_tidy_writer(const Byte_sink* sink, std::string_view preamble = {},
                              Text_encoding encoding = Text_encoding::bytes);

// Passes one line (without its line end) through the tidy pass.
void write_line(Tidy_writer& writer, std::string_view line);

// Passes the lines of `text` from position `begin` to `end` (as next_line
// walks them) through the tidy pass, like write_line on each. Runs of lines
// that already end with CR LF and pass the filter go out as they stand.
void write_lines(Tidy_writer& writer, std::string_view text, std::size_t begin, std::size_t end);

// Ends the text with the tidy pass's single empty line and hands all buffered
// bytes to the file. Returns false when any write failed.
bool finish_tidy_writer(Tidy_writer& writer);

}  // namespace quarvel
