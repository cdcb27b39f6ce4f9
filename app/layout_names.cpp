#include "app/layout_names.h"

#include <string>
#include <vector>

#include "platform/console.h"

namespace quarvel {

Scan_results scan_for_meter(const Decoded_text& input, Text_encoding encoding, Run_settings& settings) {
    Scan_results results = scan_input(input.text, settings.meter_name);
    if (encoding != Text_encoding::bytes || !input.preamble.empty()) return results;

    const std::string ansi_name = results.found ? std::string() : ansi_code_page_form(settings.meter_name);
    std::vector<std::string> keys;
    for (const std::string& key : settings.parameter_keys) {
        keys.push_back(key);
        std::string ansi_key = ansi_code_page_form(key);
        if (!ansi_key.empty()) keys.push_back(std::move(ansi_key));
    }
    // Checked last: names in plain ASCII (and every name on POSIX) need no
    // pass over the whole text.
    const bool nothing_to_add = ansi_name.empty() && keys.size() == settings.parameter_keys.size();
    if (nothing_to_add || is_valid_utf8(input.text)) return results;

    settings.parameter_keys = std::move(keys);
    if (ansi_name.empty()) return results;
    Scan_results ansi_results = scan_input(input.text, ansi_name);
    if (!ansi_results.found) return results;
    settings.meter_name = ansi_name;
    return ansi_results;
}

}  // namespace quarvel
