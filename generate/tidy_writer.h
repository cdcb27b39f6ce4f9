// The tidy pass as a stream: lines go through the collapse-and-trim filter
// and out with CR LF line ends, buffered, to a byte sink (a file, memory).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "layout/encoding.h"
#include "layout/scan.h"

namespace quarvel {

// Where the finished bytes go; returns false when they could not be written.
using Byte_sink = std::function<bool(std::string_view)>;

// The collapse-and-trim filter: an empty line passes only as the first of a
// run, and never before the first non-empty line.
struct Blank_filter {
    bool seen_text = false;
    bool last_empty = false;  // the last line that passed was empty
};

// Returns whether `line` passes the filter, and updates it.
inline bool keep_line(Blank_filter& filter, std::string_view line) {
    if (!line.empty()) {
        filter.seen_text = true;
        filter.last_empty = false;
        return true;
    }
    if (!filter.seen_text || filter.last_empty) return false;
    filter.last_empty = true;
    return true;
}

struct Tidy_writer {
    const Byte_sink* sink = nullptr;
    std::string buffer;            // room for up to tidy_flush_size bytes
    std::size_t used = 0;          // how many bytes of it wait for the sink
    Blank_filter filter;
    bool failed = false;           // the sink refused a write
    Text_encoding encoding = Text_encoding::bytes;  // what the UTF-8 text becomes on the way out
    std::string carry;             // an incomplete UTF-8 sequence left over by the last hand-over
    std::string encoded;           // room for the encoded bytes of one hand-over
};

// Sizes where the writer changes paths; a test build (QUARVEL_SMALL_LIMITS)
// makes them a few bytes. How many buffered bytes make a hand-over to the
// sink: a copy that fits is written in place, a piece this large goes straight
// out.
constexpr std::size_t tidy_flush_size = QUARVEL_SMALL_LIMITS ? 64 : std::size_t{1} << 20;
// How much text is encoded at a time for a UTF-16 layout.
constexpr std::size_t encode_chunk_size = QUARVEL_SMALL_LIMITS ? 7 : tidy_flush_size;

// Starts a writer for `sink`, which must outlive it. `preamble` (a byte-order
// mark) is written first, untidied. With a UTF-16 `encoding` everything
// (preamble included) is encoded on its way to the sink.
Tidy_writer start_tidy_writer(const Byte_sink& sink, std::string_view preamble = {},
                              Text_encoding encoding = Text_encoding::bytes);

// Passes one line (without its line end) through the tidy pass.
void write_line(Tidy_writer& writer, std::string_view line);

// Writes bytes already in their written form (a piece of a line or many
// lines) without consulting the filter; see lines_written.
void write_bytes(Tidy_writer& writer, std::string_view bytes);

// Room for `size` (below tidy_flush_size) more bytes in the writer, which
// hands what waits to the sink first when needed. Fill it, then commit the
// bytes up to `end`; they bypass the filter, as with write_bytes.
char* reserve(Tidy_writer& writer, std::size_t size);
void commit(Tidy_writer& writer, const char* end);

// Tells the filter that whole lines, which pass it as they stand, went out
// through write_bytes, the last of them empty or not.
void lines_written(Tidy_writer& writer, bool last_empty);

// Writes the lines of `block` of `text`: runs of lines in their written form
// go out as they stand, each line of an `unfinished` run (the scan's) goes
// through `rebuild`.
using Rebuild_line = void (*)(Tidy_writer& writer, std::string_view line, const void* context);
void write_block(Tidy_writer& writer, std::string_view text, Text_block block,
                 const std::vector<Text_block>& unfinished, Rebuild_line rebuild = nullptr,
                 const void* context = nullptr);

// Ends the text with the tidy pass's single empty line and hands all buffered
// bytes to the sink. Returns false when any write failed.
bool finish_tidy_writer(Tidy_writer& writer);

}  // namespace quarvel
