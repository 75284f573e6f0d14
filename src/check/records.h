// Records (dicts against declared fields and catch-all clauses).
#pragma once
#include "check/scalars.h"
#include "py/dict_iter.h"

#include <string_view>

namespace kestrome {

// The UTF-8 text of a str key, or nothing (a non-str key, or one that does
// not encode, the error dropped).
[[gnu::always_inline]] inline std::optional<std::string_view> key_text(PyObject* key) {
    if (!PyUnicode_Check(key)) return std::nullopt;
    // Keys are mostly ASCII: their text is read in place.
    if (PyUnicode_IS_COMPACT_ASCII(key)) {
        return std::string_view(reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(key) + 1),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
    }
    return str_utf8(key);
}

// Whether the key and the value fit the clause, in boolean mode.
template <class V>
bool walk_catch_all_pair(V key, V value, const CatchAll& clause, const WalkContext& boolean) {
    Path path;
    Records records;
    if (!walk_child(clause.key, key, path, boolean, records)) return false;
    return walk_child(clause.value, value, path, boolean, records);
}

template <class V>
bool accepted_by_a_clause(V key, V value, const Schema& node, const WalkContext& boolean) {
    for (const CatchAll& clause : node.clauses) {
        if (walk_catch_all_pair(key, value, clause, boolean)) return true;
    }
    return false;
}

// Whether some clause's prepared tests certainly accept the entry.
template <class V>
bool clauses_fast_accept(const FieldNameSet& names, V key, V item) {
    for (std::size_t c = 0; c + 1 < names.clause_checks.size(); c += 2) {
        if (fast_accepts(names.clause_checks[c], key) && fast_accepts(names.clause_checks[c + 1], item)) return true;
    }
    return false;
}

// The same for a record of one clause and no field (dict[K, V]): one loop
// specialised on both tests.
inline bool dict_fast_accepts(const FieldNameSet& names, PyObject* dict) {
    return with_fast_test(names.clause_checks[0], [&](auto key_test) {
        return with_fast_test(names.clause_checks[1], [&](auto value_test) {
            Py_ssize_t pos = 0;
            PyObject* key = nullptr;
            PyObject* item = nullptr;
            while (PyDict_Next(dict, &pos, &key, &item)) {
                if (!key_test(key) || !value_test(item)) return false;
            }
            return true;
        });
    });
}

// True only when the record certainly accepts the dict, decided without
// Python code: every key an exact str (so each names at most one field and
// no key comparison runs code) and every entry accepted by a prepared test.
inline bool record_fast_accepts(const Schema& node, const FieldNameSet& names, PyObject* dict) {
    if (node.fields.empty() && names.clause_checks.size() == 2) return dict_fast_accepts(names, dict);
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    std::uint64_t required = 0;
    while (PyDict_Next(dict, &pos, &key, &item)) {
        if (!PyUnicode_CheckExact(key)) return false;
        if (!node.fields.empty()) {
            const std::optional<std::string_view> text = key_text(key);
            if (!text) return false;
            if (const std::uint64_t* hit = names.names.find(*text, str_hash(key))) {
                if (!fast_accepts(names.field_checks[*hit], item)) return false;
                if (node.fields[*hit].required) ++required;
                continue;
            }
        }
        if (!clauses_fast_accept(names, key, item)) return false;
    }
    return required == names.required_count;
}

// The required fields met so far, each counted once: two distinct keys can
// carry the same text (a str subclass with its own hash beside the str).
// The first 64 positions live in a word; a record with more fields gets a
// vector once a key names one of the later positions.
class RequiredFieldsMet {
public:
    explicit RequiredFieldsMet(std::size_t field_count) : field_count_(field_count) {}

    // True when the field at `position` had not been met before.
    [[gnu::always_inline]] bool meet(std::size_t position) {
        if (position < 64) {
            const std::uint64_t bit = std::uint64_t{1} << position;
            const bool first = (low_ & bit) == 0;
            low_ |= bit;
            return first;
        }
        return meet_high(position);
    }

private:
    [[gnu::noinline]] bool meet_high(std::size_t position) {
        if (high_.empty()) high_.assign(field_count_ - 64, false);
        const bool first = !high_[position - 64];
        high_[position - 64] = true;
        return first;
    }

