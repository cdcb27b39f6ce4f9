#include "platform/output.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/output_calls.h"

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

// A number for temporary names, different from run to run: the system's random
// source where the library offers one, the clock, and where this run's stack is.
std::uint64_t random_number() {
    static std::mt19937_64 engine = [] {
        std::uint64_t bits = reinterpret_cast<std::uintptr_t>(&bits);
        bits ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        try {
            bits ^= std::random_device()();
        } catch (...) {
        }
        return std::mt19937_64(bits);
    }();
    return engine();
}

// The 8 hex digits that check the random ones of a temporary name.
std::string check_digits(const std::string& prefix, std::string_view random) {
    return hex(hash_of(std::string(prefix).append(random)) & 0xFFFFFFFFu, 8);
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

std::string new_temp_name(const std::string& name) {
    const std::string prefix = temp_prefix(name);
    const std::string random = hex(random_number() & 0xFFFFFFFFu, 8);
    return prefix + random + check_digits(prefix, random);
}

bool is_temp_name(std::string_view found) {
    const std::size_t digits = found.size() - 16;
    if (found.size() < temp_suffix_size || found.substr(found.size() - temp_suffix_size, 5) != ".tmp.") return false;
    return found.substr(digits + 8) == check_digits(std::string(found.substr(0, digits)), found.substr(digits, 8));
}

bool is_own_temp_name(std::string_view found, const std::string& name) {
    const std::string prefix = temp_prefix(name);
    return found.size() == prefix.size() + 16 && found.substr(0, prefix.size()) == prefix && is_temp_name(found);
}

Safe_output::Safe_output() : files(new Output_files) {}

Safe_output::~Safe_output() { drop_new_file(*files); }

Failure lock_output(const std::string& path, Safe_output& safe) {
    Output_files& out = *safe.files;
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

Failure begin_output(Safe_output& safe) {
    Output_files& out = *safe.files;
    return out.found.exists && !out.found.regular ? open_direct(out) : create_new_file(out);
}

Failure write_output_bytes(Safe_output& safe, std::string_view bytes) {
    const int error = write_all(safe.files->file, bytes);
    return error != 0 ? failure(Failure::Kind::write, safe.files->path, error) : Failure{};
}

Failure finish_output(Safe_output& safe) {
    Output_files& out = *safe.files;
    const int error = out.direct ? close_file(out.file) : sync_file(out.file);
    return error != 0 ? failure(Failure::Kind::write, out.path, error) : Failure{};
}

Failure commit_output(Safe_output& safe) {
    // The point of no return is inside: from there the new file may stand at the output.
    return safe.files->direct ? Failure{} : replace_output(*safe.files);
}

}  // namespace quarvel
