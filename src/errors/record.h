// Error records, their paths and the text of one line of a report: plain
// data, made by the walk; exception/ turns them into Python objects.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrome {

// One step of an error path: a list/tuple position or a key.
struct PathSegment {
    bool is_key = false;
    std::uint64_t index = 0;
    std::string key;

    static PathSegment at(std::uint64_t i) { return PathSegment{false, i, {}}; }
    static PathSegment named(std::string k) { return PathSegment{true, 0, std::move(k)}; }
};

using Path = std::vector<PathSegment>;

struct ErrorRecord {
    Path path;
    std::string expected;
    std::string value;
    const char* code;
};

using Records = std::vector<ErrorRecord>;

// Appends "at {path}: expected {expected}, got {value} [{code}]" (no "at"
// part for an empty path text).
void append_error_line(std::string& out, const ErrorRecord& record);

// A record at `path` plus a final Key segment; the texts are taken as given.
ErrorRecord make_key_error_record(const Path& path, std::string segment, const char* code, std::string expected,
                                  std::string value);

}  // namespace kestrome