    std::size_t field_count_;
    std::uint64_t low_ = 0;
    std::vector<bool> high_;
};

// The entries of a dict against the fields (named by `names`, null for a
// record without fields) and the clauses.
inline bool record_entries_pass(const Schema& node, PyObject* value, const FieldNameSet* names,
                                const WalkContext& ctx) {
    const bool with_checks = names != nullptr && names->field_checks.size() == node.fields.size();
    std::uint64_t remaining = names ? names->required_count : 0;
    RequiredFieldsMet met(node.fields.size());
    const WalkContext scratch = ctx.scratch(WalkMode::Boolean);
    const WalkContext& boolean = ctx.mode == WalkMode::Boolean ? ctx : scratch;
    Path path;
    Records records;
    // Entries decided by a prepared test run no Python code and need no
    // reference; any other is held while the general walk runs.
    py::DictReader reader(value);
    while (reader.next_unheld()) {
        PyObject* key = reader.key();
        PyObject* item = reader.value();
        std::size_t position = node.fields.size();
        if (names != nullptr && !node.fields.empty()) {
            if (const std::optional<std::string_view> text = key_text(key)) {
                if (const std::uint64_t* hit = names->names.find(*text, str_hash(key))) position = *hit;
            }
        }
        if (position < node.fields.size()) {
            const Field& field = node.fields[position];
            if (!(with_checks && fast_accepts(names->field_checks[position], item))) {
                reader.hold();
                if (!walk_child(field.schema, item, path, boolean, records)) return false;
            }
            if (field.required && met.meet(position) && remaining > 0) --remaining;
        } else {
            reader.hold();
            if (!accepted_by_a_clause(key, item, node, boolean)) return false;
        }
    }
    return remaining == 0;
}

// Without lookup tables the names are gathered for this check; kept out of
// line so that the common pass's frame stays small.
[[gnu::noinline]] inline bool record_pass_without_tables(const Schema& node, PyObject* value,
                                                         const WalkContext& ctx) {
    const FieldNameSet names = field_name_set_of(node);
    return record_entries_pass(node, value, &names, ctx);
}

inline bool record_boolean_pass(const Schema& node, PyObject* value, const WalkContext& ctx) {
    if (!PyDict_Check(value)) return false;
    const FieldNameSet* names = ctx.field_names->find(record_key(node));
    if (names != nullptr && names->all_fast && record_fast_accepts(node, *names, value)) return true;
    if (node.fields.empty()) return record_entries_pass(node, value, nullptr, ctx);
    if (names == nullptr) return record_pass_without_tables(node, value, ctx);
    return record_entries_pass(node, value, names, ctx);
}

// Whether an entry after entry i has the same key: of entries that share a
// key, a dict made from the document keeps only the last.
inline bool has_later_entry(const JsonTree& tree, const JsonNode& object, std::uint32_t i, std::string_view key) {
    for (std::uint32_t j = i + 1; j < object.count; ++j) {
        if (tree.key(tree.entry(object, j)) == key) return true;
    }
    return false;
}

// The entries of a JSON object in order, as a dict made from the document
// would hold them: each against its field or the clauses. A failing entry
// that a later one of the same key replaces does not count.
inline bool record_entries_pass(const Schema& node, JsonRef value, const FieldNameSet* names,
                                const WalkContext& ctx) {
    const JsonNode& object = *value.node;
    const JsonTree& tree = *value.tree;
    const bool with_checks = names != nullptr && names->field_checks.size() == node.fields.size();
    const bool with_clause_checks = names != nullptr && names->clause_checks.size() == 2 * node.clauses.size();
    std::uint64_t remaining = names != nullptr && !node.fields.empty() ? names->required_count : 0;
    RequiredFieldsMet met(node.fields.size());
    const WalkContext scratch = ctx.scratch(WalkMode::Boolean);
    const WalkContext& boolean = ctx.mode == WalkMode::Boolean ? ctx : scratch;
    Path path;
    Records records;
    for (std::uint32_t i = 0; i < object.count; ++i) {
        const JsonEntry& entry = tree.entry(object, i);
        const std::string_view key = tree.key(entry);
        const JsonRef item{&tree, &tree.value(entry)};
        std::size_t position = node.fields.size();
        if (!node.fields.empty()) {
            if (const std::uint64_t* hit = names->names.find(key)) position = *hit;
        }
        bool accepted;
        if (position < node.fields.size()) {
            const Field& field = node.fields[position];
            accepted = (with_checks && fast_accepts(names->field_checks[position], item)) ||
                       walk_child(field.schema, item, path, boolean, records);
            if (accepted && field.required && met.meet(position) && remaining > 0) --remaining;
        } else if (node.clauses.empty()) {
            accepted = false;
        } else {
            JsonNode key_node(JsonKind::String);
            key_node.first = entry.key_first;
            key_node.count = entry.key_count;
            key_node.in_arena = entry.key_in_arena;
            const JsonRef key_ref{&tree, &key_node};
            accepted = (with_clause_checks && clauses_fast_accept(*names, key_ref, item)) ||
                       accepted_by_a_clause(key_ref, item, node, boolean);
        }
        if (!accepted && !has_later_entry(tree, object, i, key)) return false;
    }
    return remaining == 0;
}

[[gnu::noinline]] inline bool record_pass_without_tables(const Schema& node, JsonRef value, const WalkContext& ctx) {
    const FieldNameSet names = field_name_set_of(node);
    return record_entries_pass(node, value, &names, ctx);
}

inline bool record_boolean_pass(const Schema& node, JsonRef value, const WalkContext& ctx) {
    if (value.node->kind != JsonKind::Object) return false;
    const FieldNameSet* names = ctx.field_names->find(record_key(node));
    if (names == nullptr && !node.fields.empty()) return record_pass_without_tables(node, value, ctx);
    return record_entries_pass(node, value, names, ctx);
}

// The text of an undeclared key in a path: str(key) in display form.
inline std::optional<std::string> str_text(PyObject* key) {
    py::Ref text = py::Ref::steal(PyObject_Str(key));
    if (!text) {
        py::discard_error();
        return std::nullopt;
    }
    return display_text(text.get());
}

// JSON nodes reach the report only in theory: the raising JSON methods walk
// Python objects.
inline void report_record_errors(const Schema&, JsonRef value, Path& path, const WalkContext&, Records& records) {
    push_record("dict_type", "dict", value_ref_repr(value), path, records);
}

inline void report_record_errors(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx,
                                 Records& records) {
    if (!PyDict_Check(value)) {
        push_record("dict_type", "dict", value_ref_repr(value), path, records);
        return;
    }
    const bool fail_fast = ctx.mode == WalkMode::FailFast;
    for (std::size_t i = 0; i < node.fields.size(); ++i) {
        const Field& field = node.fields[i];
        PyObject* made = ctx.name_strs != nullptr ? ctx.name_strs->get(node, i) : nullptr;
        const py::Ref name = made != nullptr ? py::Ref::borrow(made) : make_str(field.name);
        PyObject* found = PyDict_GetItemWithError(value, name.get());
        if (found == nullptr && PyErr_Occurred()) {
            py::discard_error();
            push_record("dict_type", "dict", value_repr(value), path, records);
        } else if (found != nullptr) {
            py::Ref item = py::Ref::borrow(found);
            walk_part(field.schema, item.get(), [&] { return PathSegment::named(field.name); }, path, ctx, records);
        } else if (field.required) {
            records.push_back(make_key_error_record(path, field.name, "missing_key",
                                                    "required key " + debug_quote(field.name), "missing"));
        }
        if (fail_fast && !records.empty()) return;
    }
    const FieldNameSet* declared = ctx.field_names->find(record_key(node));
    std::optional<FieldNameSet> local;  // only without lookup tables
    if (declared == nullptr) {
        local = field_name_set_of(node);
        declared = &*local;
    }
    const WalkContext boolean = ctx.scratch(WalkMode::Boolean);
    py::DictReader reader(value);
    while (reader.next()) {
        PyObject* key = reader.key();
        PyObject* item = reader.value();
        if (const std::optional<std::string_view> text = key_text(key)) {
            if (declared->names.find(*text, str_hash(key))) continue;
        }
        if (accepted_by_a_clause(key, item, node, boolean)) continue;
        if (!node.clauses.empty()) {
            const std::optional<std::string> text = str_text(key);
            std::string segment = text ? truncate_chars(*text, 40) : value_repr(key);
            path.push_back(PathSegment::named(std::move(segment)));
            walk_value(node.clauses[0].key, key, path, ctx, records);
            walk_value(node.clauses[0].value, item, path, ctx, records);
            path.pop_back();
        } else {
            std::string text = str_text(key).value_or(std::string());
            std::string quoted = debug_quote(text);
            records.push_back(make_key_error_record(path, std::move(text), "extra_forbidden", "no unexpected key",
                                                    std::move(quoted)));
        }
        if (fail_fast && !records.empty()) return;
    }
}

template <class V>
[[gnu::noinline]] bool walk_record(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (record_boolean_pass(node, value, ctx)) return true;
    if (ctx.makes_records()) report_record_errors(node, value, path, ctx, records);
    return false;
}

}  // namespace kestrome
