#include "regex/properties.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "regex/unicode_tables.h"

namespace kestrome::regex {

namespace {

ClassSet table_set(int index) {
    const ucd::Set s = ucd::SETS[index];
    ClassSet out;
    out.reserve(s.count);
    for (std::uint32_t i = 0; i < s.count; ++i) {
        const ucd::Range r = ucd::RANGES[s.first + i];
        out.push_back({r.lo, r.hi});
    }
    return out;
}

template <class Row, std::size_t N>
const Row* find_name(const Row (&rows)[N], const std::string& name) {
    const Row* it = std::lower_bound(std::begin(rows), std::end(rows), name,
                                     [](const Row& row, const std::string& n) { return std::strcmp(row.name, n.c_str()) < 0; });
    if (it != std::end(rows) && name == it->name) return it;
    return nullptr;
}

ClassSet gc_mask_set(std::uint32_t mask) {
    ClassSet out;
    for (std::size_t leaf = 0; leaf < std::size(ucd::GC_LEAVES); ++leaf) {
        if (mask & (1u << leaf)) {
            const ClassSet part = table_set(ucd::GC_LEAVES[leaf]);
            out.insert(out.end(), part.begin(), part.end());
        }
    }
    canonicalize(out);
    return out;
}

// General category by loose value, including Any, ASCII and Assigned.
std::optional<PropertyLookup> general_category(const std::string& value, ClassSet& out) {
    if (value == "any") {
        out = {{0, 0xD7FF}, {0xE000, MAX_CODE_POINT}};
        return PropertyLookup::Found;
    }
    if (value == "ascii") {
        out = {{0, 0x7F}};
        return PropertyLookup::Found;
    }
    if (value == "assigned") {
        out = set_negate(gc_mask_set(ucd::GC_UNASSIGNED_BIT));
        return PropertyLookup::Found;
    }
    const ucd::MaskValue* v = find_name(ucd::GC_VALUES, value);
    if (v == nullptr) return std::nullopt;
    if (v->mask == 0) return PropertyLookup::ValueNotFound;  // surrogates only
    out = gc_mask_set(v->mask);
    return PropertyLookup::Found;
}

std::optional<PropertyLookup> script(const std::string& value, bool extensions, ClassSet& out) {
    const ucd::ScriptValue* v = find_name(ucd::SCRIPT_VALUES, value);
    if (v == nullptr) return std::nullopt;
    const int index = extensions ? v->extensions : v->script;
    if (index < 0) return PropertyLookup::ValueNotFound;
    out = table_set(index);
    return PropertyLookup::Found;
}

template <std::size_t N>
PropertyLookup set_value(const ucd::SetValue (&rows)[N], const std::string& value, ClassSet& out) {
    const ucd::SetValue* v = find_name(rows, value);
    if (v == nullptr || v->set < 0) return PropertyLookup::ValueNotFound;
    out = table_set(v->set);
    return PropertyLookup::Found;
}

PropertyLookup age(const std::string& value, ClassSet& out) {
    const ucd::SetValue* v = find_name(ucd::AGE_VALUES, value);
    if (v == nullptr || v->set < 0) return PropertyLookup::ValueNotFound;
    out.clear();
    for (int i = 0; i <= v->set; ++i) {
        const ClassSet part = table_set(ucd::AGE_SETS[i]);
        out.insert(out.end(), part.begin(), part.end());
    }
    canonicalize(out);
    return PropertyLookup::Found;
}

}  // namespace

std::string loose_name(std::string_view name) {
    bool starts_with_is = name.size() >= 2 && (name[0] == 'i' || name[0] == 'I') && (name[1] == 's' || name[1] == 'S');
    std::string out;
    for (std::size_t i = starts_with_is ? 2 : 0; i < name.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(name[i]);
        if (b == ' ' || b == '_' || b == '-' || b >= 0x80) continue;
        out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
    }
    // "isc" (ISO_Comment) would otherwise become "c", the Other category.
    if (starts_with_is && out == "c") out = "isc";
    return out;
}

PropertyLookup property_class(std::string_view name, ClassSet& out) {
    const std::string norm = loose_name(name);
    // "cf", "sc" and "lc" are property names too, but mean categories here.
    if (norm != "cf" && norm != "sc" && norm != "lc") {
        if (const ucd::PropertyName* p = find_name(ucd::PROPERTY_NAMES, norm)) {
            if (p->kind != ucd::PropertyKind::Binary) return PropertyLookup::PropertyNotFound;
            out = table_set(p->index);
            return PropertyLookup::Found;
        }
    }
    if (auto r = general_category(norm, out)) return *r;
    if (auto r = script(norm, false, out)) return *r;
    return PropertyLookup::PropertyNotFound;
}

PropertyLookup property_value_class(std::string_view name, std::string_view value, ClassSet& out) {
    const std::string norm = loose_name(name);
    const std::string val = loose_name(value);
    const ucd::PropertyName* p = find_name(ucd::PROPERTY_NAMES, norm);
    if (p == nullptr) return PropertyLookup::PropertyNotFound;
    if (p->kind != ucd::PropertyKind::Valued) return PropertyLookup::ValueNotFound;
    switch (static_cast<ucd::Valued>(p->index)) {
        case ucd::Valued::GeneralCategory: return general_category(val, out).value_or(PropertyLookup::ValueNotFound);
        case ucd::Valued::Script: return script(val, false, out).value_or(PropertyLookup::ValueNotFound);
        case ucd::Valued::ScriptExtensions: return script(val, true, out).value_or(PropertyLookup::ValueNotFound);
        case ucd::Valued::Age: return age(val, out);
        case ucd::Valued::GraphemeClusterBreak: return set_value(ucd::GCB_VALUES, val, out);
        case ucd::Valued::WordBreak: return set_value(ucd::WB_VALUES, val, out);
        case ucd::Valued::SentenceBreak: return set_value(ucd::SB_VALUES, val, out);
    }
    return PropertyLookup::ValueNotFound;
}

ClassSet perl_unicode_class(PerlClass kind) {
    switch (kind) {
        case PerlClass::Digit: return gc_mask_set(ucd::GC_DECIMAL_NUMBER_BIT);
        case PerlClass::Space: return table_set(ucd::WHITE_SPACE);
        case PerlClass::Word: break;
    }
    return table_set(ucd::PERL_WORD);
}

ClassSet perl_ascii_class(PerlClass kind) {
    switch (kind) {
        case PerlClass::Digit: return {{'0', '9'}};
        case PerlClass::Space: return {{'\t', '\r'}, {' ', ' '}};
        case PerlClass::Word: break;
    }
    return {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}};
}

