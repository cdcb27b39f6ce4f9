// What the copies are made from: how many, how far apart, and the meter name
// and parameter keys as the layout spells them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

struct Copy_settings {
    std::string meter_name;
    std::int32_t copies = 0;
    std::int32_t x_shift = 0;
    std::int32_t y_shift = 0;
    std::vector<std::string> parameter_keys;  // in argument order, any number
};

}  // namespace quarvel
