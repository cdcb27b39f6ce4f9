// Fuzz target for the in-memory pipeline: what a run runs from the scan on (the
// head rewrite, the copies, the tidy pass, the run's warnings or the meter hint),
// with the layout and the arguments taken from the fuzz input.
//
// Fuzz input: an 8-byte header, then the layout file's bytes.
//   [0] copies (mod 21)
//   [1] [2] x shift, [3] [4] y shift (small, or near INT32_MAX when the high bit is set)
//   [5] meter name: most values pick one of the layout's "Name=" values, the
//       rest take a whole line of the layout as the name
//   [6] parameter key count (low two bits); bit 7 adds "Left" as a key
//   [7] which keys of the layout's "Key=" lines become parameter keys
//
// Beyond "no crash", every run checks properties of the result that must hold
// whatever the layout, and the written bytes against the plain path (every
// line rebuilt, every copy written from its pieces where they lie); a failed
// check aborts, which the fuzzer reports.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/hints.h"
#include "app/report.h"
#include "layout/encoding.h"
#include "layout/lines.h"
#include "layout/numbers.h"
#include "generate/copy_settings.h"
#include "layout/scan.h"
#include "generate/copies.h"
#include "generate/output.h"
#include "generate/tidy_writer.h"

namespace {

using namespace quarvel;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// The lines of `text` as the whole-file reader yields them.
std::vector<std::string_view> lines_of(std::string_view text, std::size_t begin, std::size_t end) {
    std::vector<std::string_view> lines;
    std::size_t pos = begin;
    while (pos < end) lines.push_back(next_line(text, pos));
    return lines;
}

std::vector<std::string_view> all_lines(std::string_view text) { return lines_of(text, 0, end_of_lines(text)); }

// The lines of `block`, each followed by "\n".
std::string block_text(std::string_view text, Text_block block) {
    std::string out;
    for (std::string_view line : lines_of(text, block.begin, block.end)) out.append(line) += '\n';
    return out;
}

// The tidy pass written out plainly: drop empty lines before the first
// non-empty one and every empty line that follows another kept empty line.
std::vector<std::string> tidy_lines(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        if (line.empty() && (kept.empty() || kept.back().empty())) continue;
        kept.push_back(line);
    }
    return kept;
}

// A finished output file, less its preamble, cut into lines at CR LF. Every
// line end must be CR LF.
std::vector<std::string> output_lines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        check(lf != std::string_view::npos, "output ends without a line end");
        check(lf > start && bytes[lf - 1] == '\r', "an output line end is not CR LF");
        lines.emplace_back(bytes.substr(start, lf - 1 - start));
        start = lf + 1;
    }
    return lines;
}

bool is_decimal(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text)
        if (!is_digit(c)) return false;
    return true;
}

std::int32_t decode_shift(std::uint8_t high, std::uint8_t low) {
    if (high & 0x80) return 2147483647 - low;
    return static_cast<std::int32_t>((high * 256 + low) % 2000);
}

Copy_settings decode_settings(const std::uint8_t* header, std::string_view text) {
    Copy_settings settings;
    settings.copies = header[0] % 21;
    settings.x_shift = decode_shift(header[1], header[2]);
    settings.y_shift = decode_shift(header[3], header[4]);

    std::vector<std::string_view> names;
    std::vector<std::string_view> keys;
    const std::vector<std::string_view> lines = all_lines(text);
    for (std::string_view line : lines) {
        if (begins_with(line, "Name=")) names.push_back(line.substr(5));
        const std::size_t eq = line.find('=');
        if (eq != std::string_view::npos) keys.push_back(line.substr(0, eq));
    }
    if (header[5] < 224 && !names.empty()) {
        settings.meter_name = names[header[5] % names.size()];
    } else {
        settings.meter_name = lines[header[5] % lines.size()];
    }
    const int key_count = header[6] & 3;
    for (int i = 0; i < key_count && !keys.empty(); ++i)
        settings.parameter_keys.emplace_back(keys[(header[7] + 7u * static_cast<unsigned>(i)) % keys.size()]);
    if (header[6] & 0x80) settings.parameter_keys.emplace_back("Left");
    return settings;
}

// The blocks partition the layout's lines in file order.
void check_partition(std::string_view text, const Scan_results& r) {
    check(r.head.begin == 0, "head does not start the file");
    check(r.head.end == r.target.begin && r.target.end == r.trailing.begin &&
              r.trailing.end == r.plugin.begin,
          "blocks are not contiguous");
    check(r.plugin.end == end_of_lines(text), "plugin block does not end the file");
    std::string joined;
    for (const Text_block& block : {r.head, r.target, r.trailing, r.plugin}) joined += block_text(text, block);
    check(joined == block_text(text, {0, end_of_lines(text)}), "blocks do not give back the input's lines");
}

