#include "util/text.h"

#include "py/error.h"
#include "util/unicode_escape_table.h"
#include "util/utf8.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace kestrome {

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// Decodes one code point of valid UTF-8 at `i`, advancing it.
std::uint32_t next_code_point(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
    std::uint32_t cp = b0 & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (int k = 1; k < len && i + k < s.size(); ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    i += len;
    return cp;
}

bool needs_escape_beyond_ascii(std::uint32_t cp) {
    const auto* begin = std::begin(ESCAPED_CODE_POINTS);
    const auto* end = std::end(ESCAPED_CODE_POINTS);
    const auto* it = std::upper_bound(begin, end, cp,
                                      [](std::uint32_t v, const CodePointRange& r) { return v < r.first; });
    return it != begin && cp <= (it - 1)->last;
}

void append_hex_escape(std::string& out, std::uint32_t cp) {
    static const char digits[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = digits[cp & 0xF];
        cp >>= 4;
    } while (cp != 0);
    out += "\\u{";
    while (n > 0) {
        out.push_back(buf[--n]);
    }
    out.push_back('}');
}

}  // namespace

void append_decimal(std::string& out, std::uint64_t value) {
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        out.push_back(buf[--n]);
    }
}

std::string utf8_lossy(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(b0));
            ++i;
            continue;
        }
        const Utf8Prefix prefix = utf8_prefix(reinterpret_cast<const unsigned char*>(s.data()), i, s.size());
        if (prefix.length == 0) {
            out += REPLACEMENT;
            ++i;
            continue;
        }
        // The longest valid prefix stands; an incomplete one is one U+FFFD.
        const std::size_t k = prefix.valid;
        if (k == prefix.length) {
            out.append(s.substr(i, k));
        } else {
            out += REPLACEMENT;
        }
        i += k;
    }
    return out;
}

std::string display_text(PyObject* str) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) {
        return std::string(utf8, static_cast<std::size_t>(size));
    }
    py::discard_error();
    py::Ref bytes = py::Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) {
        py::discard_error();
        return std::string();
    }
    return utf8_lossy(std::string_view(PyBytes_AS_STRING(bytes.get()),
                                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))));
}

std::string debug_quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        const std::uint32_t cp = next_code_point(text, i);
        switch (cp) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        if (cp < 0x80) {
            if (cp >= 0x20 && cp < 0x7F) {
                out.push_back(static_cast<char>(cp));
            } else {
                append_hex_escape(out, cp);
            }
        } else if (needs_escape_beyond_ascii(cp)) {
            append_hex_escape(out, cp);
        } else {
            append_utf8(out, cp);
        }
    }
    out.push_back('"');
    return out;
}

std::string truncate_chars(std::string_view text, std::size_t n) {
    if (text.size() <= n) {  // a byte count within n is a character count within n
        return std::string(text);
    }
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == n) {
                std::string out(text.substr(0, i));
                out += "...";
                return out;
            }
            ++chars;
        }
    }
    return std::string(text);
}

std::string value_repr(PyObject* obj) {
    py::Ref repr = py::Ref::steal(PyObject_Repr(obj));
    if (!repr) {
        py::discard_error();
        return "<unrepresentable>";
    }
    std::string text;
    if (PyUnicode_CheckExact(repr.get())) {
        text = display_text(repr.get());
    } else {
        py::Ref str = py::Ref::steal(PyObject_Str(repr.get()));
        if (!str) {
            PyErr_WriteUnraisable(repr.get());
            py::Ref name = py::Ref::steal(PyType_GetName(Py_TYPE(repr.get())));
            if (name && PyUnicode_Check(name.get())) {
                text = "<unprintable " + display_text(name.get()) + " object>";
            } else {
                py::discard_error();
                text = "<unprintable object>";
            }
        } else {
            text = display_text(str.get());
        }
    }
    return truncate_chars(text, 80);
}

std::string class_display_name(PyObject* cls) {
    py::Ref name = py::Ref::steal(PyObject_GetAttrString(cls, "__name__"));
    if (!name) {
        py::discard_error();
        return value_repr(cls);
    }
    if (!PyUnicode_Check(name.get())) {
        return value_repr(cls);
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (utf8 == nullptr) {
        py::discard_error();
        return value_repr(cls);
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

py::Ref make_str(std::string_view text) {
    py::Ref s = py::Ref::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
    if (!s) {
        py::internal_failure("could not create a str object");
    }
    return s;
}

}  // namespace kestrome
