#include "layout/encoding.h"

#include <cstdint>

namespace quarvel {
namespace {

constexpr std::string_view utf8_mark("\xEF\xBB\xBF", 3);

void append_utf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void append_unit(Text_encoding encoding, std::uint32_t unit, std::string& out) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    if (encoding == Text_encoding::utf16_le) {
        out += low;
        out += high;
    } else {
        out += high;
        out += low;
    }
}

void append_utf16(Text_encoding encoding, std::uint32_t code, std::string& out) {
    if (code >= 0x10000) {
        code -= 0x10000;
        append_unit(encoding, 0xD800 | (code >> 10), out);
        append_unit(encoding, 0xDC00 | (code & 0x3FF), out);
    } else {
        append_unit(encoding, code, out);
    }
}

// Length of the UTF-8 sequence that starts with `lead`; 0 when `lead` cannot
// start one.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes the sequence of `length` bytes at `p`; false for a bad continuation,
// an overlong form, a surrogate or a value past U+10FFFF.
bool decode_sequence(const unsigned char* p, std::size_t length, std::uint32_t& code) {
    if (length == 1) {
        code = p[0];
        return true;
    }
    code = p[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return false;
        code = (code << 6) | (p[i] & 0x3F);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    return code >= smallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

void encode_utf16(Text_encoding encoding, std::string_view utf8, std::string& carry, bool last,
                  std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    std::size_t i = 0;
    while (i < size) {
        const std::size_t length = sequence_length(p[i]);
        if (length == 0) {
            append_unit(encoding, 0xFFFD, out);
            ++i;
            continue;
        }
        if (i + length > size) {
            // Cut short: either the next piece completes it, or it is bad.
            bool could_continue = true;
            for (std::size_t j = i + 1; j < size; ++j) could_continue &= (p[j] & 0xC0) == 0x80;
            if (!last && could_continue) {
                carry.assign(utf8.substr(i));
                return;
            }
            append_unit(encoding, 0xFFFD, out);
            ++i;
            continue;
        }
        std::uint32_t code = 0;
        if (decode_sequence(p + i, length, code)) {
            append_utf16(encoding, code, out);
            i += length;
        } else {
            append_unit(encoding, 0xFFFD, out);
            ++i;
        }
    }
}

}  // namespace

std::size_t utf8_sequence_at(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t length = sequence_length(p[0]);
    std::uint32_t code = 0;
    return length > 0 && length <= text.size() - at && decode_sequence(p, length, code) ? length : 0;
}

bool is_valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        length = p[i] < 0x80 ? 1 : utf8_sequence_at(text, i);
        if (length == 0) return false;
    }
    return true;
}

std::optional<Decoded_text> decode_layout(std::string_view bytes, std::string& buffer) {
    Decoded_text decoded;
    const auto first = static_cast<unsigned char>(bytes.empty() ? 0 : bytes[0]);
    const auto second = static_cast<unsigned char>(bytes.size() < 2 ? 0 : bytes[1]);
    if (first == 0xFF && second == 0xFE) decoded.encoding = Text_encoding::utf16_le;
    if (first == 0xFE && second == 0xFF) decoded.encoding = Text_encoding::utf16_be;
    if (decoded.encoding != Text_encoding::bytes) {
        if (bytes.size() % 2 != 0) return std::nullopt;
        const bool little = decoded.encoding == Text_encoding::utf16_le;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        auto unit_at = [&](std::size_t i) -> std::uint32_t {
            return little ? p[i] | (p[i + 1] << 8) : (p[i] << 8) | p[i + 1];
        };
        std::string utf8;
        utf8.reserve(bytes.size() + bytes.size() / 2);
        for (std::size_t i = 0; i < bytes.size(); i += 2) {
            std::uint32_t code = unit_at(i);
            if (code >= 0xDC00 && code <= 0xDFFF) return std::nullopt;
            if (code >= 0xD800 && code <= 0xDBFF) {
                if (i + 2 >= bytes.size()) return std::nullopt;
                const std::uint32_t low = unit_at(i + 2);
                if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
            append_utf8(code, utf8);
        }
        // The decoded mark is the UTF-8 one, split off below.
        buffer = std::move(utf8);
        bytes = buffer;
    }
    const bool marked = bytes.substr(0, 3) == utf8_mark;
    decoded.preamble = bytes.substr(0, marked ? 3 : 0);
    decoded.text = bytes.substr(decoded.preamble.size());
    return decoded;
}

void encode_text(Text_encoding encoding, std::string_view utf8, std::string& carry, bool last,
                 std::string& out) {
    if (encoding == Text_encoding::bytes) {
        out.append(carry);
        out.append(utf8);
        carry.clear();
        return;
    }
    if (carry.empty()) {
        encode_utf16(encoding, utf8, carry, last, out);
        return;
    }
    std::string joined = std::move(carry);
    carry.clear();
    joined.append(utf8);
    encode_utf16(encoding, joined, carry, last, out);
}

}  // namespace quarvel
