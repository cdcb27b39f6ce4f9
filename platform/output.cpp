#include "platform/output.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace quarvel {
namespace {

// ".tmp." and 16 hex digits.
constexpr std::size_t temp_suffix_size = 21;
// The longest file name the systems we run on allow (bytes on POSIX, UTF-16
// units on Windows: a UTF-8 byte count is never below the latter).
constexpr std::size_t name_limit = 255;
// How long a run waits for another run that holds the output's lock.
constexpr auto lock_wait = std::chrono::seconds(5);

std::string hex(std::uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// A number for temporary names, different from run to run: from the system's
// random source where the library offers one, the clock, and where the system
// put this run's stack.
std::uint64_t random_number() {
    static std::mt19937_64 engine = [] {
        std::uint64_t bits = 0;
        try {
            bits = std::random_device()();
        } catch (...) {
        }
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seed{bits, now, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&bits))};
        return std::mt19937_64(seed);
    }();
    return engine();
}

}  // namespace

std::string temp_prefix(const std::string& name) {
    if (name.size() + temp_suffix_size <= name_limit) return name + ".tmp.";
    // Too long to take the suffix: its start (cut at a character boundary)
    // and a hash of all of it, so that two long names alike at the start keep apart.
    const std::uint64_t hash = hash_of(name);
    std::size_t keep = name_limit - temp_suffix_size - 9;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + "~" + hex(hash & 0xFFFFFFFFu, 8) + ".tmp.";
}

std::uint64_t hash_of(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string new_temp_name(const std::string& name) { return temp_prefix(name) + hex(random_number(), 16); }

bool is_temp_suffix(std::string_view tail) {
    return tail.size() == 16 && tail.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

Failure lock_output(const std::string& path, Safe_output& out) {
    if (Failure failed = find_output(path, out)) return failed;
    if (out.found.exists && !out.found.regular) return {};
    using clock = std::chrono::steady_clock;
    const auto give_up = clock::now() + lock_wait;
    for (bool taken = false;;) {
        if (Failure failed = try_lock_output(out, taken)) return failed;
        if (taken) return {};
        if (clock::now() > give_up) return {Failure::Kind::write, path, "locked by another program"};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Failure begin_output(Safe_output& out) {
    return out.found.exists && !out.found.regular ? open_direct(out) : create_new_file(out);
}

Failure write_output_bytes(Safe_output& out, std::string_view bytes) {
    if (const int error = write_all(out.file, bytes)) return failure(Failure::Kind::write, out.path, error);
    return {};
}

Failure finish_output(Safe_output& out) {
    const int error = out.direct ? close_file(out.file) : sync_file(out.file);
    return error != 0 ? failure(Failure::Kind::write, out.path, error) : Failure{};
}

Failure commit_output(Safe_output& out) {
    // The point of no return is inside: from there the new file may stand at the output.
    return out.direct ? Failure{} : replace_output(out);
}

}  // namespace quarvel
