#include "config/encoding.h"

namespace quarvel {

Decoded_text split_byte_order_mark(std::string_view contents) {
    constexpr std::string_view utf8_mark("\xEF\xBB\xBF", 3);
    if (contents.substr(0, 3) == utf8_mark) return {contents.substr(3), contents.substr(0, 3)};
    return {contents, {}};
}

}  // namespace quarvel
