#include "app/layout_file.h"

#include <algorithm>

#include "generate/output.h"
#include "platform/console.h"

namespace quarvel {

Failure open_layout(const Run_settings& settings, Layout_file& file) {
    // Both names are resolved once, to files, before the lock is waited for.
    if (Failure failed = find_input(settings.input_path, file.input)) return failed;
    file.lock_failed = lock_output(settings.output_path, file.output);
    if (Failure failed = open_input(file.input)) return failed;
    const std::optional<Decoded_text> text = decode_layout(file.input.bytes, file.decoded);
    if (!text) return {Failure::Kind::read, settings.input_path, "not valid UTF-16"};
    file.text = *text;
    return {};
}

Meter_lookup find_meter(const Decoded_text& text, const Copy_settings& typed) {
    static const Lead_bytes lead_bytes = ansi_lead_bytes();
    const bool legacy = text.encoding == Text_encoding::bytes && text.preamble.empty();
    // Only where the system's code page has two-byte characters (Windows) is
    // the whole text looked at first.
    const Lead_bytes* lead = legacy && std::count(lead_bytes.begin(), lead_bytes.end(), true) > 0 &&
                                     !is_valid_utf8(text.text) ? &lead_bytes : nullptr;
    Meter_lookup found{scan_input(text.text, typed.meter_name, lead), typed, lead};
    if (!legacy) return found;

    const std::string ansi_name = found.results.found ? std::string() : ansi_code_page_form(typed.meter_name);
    std::vector<std::string> keys;
    for (const std::string& key : typed.parameter_keys) {
        keys.push_back(key);
        std::string ansi_key = ansi_code_page_form(key);
        if (!ansi_key.empty()) keys.push_back(std::move(ansi_key));
    }
    // Checked last: names in plain ASCII (and every name on POSIX) need no
    // pass over the whole text.
    const bool nothing_to_add = ansi_name.empty() && keys.size() == typed.parameter_keys.size();
    if (nothing_to_add || (lead == nullptr && is_valid_utf8(text.text))) return found;

    found.copy.parameter_keys = std::move(keys);
    if (ansi_name.empty()) return found;
    Scan_results ansi_results = scan_input(text.text, ansi_name, lead);
    if (!ansi_results.found) return found;
    found.copy.meter_name = ansi_name;
    found.results = std::move(ansi_results);
    return found;
}

Failure replace_layout(Layout_file& file, const Scan_results& results, const Copy_settings& copy) {
    if (file.lock_failed) return file.lock_failed;
    Failure failed = begin_output(file.output);
    const Byte_sink sink = [&file, &failed](std::string_view bytes) {
        return !(failed = write_output_bytes(file.output, bytes));
    };
    const Decoded_text& text = file.text;
    if (!failed && write_output(sink, text.text, results, copy, text.preamble, text.encoding))
        failed = finish_output(file.output);
    if (!failed) failed = check_input(file.input);
    if (failed) return failed;
    release_input(file.input);
    return commit_output(file.output);
}

}  // namespace quarvel
