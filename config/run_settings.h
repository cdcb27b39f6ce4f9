// The run settings: what the command line asked for, filled once by the entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

struct Run_settings {
    std::string input_path;
    std::string output_path;
    std::string meter_name;
    std::int32_t copies = 0;
    std::int32_t x_shift = 0;
    std::int32_t y_shift = 0;
    std::vector<std::string> parameter_keys;  // in argument order, any number
};

}  // namespace quarvel
