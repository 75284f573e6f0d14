// The value-kind adapter: what the walk reads of a container, for a Python
// value (PyObject*) and for a node of a parsed JSON document (JsonRef), so
// that each container kind's walk is written once over both.
//
// A Python value can run code while it is walked (a predicate, __eq__), so
// its adapter hands out references to hold (`hold`) and rereads what that
// code may change; a JSON tree is fixed for the whole check, and holding is
// free.
#pragma once
#include "check/fast.h"
#include "py/dict_iter.h"
#include "py/str_hash.h"
#include "util/text.h"
#include "util/text_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrome {

// What the walk needs of a value beyond its kind's own tests: its text, its
// identity (for the recursion guard) and a Python object for it (the value
// itself, or a conversion of a JSON node, empty with the exception pending).
inline std::string value_ref_repr(PyObject* value) { return value_repr(value); }

inline std::string value_ref_repr(JsonRef value) {
    py::Ref converted = json_value_to_py(*value.tree, *value.node);
    if (!converted) {
        py::discard_error();
        return "<unrepresentable>";
    }
    return value_repr(converted.get());
}

inline std::uint64_t value_identity(PyObject* value) { return reinterpret_cast<std::uintptr_t>(value); }
inline std::uint64_t value_identity(JsonRef value) { return reinterpret_cast<std::uintptr_t>(value.node); }

inline py::Ref to_python(PyObject* value) { return py::Ref::borrow(value); }
inline py::Ref to_python(JsonRef value) { return json_value_to_py(*value.tree, *value.node); }

template <class V>
struct ValueKind;

template <>
struct ValueKind<PyObject*> {
    using Held = py::Ref;
    static Held hold(PyObject* value) { return py::Ref::borrow(value); }

    // Lists and tuples.
    static bool is_sequence(PyObject* value, bool tuple) {
        return tuple ? PyTuple_Check(value) != 0 : PyList_Check(value) != 0;
    }
    static std::size_t length(PyObject* value) { return static_cast<std::size_t>(Py_SIZE(value)); }
    static PyObject* const* items(PyObject* value, bool tuple) {
        return tuple ? reinterpret_cast<PyTupleObject*>(value)->ob_item
                     : reinterpret_cast<PyListObject*>(value)->ob_item;
    }
    // Python code run by the walk may shrink a list: its items are reread.
    static bool has_item(PyObject* value, bool tuple, std::size_t i) {
        return tuple || i < static_cast<std::size_t>(PyList_GET_SIZE(value));
    }
    static PyObject* item(PyObject* value, bool tuple, std::size_t i) { return items(value, tuple)[i]; }
    // The leading items the prepared test certainly accepts: no Python code
    // runs, so the items cannot change under the scan.
    static std::size_t accepted_run(const FastCheck& check, PyObject* value, bool tuple) {
        return fast_accepted_run(check, items(value, tuple), length(value));
    }

    // Dicts. Their entries are read in order without references; `hold`
    // takes them before anything that may run Python code.
    static bool is_mapping(PyObject* value) { return PyDict_Check(value) != 0; }

    // The value a text table gives a key whose UTF-8 text is `text`.
    [[gnu::always_inline]] static const std::uint64_t* find_key(const TextIndex& index, PyObject* key,
                                                                std::optional<std::string_view> text) {
        return text ? index.find(*text, str_hash(key)) : nullptr;
    }

    class Entries {
    public:
        explicit Entries(PyObject* dict) : reader_(dict) {}
        [[gnu::always_inline]] bool next() { return reader_.next_unheld(); }
        PyObject* key() const { return reader_.key(); }
        PyObject* item() const { return reader_.value(); }
        void hold() { reader_.hold(); }
        // By the key's text: a non-str key, or one that does not encode, is
        // in no table. Encoding may run Python code, so the entry is held
        // first.
        [[gnu::always_inline]] const std::uint64_t* find_in(const TextIndex& index) {
            PyObject* key = reader_.key();
            if (!PyUnicode_Check(key)) return nullptr;
            std::optional<std::string_view> text = str_utf8_in_place(key);
            if (!text) [[unlikely]] {
                hold();
                text = str_utf8(key);
            }
            return find_key(index, key, text);
        }
        // A dict holds each key once.
        bool replaced_later() const { return false; }

    private:
        py::DictReader reader_;
    };

