// A strict RFC 8259 JSON reader: into Python objects in one pass, or into a
// value tree. Nesting deeper than 200 arrays and objects is refused.
#pragma once
#include "json/tree.h"
#include "py/ref.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrome {

inline constexpr int JSON_RECURSION_LIMIT = 200;

// The value tree holds 32-bit offsets: larger documents are refused.
inline constexpr std::size_t JSON_MAX_BYTES = (std::size_t{1} << 32) - 1;

struct JsonError {
    static constexpr std::size_t NO_POSITION = static_cast<std::size_t>(-1);

    const char* kind = nullptr;  // the message of the error kind
    std::size_t index = 0;       // byte offset into the input, or NO_POSITION
    long digit_limit = 0;        // the limit an integer's digits exceeded
};

// The document as one new Python object, or an empty reference with `error`
// set. Failing to create a Python object is an internal failure.
py::Ref parse_json_python(std::string_view input, JsonError& error);

// Object keys are shared through a process-wide cache of recent keys. This
// puts the given str objects into it for their texts, so that a document
// read next hands them out as its keys (a validator's own field names, which
// its walk then finds by identity). Returns the cache's count of replaced
// keys after the change: while it stays the same, nothing was pushed out.
std::uint64_t prefer_json_keys(const py::Ref* strs, std::size_t count, std::uint64_t replaced_before);

// The document as a value tree; false with `error` set.
bool parse_json_tree(std::string_view input, JsonTree& tree, JsonError& error);

// "{kind} at line {} column {}", columns counting bytes; the kind alone for
// an error of the whole document.
std::string json_error_text(const JsonError& error, std::string_view input);

}  // namespace kestrome
