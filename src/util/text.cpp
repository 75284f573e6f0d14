#include "util/text.h"

#include "py/error.h"
#include "util/unicode_escape_table.h"
#include "util/utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

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

namespace {

constexpr std::size_t VALUE_TEXT_CHARS = 80;

// The built-in containers whose repr() is the built-in one.
enum class ReprShape : std::uint8_t { Other, List, Tuple, Dict, Set, FrozenSet };

ReprShape repr_shape(PyObject* obj) {
    const reprfunc repr = Py_TYPE(obj)->tp_repr;
    if (PyList_Check(obj) && repr == PyList_Type.tp_repr) return ReprShape::List;
    if (PyTuple_Check(obj) && repr == PyTuple_Type.tp_repr) return ReprShape::Tuple;
    if (PyDict_Check(obj) && repr == PyDict_Type.tp_repr) return ReprShape::Dict;
    if (PySet_CheckExact(obj)) return ReprShape::Set;
    if (PyFrozenSet_CheckExact(obj)) return ReprShape::FrozenSet;
    return ReprShape::Other;
}

// A container marked as being written, as the built-in repr marks it, so
// that one met again inside itself is written "[...]".
class ReprMark {
public:
    explicit ReprMark(PyObject* obj) : obj_(obj), status_(Py_ReprEnter(obj)) {}
    ~ReprMark() {
        if (status_ == 0) Py_ReprLeave(obj_);
    }
    ReprMark(const ReprMark&) = delete;
    ReprMark& operator=(const ReprMark&) = delete;
    int status() const { return status_; }  // 0 marked now, 1 met again, -1 raised

private:
    PyObject* obj_;
    int status_;
};

// The text of repr() of a built-in container, written part by part as the
// built-in repr writes it and only as far as the cut needs: the built-in
// repr of a deeply nested container recurses once per level on the native
// stack, far past what a walk that reports it has left, and takes time for
// every part. Each level writes a character before it descends, so at most
// VALUE_TEXT_CHARS + 1 levels are open. Other values are asked for repr().
class ReprWriter {
public:
    // False when a repr() raised (the exception is pending).
    bool write(PyObject* obj) {
        switch (repr_shape(obj)) {
            case ReprShape::List: return write_list(obj);
            case ReprShape::Tuple: return write_tuple(obj);
            case ReprShape::Dict: return write_dict(obj);
            case ReprShape::Set: return write_set(obj, "{", "}", "set");
            case ReprShape::FrozenSet: return write_set(obj, "frozenset({", "})", "frozenset");
            case ReprShape::Other: break;
        }
        const py::Ref repr = py::Ref::steal(PyObject_Repr(obj));
        if (!repr) return false;
        append(display_text(repr.get()));
        return true;
    }
    std::string text() const { return truncate_chars(out_, VALUE_TEXT_CHARS); }

private:
    bool full() const { return chars_ > VALUE_TEXT_CHARS; }
    void append(std::string_view text) {
        out_ += text;
        for (const char c : text) chars_ += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    bool put(std::string_view text) {
        append(text);
        return true;
    }
    // A part of a container: its separator, then its text.
    bool write_part(PyObject* part, bool first) {
        if (!first) append(", ");
        const py::Ref held = py::Ref::borrow(part);
        return write(held.get());
    }

    bool write_list(PyObject* list) {
        if (PyList_GET_SIZE(list) == 0) return put("[]");
        const ReprMark mark(list);
        if (mark.status() != 0) return mark.status() > 0 && put("[...]");
        append("[");
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list) && !full(); ++i) {
            if (!write_part(PyList_GET_ITEM(list, i), i == 0)) return false;
        }
        append("]");
        return true;
    }

    bool write_tuple(PyObject* tuple) {
        const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
        if (n == 0) return put("()");
        const ReprMark mark(tuple);
        if (mark.status() != 0) return mark.status() > 0 && put("(...)");
        append("(");
        for (Py_ssize_t i = 0; i < n && !full(); ++i) {
            if (!write_part(PyTuple_GET_ITEM(tuple, i), i == 0)) return false;
        }
        append(n == 1 ? ",)" : ")");
        return true;
    }

    bool write_dict(PyObject* dict) {
        const ReprMark mark(dict);
        if (mark.status() != 0) return mark.status() > 0 && put("{...}");
        if (PyDict_GET_SIZE(dict) == 0) return put("{}");
        append("{");
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        for (bool first = true; !full() && PyDict_Next(dict, &pos, &key, &value); first = false) {
            const py::Ref held_value = py::Ref::borrow(value);
            if (!write_part(key, first)) return false;
            append(": ");
            if (!write(held_value.get())) return false;
        }
        append("}");
        return true;
    }

    bool write_set(PyObject* set, std::string_view open, std::string_view close, std::string_view name) {
        const ReprMark mark(set);
        if (mark.status() != 0) return mark.status() > 0 && put(name) && put("(...)");
        if (PySet_GET_SIZE(set) == 0) return put(name) && put("()");
        const py::Ref items = py::Ref::steal(PyObject_GetIter(set));
        if (!items) return false;
        append(open);
        for (bool first = true; !full(); first = false) {
            const py::Ref item = py::Ref::steal(PyIter_Next(items.get()));
            if (!item) {
                if (PyErr_Occurred()) return false;
                break;
            }
            if (!write_part(item.get(), first)) return false;
        }
        append(close);
        return true;
    }

    std::string out_;
    std::size_t chars_ = 0;
};

}  // namespace

std::string value_repr(PyObject* obj) {
    if (repr_shape(obj) != ReprShape::Other) {
        ReprWriter writer;
        if (!writer.write(obj)) {
            py::discard_error();
            return "<unrepresentable>";
        }
        return writer.text();
    }
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
    return truncate_chars(text, VALUE_TEXT_CHARS);
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
