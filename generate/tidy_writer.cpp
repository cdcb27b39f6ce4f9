#include "generate/tidy_writer.h"

#include <algorithm>
#include <cstring>

#include "layout/lines.h"

namespace quarvel {
namespace {

// Hands `bytes` to the sink, encoded as the writer's encoding asks.
void send(Tidy_writer& writer, std::string_view bytes, bool last = false) {
    if (writer.failed) return;
    if (writer.encoding == Text_encoding::bytes) {
        if (!bytes.empty() && !(*writer.sink)(bytes)) writer.failed = true;
        return;
    }
    // A huge piece is encoded a buffer's worth at a time, not held twice.
    do {
        const std::string_view piece = bytes.substr(0, encode_chunk_size);
        bytes.remove_prefix(piece.size());
        writer.encoded.clear();
        encode_text(writer.encoding, piece, writer.carry, last && bytes.empty(), writer.encoded);
        if (!writer.encoded.empty() && !(*writer.sink)(writer.encoded)) writer.failed = true;
    } while (!bytes.empty() && !writer.failed);
}

void flush_buffer(Tidy_writer& writer, bool last = false) {
    send(writer, std::string_view(writer.buffer.data(), writer.used), last);
    writer.used = 0;
}

// Grows the buffer, up to tidy_flush_size, to hold `size` more bytes: a
// small output never needs all of it.
void make_room(Tidy_writer& writer, std::size_t size) {
    if (writer.used + size <= writer.buffer.size()) return;
    writer.buffer.resize(std::min(tidy_flush_size, std::max(writer.used + size, 2 * writer.buffer.size())));
}

// Whether the last of the whole lines in `lines` (CR LF ends) is empty.
bool last_line_empty(std::string_view lines) {
    return lines.size() == 2 || (lines.size() > 2 && lines[lines.size() - 3] == '\n');
}

}  // namespace

Tidy_writer start_tidy_writer(const Byte_sink& sink, std::string_view preamble, Text_encoding encoding) {
    Tidy_writer writer;
    writer.sink = &sink;
    writer.encoding = encoding;
    write_bytes(writer, preamble);
    return writer;
}

char* reserve(Tidy_writer& writer, std::size_t size) {
    if (writer.used + size > tidy_flush_size) flush_buffer(writer);
    make_room(writer, size);
    return &writer.buffer[writer.used];
}

void commit(Tidy_writer& writer, const char* end) { writer.used = std::size_t(end - writer.buffer.data()); }

void write_bytes(Tidy_writer& writer, std::string_view bytes) {
    if (bytes.empty()) return;  // its data may be null
    if (writer.used + bytes.size() > tidy_flush_size) {
        flush_buffer(writer);
        // A large piece goes straight out rather than through the buffer.
        if (bytes.size() >= tidy_flush_size) {
            send(writer, bytes);
            return;
        }
    }
    make_room(writer, bytes.size());
    std::memcpy(&writer.buffer[writer.used], bytes.data(), bytes.size());
    writer.used += bytes.size();
}

void write_line(Tidy_writer& writer, std::string_view line) {
    if (!keep_line(writer.filter, line)) return;
    write_bytes(writer, line);
    write_bytes(writer, "\r\n");
}

void lines_written(Tidy_writer& writer, bool last_empty) {
    writer.filter.seen_text = true;
    writer.filter.last_empty = last_empty;
}

void write_block(Tidy_writer& writer, std::string_view text, Text_block block,
                 const std::vector<Text_block>& unfinished, Rebuild_line rebuild, const void* context) {
    // The first unfinished run that reaches into the block; runs may cross
    // block borders, so each is clipped to the block.
    auto run = std::upper_bound(unfinished.begin(), unfinished.end(), block.begin,
                                [](std::size_t pos, const Text_block& r) { return pos < r.end; });
    std::size_t pos = block.begin;
    while (pos < block.end) {
        const std::size_t run_begin = run == unfinished.end() ? block.end : std::max(run->begin, block.begin);
        // Lines in their written form end with CR LF, so this stays inside the text.
        const std::size_t final_end = std::min(run_begin, block.end);
        if (final_end > pos) {
            const std::string_view lines = text.substr(pos, final_end - pos);
            write_bytes(writer, lines);
            lines_written(writer, last_line_empty(lines));
            pos = final_end;
        }
        if (run == unfinished.end() || pos >= block.end) break;
        const std::size_t run_end = std::min(run->end, block.end);
        while (pos < run_end) {
            const std::string_view line = next_line(text, pos);
            if (rebuild != nullptr) {
                rebuild(writer, line, context);
            } else {
                write_line(writer, line);
            }
        }
        ++run;
    }
}

bool finish_tidy_writer(Tidy_writer& writer) {
    // Read back, the file would end with one more empty line: pass it too.
    write_line(writer, {});
    flush_buffer(writer, true);
    return !writer.failed;
}

}  // namespace quarvel