    // The entries for a loop that runs no Python code, read without the
    // guards against changes that only Python code could make; dicts whose
    // keys are all exact strs are read in place (else run_ stays empty).
    class Scan {
    public:
        explicit Scan(PyObject* dict) : dict_(dict) {
            if (prepared_roads) py::in_place_entries_of(dict, run_);
        }
        [[gnu::always_inline]] bool next() {
            if (run_.first != nullptr) {
                while (run_.first != run_.last) {
                    const py::InPlaceEntry* entry = run_.first++;
                    if (entry->value != nullptr) {
                        key_ = entry->key;
                        item_ = entry->value;
                        return true;
                    }
                }
                return false;
            }
            return PyDict_Next(dict_, &pos_, &key_, &item_) != 0;
        }
        PyObject* key() const { return key_; }
        PyObject* item() const { return item_; }
        // For a key that key_is_plain_text() admits.
        [[gnu::always_inline]] const std::uint64_t* find_in(const TextIndex& index) const {
            return find_key(index, key_, str_utf8_in_place(key_));
        }
        // Whether the key is an exact str whose text is at hand, so that it
        // names at most one field and neither comparing nor reading it runs
        // Python code.
        bool key_is_plain_text() const { return PyUnicode_CheckExact(key_) != 0 && str_utf8_in_place(key_); }
        static constexpr bool keys_unique = true;
        bool replaced_later() const { return false; }
        // Whether the key is `object` (the validator's own str for the
        // text, when it has one) or a str of this text (and str hash);
        // nothing when the key's text is not at hand to tell.
        std::optional<bool> key_is(std::string_view text, std::uint64_t hash, PyObject* object) const {
            if (key_ == object) return true;
            if (!PyUnicode_Check(key_)) return false;
            const std::optional<std::string_view> own = str_utf8_in_place(key_);
            if (own) return str_hash(key_) == hash && same_text(*own, text);
            // Equal texts have equal str hashes: only a key of this hash is
            // left undecided.
            if (PyUnicode_IS_READY(key_) && str_hash(key_) != hash) return false;
            return std::nullopt;
        }

    private:
        PyObject* dict_;
        py::InPlaceEntries run_;
        Py_ssize_t pos_ = 0;
        PyObject* key_ = nullptr;
        PyObject* item_ = nullptr;
    };

    // A field's value by its name, for the report.
    struct FieldLookup {
        bool failed = false;  // the lookup raised (a key's __eq__, say)
        bool present = false;
        PyObject* item = nullptr;
        Held held;
    };
    static FieldLookup find_field(PyObject* dict, const Schema& node, std::size_t i, const WalkContext& ctx) {
        PyObject* made = ctx.name_strs != nullptr ? ctx.name_strs->get(node, i) : nullptr;
        const py::Ref name = made != nullptr ? py::Ref::borrow(made) : make_str(node.fields()[i].name);
        PyObject* found = PyDict_GetItemWithError(dict, name.get());
        if (found == nullptr && PyErr_Occurred()) {
            py::discard_error();
            return FieldLookup{true, false, nullptr, {}};
        }
        return FieldLookup{false, found != nullptr, found, py::Ref::borrow(found)};
    }

    // Tags: texts by their bytes and str hash (read in place, so a text not
    // at hand finds nothing), ints by value, any other object by identity.
    static const std::uint64_t* find_text(const TextIndex& index, PyObject* str) {
        return find_key(index, str, str_utf8_in_place(str));
    }
    static std::optional<std::int64_t> exact_int(PyObject* value) { return exact_int_value(value); }
    static PyObject* identity_object(PyObject* value) { return value; }

    // Sets and frozensets.
    static constexpr bool has_sets = true;
    static bool is_set(PyObject* value, bool frozen) {
        return frozen ? PyFrozenSet_Check(value) != 0 : PySet_Check(value) != 0;
    }
};

template <>
struct ValueKind<JsonRef> {
    struct Held {};
    static Held hold(JsonRef) { return {}; }

    // Arrays; no JSON node is a tuple.
    static bool is_sequence(JsonRef value, bool tuple) { return !tuple && value.node->kind == JsonKind::Array; }
    static std::size_t length(JsonRef value) { return value.node->count; }
    static bool has_item(JsonRef, bool, std::size_t) { return true; }
    static JsonRef item(JsonRef value, bool, std::size_t i) {
        return JsonRef{value.tree, &value.tree->item(*value.node, static_cast<std::uint32_t>(i))};
    }
    // An array's elements are one run of the tree's nodes.
    static std::size_t accepted_run(const FastCheck& check, JsonRef value, bool) {
        return fast_accepted_run(check, *value.tree, value.tree->nodes.data() + value.node->first, length(value));
    }

    // Objects, read as the dict made from the document would hold them: of
    // entries that share a key, only the last counts.
    static bool is_mapping(JsonRef value) { return value.node->kind == JsonKind::Object; }

