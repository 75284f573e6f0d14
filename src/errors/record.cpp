#include "errors/record.h"

#include "util/text.h"

#include <cstring>

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

std::string render_error_line(const ErrorRecord& record) {
    // Sized once: the fixed words, the texts, and each step's widest form.
    std::size_t size = 32 + std::strlen(record.code) + record.expected.size() + record.value.size();
    for (const PathSegment& seg : record.path) size += seg.is_key ? seg.key.size() + 1 : 22;
    std::string line;
    line.reserve(size);
    // No "at" part when the path's text is empty (no step, or one empty key).
    line += "at ";
    append_path_text(line, record.path);
    if (line.size() == 3) {
        line.clear();
    } else {
        line += ": ";
    }
    line += "expected ";
    line += record.expected;
    line += ", got ";
    line += record.value;
    line += " [";
    line += record.code;
    line += ']';
    return line;
}

ErrorRecord make_key_error_record(const Path& path, std::string segment, const char* code, std::string expected,
                                  std::string value) {
    ErrorRecord record{path, std::move(expected), std::move(value), code};
    record.path.push_back(PathSegment::named(std::move(segment)));
    return record;
}

}  // namespace kestrome
