#include "layout/encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "layout/scan.h"
#include "generate/output.h"

namespace quarvel {
namespace {

const std::string mark = "\xEF\xBB\xBF";

TEST(DecodeLayout, Utf16FilesBecomeUtf8AndOthersStayAsTheyAre) {
    using E = Text_encoding;
    const struct {
        std::string file;
        E encoding;
        std::string text;
    } cases[] = {
        {"[Meter 1]\r\n", E::bytes, "[Meter 1]\r\n"},
        {"\xFF", E::bytes, "\xFF"},
        {"\xEF\xBB\xBF[Meter 0]", E::bytes, "\xEF\xBB\xBF[Meter 0]"},
        {"\xFE\xFE\x41\x00", E::bytes, "\xFE\xFE\x41\x00"},
        {std::string("\xFF\xFE", 2), E::utf16_le, mark},
        {std::string("\xFE\xFF", 2), E::utf16_be, mark},
        {std::string("\xFF\xFE" "A\0\r\0\n\0", 8), E::utf16_le, mark + "A\r\n"},
        {std::string("\xFE\xFF\0A\0\r\0\n", 8), E::utf16_be, mark + "A\r\n"},
        // U+00E4, U+8A08 and U+1F600 (a surrogate pair); a NUL stays a character.
        {std::string("\xFF\xFE\xE4\x00\x08\x8A\x3D\xD8\x00\xDE\x00\x00", 12), E::utf16_le,
         mark + std::string("\xC3\xA4\xE8\xA8\x88\xF0\x9F\x98\x80\0", 10)},
        {std::string("\xFE\xFF\x00\xE4\x8A\x08\xD8\x3D\xDE\x00", 10), E::utf16_be,
         mark + "\xC3\xA4\xE8\xA8\x88\xF0\x9F\x98\x80"},
        // A second mark inside the text is an ordinary character.
        {std::string("\xFF\xFE\xFF\xFE", 4), E::utf16_le, mark + mark},
    };
    for (const auto& c : cases) {
        std::string buffer;
        const std::optional<Decoded_text> decoded = decode_layout(c.file, buffer);
        ASSERT_TRUE(decoded) << testing::PrintToString(c.file);
        EXPECT_EQ(decoded->encoding, c.encoding) << testing::PrintToString(c.file);
        EXPECT_EQ(std::string(decoded->preamble) + std::string(decoded->text), c.text) << testing::PrintToString(c.file);
    }
}

TEST(DecodeLayout, BrokenUtf16IsRefused) {
    const std::string broken[] = {
        std::string("\xFF\xFE" "A", 3),                   // odd byte count
        std::string("\xFE\xFF\0A\0", 5),                 // odd byte count
        std::string("\xFF\xFE\x3D\xD8", 4),              // high surrogate at the end
        std::string("\xFF\xFE\x3D\xD8" "A\0", 6),        // high surrogate, then no low one
        std::string("\xFF\xFE\x3D\xD8\x3D\xD8\x00\xDE", 8),  // two highs in a row
        std::string("\xFF\xFE\x00\xDE", 4),              // low surrogate alone
        std::string("\xFE\xFF\xDC\x00", 4),              // low surrogate alone, big endian
    };
    for (const std::string& file : broken) {
        std::string buffer;
        EXPECT_FALSE(decode_layout(file, buffer)) << testing::PrintToString(file);
    }
}

// UTF-16 written straight from code points: the oracle for the round trip.
std::string utf16_of(const std::u32string& text, bool big_endian) {
    std::string out;
    const auto unit = [&](char32_t u) {
        const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
        out += big_endian ? high : low;
        out += big_endian ? low : high;
    };
    unit(0xFEFF);
    for (const char32_t c : text) {
        if (c < 0x10000) {
            unit(c);
        } else {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

// Each boundary of the UTF-8 forms, through decode, the copy rules and the
// encoding back, in both byte orders: the target and every copy keep them.
TEST(EncodeText, BoundaryCodePointsComeBackInTargetAndCopies) {
    const std::u32string boundaries[] = {U"\x7F", U"\x80", U"\x7FF", U"\x800", U"\xFFFF", U"\x10000"};
    const auto meter = [&](const std::u32string& number) {
        std::u32string text = U"[Meter " + number + U"]\r\nName=A" + number + U"\r\n";
        for (const std::u32string& c : boundaries) text += U"Label=" + c + U"x\r\n";
        return text;
    };
    for (const bool big_endian : {false, true}) {
        for (const int copies : {0, 1}) {
            std::string buffer;  // UTF-16: the text lies here
            const Decoded_text input = decode_layout(utf16_of(meter(U"1"), big_endian), buffer).value();
            Copy_settings settings;
            settings.meter_name = "A1";
            settings.copies = copies;
            const std::string written = generate_output(input.text, scan_input(input.text, "A1"), settings,
                                                        input.preamble, input.encoding);
            const std::u32string expected = meter(U"1") + (copies == 1 ? U"\r\n" + meter(U"2") : U"") + U"\r\n";
            EXPECT_EQ(written, utf16_of(expected, big_endian)) << "big endian " << big_endian << ", copies " << copies;
        }
    }
}

TEST(IsValidUtf8, TellsLegacyBytesFromUtf8) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {std::string("Name=A\0", 7), true},
        {"Name=\xC3\xBC\xE8\xA8\x88\xF0\x9F\x98\x80", true},
        {"Name=\xDC" "berwachung1", false},  // the ANSI code page's U+00DC
        {"Gr\xF6\xDF" "e=1", false},
        {"\xC0\xAF", false},                 // overlong "/"
        {"\xED\xA0\x80", false},             // a surrogate
        {"\xF4\x90\x80\x80", false},         // past U+10FFFF
        {"\xC3", false},                     // cut short at the end
        {"\xE8\xA8" "A", false},             // bad continuation
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.text), c.valid) << testing::PrintToString(c.text);
}

std::string encode_whole(Text_encoding encoding, const std::string& utf8) {
    std::string carry;
    std::string out;
    encode_text(encoding, utf8, carry, true, out);
    EXPECT_EQ(carry, "");
    return out;
}

TEST(EncodeText, WritesUtf16InTheFilesByteOrder) {
    using E = Text_encoding;
    const struct {
        E encoding;
        std::string utf8;
        std::string bytes;
    } cases[] = {
        {E::utf16_le, mark + "\xC3\xA4\r\n", std::string("\xFF\xFE\xE4\0\r\0\n\0", 8)},
        {E::utf16_be, mark + "\xC3\xA4\r\n", std::string("\xFE\xFF\0\xE4\0\r\0\n", 8)},
        {E::utf16_le, "\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},
        {E::utf16_be, "\xF0\x9F\x98\x80", std::string("\xD8\x3D\xDE\x00", 4)},
        {E::utf16_le, std::string("\0", 1), std::string("\0\0", 2)},
        // Bytes that are no UTF-8 (only a fault could bring them here) each
        // become U+FFFD rather than vanish or break the file.
        {E::utf16_le, "\x80" "A", std::string("\xFD\xFF" "A\0", 4)},
        {E::utf16_le, "\xC0\xAF", "\xFD\xFF\xFD\xFF"},                    // overlong
        {E::utf16_le, "\xED\xA0\x80", "\xFD\xFF\xFD\xFF\xFD\xFF"},        // a surrogate
        {E::utf16_le, "\xE8\xA8", "\xFD\xFF\xFD\xFF"},                    // cut at the very end
        {E::bytes, "\xE8\xA8\x80\r\n", "\xE8\xA8\x80\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(encode_whole(c.encoding, c.utf8), c.bytes) << testing::PrintToString(c.utf8);
}

TEST(EncodeText, PiecesCutAnywhereGiveTheSameBytesAndDecodeBack) {
    const std::string pieces[] = {"a", "\r\n", "\xC3\xA4", "\xE8\xA8\x88", "\xF0\x9F\x98\x80", "Name=", "="};
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::size_t> pick(0, 6);
    std::uniform_int_distribution<int> count(0, 30);
    for (int i = 0; i < 2000; ++i) {
        std::string utf8 = mark;
        for (int n = count(rng); n > 0; --n) utf8 += pieces[pick(rng)];
        for (Text_encoding encoding : {Text_encoding::utf16_le, Text_encoding::utf16_be}) {
            std::string carry;
            std::string out;
            std::size_t pos = 0;
            while (pos < utf8.size()) {
                const std::size_t take = std::uniform_int_distribution<std::size_t>(0, 5)(rng);
                const std::string piece = utf8.substr(pos, take);
                pos += piece.size();
                encode_text(encoding, piece, carry, false, out);
            }
            encode_text(encoding, {}, carry, true, out);
            ASSERT_EQ(out, encode_whole(encoding, utf8));
            std::string buffer;
            const std::optional<Decoded_text> decoded = decode_layout(out, buffer);
            ASSERT_TRUE(decoded);
            ASSERT_EQ(decoded->encoding, encoding);
            ASSERT_EQ(std::string(decoded->preamble) + std::string(decoded->text), utf8);
        }
    }
}

}  // namespace
}  // namespace quarvel