// What the scan must have seen, stated from the file's lines alone.
void check_scan(std::string_view text, const Scan_results& r, const std::string& name) {
    const std::vector<std::string_view> lines = all_lines(text);
    std::uint32_t highest = 0;
    bool name_after_header = false;
    bool before_plugin = true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "[PluginInfo]") before_plugin = false;
        if (lines[i].find("[Meter") == std::string_view::npos) continue;
        if (auto n = scan_meter_number(lines[i]); n && static_cast<std::uint32_t>(*n) > highest)
            highest = static_cast<std::uint32_t>(*n);
        if (before_plugin && i + 1 < lines.size() && lines[i + 1] == "Name=" + name &&
            lines[i + 1].find("[Meter") == std::string_view::npos)
            name_after_header = true;
    }
    check(r.highest_number == highest, "highest meter number is not the largest header number");
    check(r.found == name_after_header, "found differs from: a name line directly follows a header");
    if (!r.found) return;
    const std::vector<std::string_view> target = lines_of(text, r.target.begin, r.target.end);
    check(!target.empty() && target[0].find("[Meter") != std::string_view::npos,
          "target block does not begin with a header");
    if (auto n = scan_meter_number(target[0])) check(static_cast<std::uint32_t>(*n) == r.target_number,
                                                     "target header number is not the target number");
    for (std::size_t i = 1; i < target.size(); ++i) {
        check(target[i] != "[PluginInfo]", "target block holds the plugin header");
        if (target[i].find("[Meter") == std::string_view::npos) continue;
        // Only header lines right after the first, before the name line, may join it.
        for (std::size_t j = 1; j <= i; ++j)
            check(target[j].find("[Meter") != std::string_view::npos, "target block runs past the next meter");
    }
}

std::vector<std::string> as_strings(const std::vector<std::string_view>& lines) {
    return std::vector<std::string>(lines.begin(), lines.end());
}

bool has_header(std::string_view line) { return line.find("[Meter") != std::string_view::npos; }

// Copy k written from the template as it is planned, and from its pieces
// where they lie, as a copy too large for the writer's buffer is.
void check_copies_from_pieces(std::string_view text, const Scan_results& r, const Copy_settings& settings) {
    const Copy_template plan = plan_copy_template(text, r, settings);
    Copy_template from_pieces = plan;
    from_pieces.size_limit = tidy_flush_size;
    for (std::int32_t k = 1; k <= settings.copies; ++k) {
        std::string bytes[2];
        for (int i = 0; i < 2; ++i) {
            const Byte_sink sink = [&bytes, i](std::string_view b) { return bytes[i].append(b), true; };
            Tidy_writer writer = start_tidy_writer(sink);
            write_copy(writer, i == 0 ? plan : from_pieces, k);
            finish_tidy_writer(writer);
        }
        check(bytes[0] == bytes[1], "a copy written from its pieces differs");
    }
}