std::optional<ClassSet> ascii_class(std::string_view name) {
    struct Named {
        const char* name;
        ClassSet set;
    };
    static const Named classes[] = {
        {"alnum", {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}},
        {"alpha", {{'A', 'Z'}, {'a', 'z'}}},
        {"ascii", {{0, 0x7F}}},
        {"blank", {{'\t', '\t'}, {' ', ' '}}},
        {"cntrl", {{0, 0x1F}, {0x7F, 0x7F}}},
        {"digit", {{'0', '9'}}},
        {"graph", {{'!', '~'}}},
        {"lower", {{'a', 'z'}}},
        {"print", {{' ', '~'}}},
        {"punct", {{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}}},
        {"space", {{'\t', '\r'}, {' ', ' '}}},
        {"upper", {{'A', 'Z'}}},
        {"word", {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}},
        {"xdigit", {{'0', '9'}, {'A', 'F'}, {'a', 'f'}}},
    };
    for (const Named& c : classes) {
        if (name == c.name) return c.set;
    }
    return std::nullopt;
}

bool is_word_code_point(std::uint32_t cp) {
    if (cp < 0x80) {
        return (cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || cp == '_';
    }
    const ucd::Set s = ucd::SETS[ucd::PERL_WORD];
    const ucd::Range* begin = ucd::RANGES + s.first;
    const ucd::Range* end = begin + s.count;
    const ucd::Range* it = std::upper_bound(begin, end, cp, [](std::uint32_t c, const ucd::Range& r) { return c < r.lo; });
    return it != begin && (it - 1)->hi >= cp;
}

bool is_white_space(std::uint32_t cp) {
    return (cp >= 0x9 && cp <= 0xD) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

}  // namespace kestrome::regex
