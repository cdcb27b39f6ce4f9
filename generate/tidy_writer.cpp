#include "generate/tidy_writer.h"

namespace quarvel {
namespace {

void flush_buffer(Tidy_writer& writer) {
    if (writer.file == nullptr) return;
    if (!writer.failed && !write_output(*writer.file, writer.buffer)) writer.failed = true;
    writer.buffer.clear();
}

}  // namespace

Tidy_writer start_tidy_writer(Output_file* file, std::string_view preamble) {
    Tidy_writer writer;
    writer.file = file;
    if (file != nullptr) writer.buffer.reserve(tidy_flush_size + 4096);
    writer.buffer.append(preamble);
    return writer;
}

void write_line(Tidy_writer& writer, std::string_view line) {
    if (!keep_line(writer.filter, line)) return;
    if (writer.file != nullptr && line.size() >= tidy_flush_size) {
        // A huge line goes straight out rather than doubling in the buffer.
        flush_buffer(writer);
        if (!writer.failed && !write_output(*writer.file, line)) writer.failed = true;
    } else {
        writer.buffer.append(line);
    }
    writer.buffer.push_back('\r');  // inline, unlike a second append call
    writer.buffer.push_back('\n');
    if (writer.buffer.size() >= tidy_flush_size) flush_buffer(writer);
}

bool finish_tidy_writer(Tidy_writer& writer) {
    // Read back, the file would end with one more empty line: pass it too.
    write_line(writer, {});
    flush_buffer(writer);
    return !writer.failed;
}

}  // namespace quarvel
