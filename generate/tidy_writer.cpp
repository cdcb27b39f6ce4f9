#include "generate/tidy_writer.h"

namespace quarvel {
namespace {

// Hands `bytes` to the file, encoded as the writer's encoding asks.
void send(Tidy_writer& writer, std::string_view bytes, bool last = false) {
    if (writer.failed) return;
    if (writer.encoding == Text_encoding::bytes) {
        if (!(*writer.sink)(bytes)) writer.failed = true;
        return;
    }
    writer.encoded.clear();
    encode_text(writer.encoding, bytes, writer.carry, last, writer.encoded);
    if (!(*writer.sink)(writer.encoded)) writer.failed = true;
}

void flush_buffer(Tidy_writer& writer, bool last = false) {
    if (writer.sink == nullptr) return;
    send(writer, writer.buffer, last);
    writer.buffer.clear();
}

}  // namespace

Tidy_writer start_tidy_writer(const Byte_sink* sink, std::string_view preamble,
                              Text_encoding encoding) {
    Tidy_writer writer;
    writer.sink = sink;
    writer.encoding = encoding;
    if (sink != nullptr) writer.buffer.reserve(tidy_flush_size + 4096);
    writer.buffer.append(preamble);
    return writer;
}

void write_line(Tidy_writer& writer, std::string_view line) {
    if (!keep_line(writer.filter, line)) return;
    if (writer.sink != nullptr && line.size() >= tidy_flush_size) {
        // A huge line goes straight out rather than doubling in the buffer.
        flush_buffer(writer);
        send(writer, line);
    } else {
        writer.buffer.append(line);
    }
    writer.buffer.push_back('\r');  // inline, unlike a second append call
    writer.buffer.push_back('\n');
    if (writer.buffer.size() >= tidy_flush_size) flush_buffer(writer);
}

void write_lines(Tidy_writer& writer, std::string_view text, std::size_t begin, std::size_t end) {
    // [run, pos) is the pending run of lines whose bytes are already tidy.
    std::size_t run = begin;
    std::size_t pos = begin;
    while (pos < end) {
        const std::size_t line_start = pos;
        const std::string_view line = next_line(text, pos);
        const bool ends_crlf = pos - line_start == line.size() + 2;
        // A huge line goes through write_line, which sends it straight out.
        if (ends_crlf && line.size() < tidy_flush_size && keep_line(writer.filter, line)) {
            if (pos - run < tidy_flush_size) continue;
            writer.buffer.append(text.substr(run, pos - run));
            if (writer.buffer.size() >= tidy_flush_size) flush_buffer(writer);
            run = pos;
            continue;
        }
        writer.buffer.append(text.substr(run, line_start - run));
        if (!ends_crlf || line.size() >= tidy_flush_size) write_line(writer, line);
        // Otherwise the filter has dropped the line, and counted it.
        run = pos;
    }
    const std::size_t stop = end <= text.size() ? end : text.size();
    if (run < stop) writer.buffer.append(text.substr(run, stop - run));
    if (writer.buffer.size() >= tidy_flush_size) flush_buffer(writer);
}

bool finish_tidy_writer(Tidy_writer& writer) {
    // Read back, the file would end with one more empty line: pass it too.
    write_line(writer, {});
    if (writer.sink == nullptr && writer.encoding != Text_encoding::bytes) {
        std::string encoded;
        encode_text(writer.encoding, writer.buffer, writer.carry, true, encoded);
        writer.buffer = std::move(encoded);
    }
    flush_buffer(writer, true);
    return !writer.failed;
}

}  // namespace quarvel