void check_output(std::string_view text, const Decoded_text& decoded, const Scan_results& r,
                  const Copy_settings& settings) {
    const std::string_view preamble = decoded.preamble;
    const std::string full = generate_output(text, r, settings, preamble);
    check(full.compare(0, preamble.size(), preamble) == 0, "output does not start with the preamble");
    Scan_results rebuilt = r;
    rebuilt.unfinished = {{0, end_of_lines(text)}};
    check(generate_output(text, rebuilt, settings, preamble) == full, "the output differs from every line rebuilt");
    if (decoded.encoding != Text_encoding::bytes) {
        // Decoded from UTF-16, the text is UTF-8, and so is every line written.
        std::string buffer;
        const std::string encoded = generate_output(text, r, settings, preamble, decoded.encoding);
        const std::optional<Decoded_text> back = decode_layout(encoded, buffer);
        check(back && std::string(back->preamble) + std::string(back->text) == full, "UTF-16 output decodes otherwise");
    }
    check_copies_from_pieces(text, r, settings);
    const std::vector<std::string> out = output_lines(std::string_view(full).substr(preamble.size()));

    // Tidy: no empty line first, no two in a row, exactly one at the end.
    check(out.size() >= 2 && out.back().empty() && !out[out.size() - 2].empty(),
          "output does not end with exactly one empty line");
    check(!out.front().empty(), "output begins with an empty line");
    for (std::size_t i = 1; i < out.size(); ++i)
        check(!(out[i].empty() && out[i - 1].empty()), "two empty lines in a row");

    // Copies 0: the tidied input, with only the head's Width=/Height= lines changed.
    Copy_settings none = settings;
    none.copies = 0;
    const std::string plain_full = generate_output(text, r, none, preamble);
    const std::vector<std::string> plain = output_lines(std::string_view(plain_full).substr(preamble.size()));
    std::vector<std::string> input = as_strings(all_lines(text));
    input.emplace_back();  // the tidy pass's closing empty line
    const std::vector<std::string> tidied = tidy_lines(input);
    const std::size_t head_lines = tidy_lines(as_strings(lines_of(text, r.head.begin, r.head.end))).size();
    check(plain.size() == tidied.size(), "copies 0: line count differs from the tidied input");
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == tidied[i]) continue;
        bool sized = false;
        for (std::string_view key : {std::string_view("Width="), std::string_view("Height=")})
            if (i < head_lines && begins_with(tidied[i], key) && begins_with(plain[i], key) &&
                is_decimal(std::string_view(plain[i]).substr(key.size())))
                sized = true;
        check(sized, "copies 0: a line other than a head Width=/Height= changed");
    }

    // The copies stand right before the plugin part, and nothing else moves.
    std::string copies_bytes;
    const Byte_sink into_memory = [&copies_bytes](std::string_view bytes) {
        copies_bytes.append(bytes);
        return true;
    };
    Tidy_writer copies_writer = start_tidy_writer(into_memory);
    write_copies(copies_writer, text, r, settings);
    copies_bytes.append(copies_writer.buffer.data(), copies_writer.used);  // what still waits in the buffer
    const std::vector<std::string> copies = output_lines(copies_bytes);
    std::vector<std::string> expected = as_strings(lines_of(text, 0, r.plugin.begin));
    expected.insert(expected.end(), copies.begin(), copies.end());
    for (std::string_view line : lines_of(text, r.plugin.begin, r.plugin.end)) expected.emplace_back(line);
    expected.emplace_back();
    expected = tidy_lines(expected);
    check(out.size() == expected.size(), "copies: output is not the layout with the copies before the plugin part");
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == expected[i]) continue;
        const bool head_size = i < head_lines && ((begins_with(out[i], "Width=") && begins_with(expected[i], "Width=")) ||
                                                  (begins_with(out[i], "Height=") && begins_with(expected[i], "Height=")));
        check(head_size, "copies: a line other than a head Width=/Height= or a copy changed");
    }

    // Each copy starts with its header: highest + k when the target's header
    // is written in the exact form, else unchanged when no other copy rule
    // can take the line.
    const std::vector<std::string_view> target = lines_of(text, r.target.begin, r.target.end);
    std::size_t target_headers = 0;
    for (std::string_view line : target) target_headers += has_header(line) ? 1 : 0;
    if (target_headers != 1) return;
    const bool exact = target[0] == "[Meter " + std::to_string(r.target_number) + "]";
    bool untouched = !begins_with(target[0], "[Output") && !begins_with(target[0], "[InputController");
    for (std::string_view key : {"Left=", "Right=", "Top=", "Bottom="})
        if (begins_with(target[0], key)) untouched = false;
    for (const std::string& key : settings.parameter_keys)
        if (begins_with(target[0], key + "=")) untouched = false;
    if (!exact && !untouched) return;
    std::vector<std::string> headers;
    for (const std::string& line : copies)
        if (has_header(line)) headers.push_back(line);
    check(headers.size() == static_cast<std::size_t>(settings.copies), "copies: not one header per copy");
    for (std::size_t k = 1; k <= headers.size(); ++k) {
        const std::int32_t number = static_cast<std::int32_t>(r.highest_number + static_cast<std::uint32_t>(k));
        const std::string want = exact ? "[Meter " + std::to_string(number) + "]" : std::string(target[0]);
        check(headers[k - 1] == want, "copies: header is not highest + k");
    }
}

// A line standard error shows: UTF-8 without a control character but tab.
void check_shown_safely(const std::string& line) {
    const std::string shown = shown_safely(line);
    bool controls = false;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        controls = controls || (c < 0x20 && c != '\t') || c == 0x7F ||
                   (c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) < 0xA0);
    }
    check(is_valid_utf8(shown) && !controls, "standard error shows a control character or a byte that is not UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t header[8] = {};
    const std::size_t header_size = size < 8 ? size : 8;
    for (std::size_t i = 0; i < header_size; ++i) header[i] = data[i];
    const std::string contents(reinterpret_cast<const char*>(data) + header_size, size - header_size);

    std::string buffer;  // UTF-16 that does not decode goes through as bytes
    const Decoded_text input = decode_layout(contents, buffer).value_or(Decoded_text{contents, {}});
    const Copy_settings settings = decode_settings(header, input.text);
    const Scan_results results = scan_input(input.text, settings.meter_name);
    check_partition(input.text, results);
    check_scan(input.text, results, settings.meter_name);
    if (results.found) {
        Run_settings run;
        run.copy = settings;
        for (const std::string& line : run_warnings(input.text, results, run, settings)) check_shown_safely(line);
        check_output(input.text, input, results, settings);
    } else {
        const Name_hint hint = find_meter_hint(input.text, settings.meter_name);
        check(hint.kind == Name_hint::Kind::none ||
                  (!hint.name_line.empty() && (hint.kind == Name_hint::Kind::lower_case_header || has_header(hint.header))),
              "the hint names no header and name line");
        check_shown_safely(meter_hint_line("in.ini", settings.meter_name, hint));
    }
    return 0;
}
