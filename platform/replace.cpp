#include "platform/replace.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace quarvel {
namespace {

// ".tmp." and 16 hex digits.
constexpr std::size_t temp_suffix_size = 21;
// The longest file name the systems we run on allow (bytes on POSIX, UTF-16
// units on Windows: a UTF-8 byte count is never below the latter).
constexpr std::size_t name_limit = 255;

std::string hex(std::uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// What stands before ".tmp.": the name, or for a name too long to take the
// suffix, its start (cut at a character boundary) and a hash of all of it, so
// that two long names with the same start keep apart.
std::string temp_base(const std::string& name) {
    if (name.size() + temp_suffix_size <= name_limit) return name;
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    std::size_t keep = name_limit - temp_suffix_size - 9;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + "~" + hex(hash & 0xFFFFFFFFu, 8);
}

void fail(Safe_output& out, Failure::Kind kind, std::string reason) {
    if (out.failure.kind != Failure::Kind::none) return;
    out.failure.kind = kind;
    out.failure.reason = std::move(reason);
}

bool same_version(const File_state& a, const File_state& b) {
    return a.exists == b.exists && a.volume == b.volume && a.file == b.file && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

const char* const changed_by_other = "changed by another program since it was read";

// How long a run waits for another run that holds the output's lock.
constexpr int lock_wait_ms = 5000;

// The temporary name for output `name`: the name, ".tmp." and 16 hex digits of
// `random`, shortened (with a hash of the whole name) to fit in 255 bytes.
std::string temp_name_for(const std::string& name, std::uint64_t random) {
    return temp_base(name) + ".tmp." + hex(random, 16);
}

// Whether `candidate` is a temporary name that temp_name_for makes for `name`.
bool is_temp_name_of(const std::string& candidate, const std::string& name) {
    const std::string prefix = temp_base(name) + ".tmp.";
    if (candidate.size() != prefix.size() + 16 || candidate.compare(0, prefix.size(), prefix) != 0)
        return false;
    return candidate.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

}  // namespace

Safe_output::~Safe_output() {
    if (!temp_name.empty()) remove_temp(place, temp_name, file);
    int ignored = 0;
    if (file != no_handle) close_file(file, ignored);
    unlock_output(lock);
    close_output_place(place);
}

void lock_output(const std::string& path, Safe_output& out) {
    int error = 0;
    if (!find_output_place(path, out.place, error)) {
        fail(out, Failure::Kind::write, error_text(error));
        return;
    }
    const File_state found = state_of(out.place, out.place.name);
    if (found.folder) {
        fail(out, Failure::Kind::write, "is a folder");
        return;
    }
    if (found.exists && !found.regular) {
        // A device or a pipe cannot be renamed over: it is written directly.
        out.direct = true;
        return;
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_wait_ms);
    for (;;) {
        const Lock_status status = try_lock_output(out.place, out.lock, out.locked, error);
        if (status == Lock_status::locked) break;
        if (status == Lock_status::failed) {
            fail(out, Failure::Kind::write, error_text(error));
            return;
        }
        if (std::chrono::steady_clock::now() >= give_up) {
            fail(out, Failure::Kind::write, "in use by another run of quarvel");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (out.locked.exists && !may_write(out.place)) fail(out, Failure::Kind::write, "read-only");
}

bool begin_output(Safe_output& out) {
    if (out.failure.kind != Failure::Kind::none) return false;
    int error = 0;
    if (out.direct) {
        if (open_direct(out.place, out.file, error)) return true;
        fail(out, Failure::Kind::write, error_text(error));
        return false;
    }
    // We hold the lock: a temporary file of this output that no live run
    // holds was left by a killed one.
    for (const std::string& name : folder_names(out.place))
        if (is_temp_name_of(name, out.place.name)) remove_if_abandoned(out.place, name);

    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temp_name_for(out.place.name, random_number());
        const Create_status status = create_temp(out.place, name, out.file, error);
        if (status == Create_status::name_taken) continue;
        if (status == Create_status::failed) break;
        out.temp_name = name;
        if (copy_metadata(out.lock, out.file, error)) return true;
        fail(out, Failure::Kind::write, "its permissions cannot be kept: " + error_text(error));
        return false;
    }
    fail(out, Failure::Kind::write, error_text(error));
    return false;
}

bool write_output_bytes(Safe_output& out, std::string_view bytes) {
    if (out.failure.kind != Failure::Kind::none) return false;
    int error = 0;
    if (write_all(out.file, bytes, error)) return true;
    fail(out, Failure::Kind::write, error_text(error));
    return false;
}

bool commit_output(Safe_output& out, Input_file& input) {
    if (out.failure.kind != Failure::Kind::none) return false;
    int error = 0;
    if (out.direct) {
        if (close_file(out.file, error)) return true;
        fail(out, Failure::Kind::write, error_text(error));
        return false;
    }
    if (!sync_file(out.file, error)) {
        fail(out, Failure::Kind::write, error_text(error));
        return false;
    }
    if (!input_unchanged(input)) {
        fail(out, Failure::Kind::read, "changed while it was being read");
        return false;
    }
    close_input(input);
    if (!same_version(state_of(out.place, out.place.name), out.locked)) {
        fail(out, Failure::Kind::write, changed_by_other);
        return false;
    }
    // The point of no return: from here the new file may stand at the output.
    switch (replace_output(out.place, out.temp_name, out.file, out.locked, error)) {
        case Replace_status::replaced:
            break;
        case Replace_status::other_version:
            fail(out, Failure::Kind::write, changed_by_other);
            return false;
        case Replace_status::failed:
            fail(out, Failure::Kind::write, error_text(error));
            return false;
        case Replace_status::failed_after:
            out.temp_name.clear();
            fail(out, Failure::Kind::write,
                 error_text(error) + "; the new file is in place, but may not be on disk");
            return false;
    }
    out.temp_name.clear();
    if (!sync_folder(out.place, error)) {
        fail(out, Failure::Kind::write,
             error_text(error) + "; the new file is in place, but may not be on disk");
        return false;
    }
    return true;
}

}  // namespace quarvel