    class Entries {
    public:
        explicit Entries(JsonRef object) : tree_(*object.tree), object_(*object.node) {}
        [[gnu::always_inline]] bool next() {
            if (++i_ >= object_.count) return false;
            entry_ = &tree_.entry(object_, i_);
            return true;
        }
        // The key as a string node, valid until the next move.
        JsonRef key() {
            key_node_.first = entry_->key_first;
            key_node_.count = entry_->key_count;
            key_node_.in_arena = entry_->key_in_arena;
            return JsonRef{&tree_, &key_node_};
        }
        JsonRef item() const { return JsonRef{&tree_, &tree_.value(*entry_)}; }
        void hold() {}
        // Texts are found by their UTF-8 bytes, first as the text after the
        // last one found: keys mostly come in the order of the fields.
        [[gnu::always_inline]] const std::uint64_t* find_in(const TextIndex& index) {
            return index.find_next(tree_.key(*entry_), next_text_);
        }
        bool key_is_plain_text() const { return true; }
        bool key_is(std::string_view text, std::uint64_t, PyObject*) const { return same_text(tree_.key(*entry_), text); }
        static constexpr bool keys_unique = false;
        // Whether a later entry has the same key. The first question scans
        // the entries after this one; a second one works out which entries
        // a later one replaces, once for the object, so that an object whose
        // keys repeat is read in linear time, and the common object (asked
        // at most once, when an entry fails) makes no table.
        bool replaced_later() {
            if (replaced_.empty()) {
                if (!asked_) {
                    asked_ = true;
                    return key_repeats_after(i_);
                }
                mark_replaced();
            }
            return replaced_[i_];
        }

    private:
        bool key_repeats_after(std::uint32_t i) const {
            const std::string_view key = tree_.key(tree_.entry(object_, i));
            for (std::uint32_t j = i + 1; j < object_.count; ++j) {
                if (tree_.key(tree_.entry(object_, j)) == key) return true;
            }
            return false;
        }
        // By sorting, not hashing: the keys are the document's, and no
        // input can make a sort slow.
        [[gnu::noinline]] void mark_replaced() {
            std::vector<std::uint32_t> order(object_.count);
            for (std::uint32_t j = 0; j < object_.count; ++j) order[j] = j;
            const auto key_at = [this](std::uint32_t j) { return tree_.key(tree_.entry(object_, j)); };
            std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
                const int c = key_at(a).compare(key_at(b));
                return c < 0 || (c == 0 && a < b);
            });
            replaced_.assign(object_.count, false);
            for (std::size_t k = 0; k + 1 < order.size(); ++k) {
                if (key_at(order[k]) == key_at(order[k + 1])) replaced_[order[k]] = true;
            }
        }

        const JsonTree& tree_;
        const JsonNode& object_;
        std::uint32_t i_ = static_cast<std::uint32_t>(-1);
        const JsonEntry* entry_ = nullptr;
        std::size_t next_text_ = 0;
        JsonNode key_node_{JsonKind::String};
        bool asked_ = false;
        std::vector<bool> replaced_;  // by entry, once asked twice
    };
    // Nothing can change a JSON tree: every loop reads it one way.
    using Scan = Entries;

    struct FieldLookup {
        bool failed = false;
        bool present = false;
        JsonRef item{};
        Held held;
    };
    static FieldLookup find_field(JsonRef object, const Schema& node, std::size_t i, const WalkContext&) {
        const std::string_view name = node.fields()[i].name;
        for (std::uint32_t j = object.node->count; j-- > 0;) {
            const JsonEntry& entry = object.tree->entry(*object.node, j);
            if (object.tree->key(entry) == name) {
                return FieldLookup{false, true, JsonRef{object.tree, &object.tree->value(entry)}, {}};
            }
        }
        return FieldLookup{};
    }

    // Tags: texts by their bytes, ints by value; true, false and null are
    // the objects a document loads them to.
    static const std::uint64_t* find_text(const TextIndex& index, JsonRef str) {
        return index.find(str.tree->text(*str.node));
    }
    static std::optional<std::int64_t> exact_int(JsonRef value) {
        if (value.node->kind != JsonKind::Int) return std::nullopt;
        return value.node->integer;
    }
    static PyObject* identity_object(JsonRef value) {
        switch (value.node->kind) {
            case JsonKind::Bool: return value.node->truth ? Py_True : Py_False;
            case JsonKind::Null: return Py_None;
            default: return nullptr;
        }
    }

    // No JSON node is a set.
    static constexpr bool has_sets = false;
    static bool is_set(JsonRef, bool) { return false; }
};

}  // namespace kestrome
