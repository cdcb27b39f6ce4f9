// Byte-order marks: taken off before the rules see the first line and put
// back in front of the output.
#pragma once

#include <string_view>

namespace quarvel {

struct Decoded_text {
    std::string_view text;      // what the line rules read
    std::string_view preamble;  // written back in front of the output
};

// Splits a UTF-8 byte-order mark off `contents`; any other file is taken byte
// for byte.
Decoded_text split_byte_order_mark(std::string_view contents);

}  // namespace quarvel
