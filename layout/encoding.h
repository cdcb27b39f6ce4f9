// Text encodings of a layout file: a UTF-16 layout is turned into UTF-8 for
// the line rules and back on output; byte-order marks are taken off before the
// rules see the first line and put back in front of the output. Every other
// file is taken byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarvel {

// How the output's bytes are made from the tool's UTF-8 text.
enum class Text_encoding { bytes, utf16_le, utf16_be };

struct Decoded_text {
    std::string_view text;      // what the line rules read
    std::string_view preamble;  // a byte-order mark, written back in front of the output
    Text_encoding encoding = Text_encoding::bytes;  // what the output's bytes are made in
};

// Whether `text` is well-formed UTF-8 (no overlong form, surrogate or value
// past U+10FFFF; nothing cut short at the end).
bool is_valid_utf8(std::string_view text);

// The length of the well-formed UTF-8 sequence at `at` (before the end of `text`), or 0.
std::size_t utf8_sequence_at(std::string_view text, std::size_t at);

// A layout's bytes as the line rules read them: one that starts with a UTF-16
// byte-order mark is decoded to UTF-8 into `buffer` (which may be where the
// bytes lie), any other is taken where it lies; its byte-order mark is split
// off as the preamble. No value when UTF-16 text does not decode (an odd byte
// count or an unpaired surrogate).
std::optional<Decoded_text> decode_layout(std::string_view bytes, std::string& buffer);

// Appends `utf8` to `out` in `encoding`. An incomplete UTF-8 sequence at the
// end is kept in `carry` (and taken first next time), since text may be handed
// over in pieces cut anywhere; `last` says no more pieces follow. A byte that
// is not part of valid UTF-8 becomes U+FFFD in UTF-16.
void encode_text(Text_encoding encoding, std::string_view utf8, std::string& carry, bool last,
                 std::string& out);

}  // namespace quarvel
