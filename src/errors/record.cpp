#include "errors/record.h"

#include "util/text.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace kestrome {

namespace {

void append_path_text(std::string& out, const Path& path) {
    const std::size_t start = out.size();
    for (const PathSegment& seg : path) {
        if (seg.is_key) {
            if (out.size() > start) out.push_back('.');
            out += seg.key;
        } else {
            out.push_back('[');
            append_decimal(out, seg.index);
            out.push_back(']');
        }
    }
}

}  // namespace

void append_error_line(std::string& out, const ErrorRecord& record) {
    // Room made once: the fixed words, the texts, and each step's widest form.
    std::size_t size = 32 + std::strlen(record.code) + record.expected.size() + record.value.size();
    for (const PathSegment& seg : record.path) size += seg.is_key ? seg.key.size() + 1 : 22;
    out.reserve(out.size() + size);
    // No "at" part when the path's text is empty (no step, or one empty key).
    const std::size_t start = out.size();
    out += "at ";
    append_path_text(out, record.path);
    if (out.size() == start + 3) {
        out.resize(start);
    } else {
        out += ": ";
    }
    out += "expected ";
    out += record.expected;
    out += ", got ";
    out += record.value;
    out += " [";
    out += record.code;
    out += ']';
}

ErrorRecord make_key_error_record(const Path& path, std::string segment, const char* code, std::string expected,
                                  std::string value) {
    ErrorRecord record{path, std::move(expected), std::move(value), code};
    record.path.push_back(PathSegment::named(std::move(segment)));
    return record;
}

}  // namespace kestrome
