// Records (dicts against declared fields and catch-all clauses).
#include "check/parts.h"
#include "check/step.h"
#include "check/value_kind.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// Whether the key and the value fit some clause, in boolean mode (which
// leaves the caller's scratch path and records as they are).
template <class V>
bool accepted_by_a_clause(V key, V value, const Schema& node, const WalkContext& boolean, Path& path,
                          Records& records) {
    for (const CatchAll& clause : node.clauses()) {
        if (walk_child(clause.key, key, path, boolean, records) && walk_child(clause.value, value, path, boolean, records)) {
            return true;
        }
    }
    return false;
}

// Whether some clause's prepared tests certainly accept the entry.
template <class V>
bool clauses_fast_accept(const FieldNameSet& names, V key, V item) {
    const py::NoPythonScope no_python;
    for (std::size_t c = 0; c + 1 < names.clause_checks.size(); c += 2) {
        if (fast_accepts(names.clause_checks[c], key) && fast_accepts(names.clause_checks[c + 1], item)) return true;
    }
    return false;
}

// The required fields met so far, each counted once: two distinct keys can
// carry the same text (a str subclass with its own hash beside the str, or
// a key a document repeats). The first 64 positions live in a word; a record
// with more fields gets a vector once a key names one of the later positions.
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

// For mappings whose keys cannot repeat (a dict's): every field met is met
// for the first time, and nothing need be kept.
struct KeysNeverRepeat {
    explicit KeysNeverRepeat(std::size_t) {}
    static bool meet(std::size_t) { return true; }
};

// The str objects the validator made for a record's field names, in order,
// or null (also when a name is written twice: its last field decides). Dict
// keys written as literals are those very (interned) objects, and dicts
// mostly hold them in the fields' order: the key of entry i is tried against
// field i's name by identity before its text is looked up.
inline const py::Ref* field_name_objects(const FieldNameSet& names, const WalkContext& ctx) {
    if (ctx.name_strs == nullptr || names.name_objects_at == FieldNameSet::NO_NAME_OBJECTS) return nullptr;
    return ctx.name_strs->strs.data() + names.name_objects_at;
}

// The position of the field the key of entry i names (the key being the
// field's own name object, or of its text), or NO_FIELD.
template <class V, class Entries>
[[gnu::always_inline]] inline std::size_t field_position(Entries& entries, const TextIndex& names,
                                                   const py::Ref*& name_objects, std::size_t i,
                                                   std::size_t field_count) {
    if constexpr (std::is_same_v<V, PyObject*>) {
        if (name_objects != nullptr) {
            if (i < field_count && entries.key() == name_objects[i].get()) return i;
            name_objects = nullptr;  // from the first miss on, by text
        }
    }
    const std::uint64_t* hit = entries.find_in(names);
    return hit != nullptr ? static_cast<std::size_t>(*hit) : NO_FIELD;
}

// A record of one clause and no field (dict[K, V]) whose tests both have a
// form: one loop specialised on both.
template <class V>
bool dict_fast_accepts(const FieldNameSet& names, V value) {
    return with_fast_test<V>(names.clause_checks[0], [&](auto key_test) {
        return with_fast_test<V>(names.clause_checks[1], [&](auto value_test) {
            typename ValueKind<V>::Scan entries(value);
            while (entries.next()) {
                if (!key_test(entries.key()) || !value_test(entries.item())) return false;
            }
            return true;
        });
    });
}

// No field known to be accepted: the common pass, with nothing to compare.
struct NoneAccepted {};
constexpr bool is_known_accepted(NoneAccepted, std::size_t) { return false; }
inline bool is_known_accepted(std::size_t accepted_at, std::size_t at) { return at == accepted_at; }

template <class V, class Accepted>
bool record_fast_accepts(const Schema& node, const FieldNameSet& names, V value, const WalkContext& ctx,
                         Accepted accepted_at);

// Taken only below the nesting limit and the floor of failed passes, and
// counted in the peak that the memo of decisions reads. The nested passes
// follow the schema's own nesting of records (a back edge has no prepared
// pass), and the nesting limit bounds them too.
template <class V, class Accepted>
bool record_pass_below(const FieldNameSet& names, V value, const WalkContext& ctx, Accepted accepted_at) {
    WalkState& call = *ctx.call;
    if (!names.all_fast || call.depth >= call.fast_floor || !ValueKind<V>::is_mapping(value)) return false;
    ++call.depth;
    if (call.depth > call.peak) call.peak = call.depth;
    const bool accepted = record_fast_accepts(*names.node, names, value, ctx, accepted_at);
    --call.depth;
    return accepted;
}

}  // namespace

template <class V>
bool record_accepts_below(const FieldNameSet& names, V value, const WalkContext& ctx, std::size_t accepted_at) {
    return record_pass_below(names, value, ctx, accepted_at);
}

template bool record_accepts_below<PyObject*>(const FieldNameSet&, PyObject*, const WalkContext&, std::size_t);
template bool record_accepts_below<JsonRef>(const FieldNameSet&, JsonRef, const WalkContext&, std::size_t);

namespace {

// Whether the field at `position` is certainly accepted by its part check:
// a list or tuple of one item type whose prepared test accepts every item,
// a record, or a list or tuple of records, whose prepared passes accept it.
// The list stands for one more walk level, as above.
template <class V>
bool items_fast_accepted(const FieldNameSet& names, std::size_t position, V item, const WalkContext& ctx) {
    using Values = ValueKind<V>;
    if (names.items_index.empty() || names.items_index[position] == 0) return false;
    const ItemsCheck& check = names.items_checks[names.items_index[position] - 1];
    if (check.whole) return record_pass_below(*check.record, item, ctx, NoneAccepted{});
    if (!Values::is_sequence(item, check.tuple)) return false;
    WalkState& call = *ctx.call;
    if (call.depth >= MAX_WALK_DEPTH) return false;
    if (call.depth + 1 > call.peak) call.peak = call.depth + 1;
    if (check.record != nullptr) {
        ++call.depth;
        const bool accepted = records_accepted_run(*check.record, item, check.tuple, ctx) == Values::length(item);
        --call.depth;
        return accepted;
    }
    return Values::accepted_run(check.items, item, check.tuple) == Values::length(item);
}

// True only when the record certainly accepts the mapping, decided without
// Python code: every key plain text (so each names at most one field and no
// key comparison runs code) and every entry accepted by a prepared test.
// Where keys can repeat, a failing entry may be one a later entry replaces:
// the general pass decides those. The field at `accepted_at` (or NO_FIELD)
// is known to hold a value its test accepts.
template <class V, class Accepted>
bool record_fast_accepts(const Schema& node, const FieldNameSet& names, V value, const WalkContext& ctx,
                         Accepted accepted_at) {
    using Scan = typename ValueKind<V>::Scan;
    const py::NoPythonScope no_python;
    // Read once: the accessor checks the node's body on every call.
    const std::vector<Field>& fields = node.fields();
    if (fields.empty() && names.clause_checks.size() == 2) return dict_fast_accepts(names, value);
    const py::Ref* name_objects = field_name_objects(names, ctx);
    std::uint64_t required = 0;
    std::conditional_t<Scan::keys_unique, KeysNeverRepeat, RequiredFieldsMet> met(fields.size());
    Scan entries(value);
    for (std::size_t i = 0; entries.next(); ++i) {
        const V item = entries.item();
        std::size_t at = NO_FIELD;
        if constexpr (std::is_same_v<V, PyObject*>) {
            // The field's own name object is an exact str. Keys that are not
            // those objects (made at run time) are looked up by text from the
            // first miss on.
            if (name_objects != nullptr) {
                if (i < fields.size() && entries.key() == name_objects[i].get()) {
                    at = i;
                } else {
                    name_objects = nullptr;
                }
            }
        }
        if (at == NO_FIELD) {
            if (!entries.key_is_plain_text()) return false;
            const std::uint64_t* hit = fields.empty() ? nullptr : entries.find_in(names.names);
            if (hit != nullptr) at = static_cast<std::size_t>(*hit);
        }
        if (at != NO_FIELD) {
            if (!is_known_accepted(accepted_at, at) && !fast_accepts(names.field_checks[at], item) &&
                !items_fast_accepted(names, at, item, ctx)) {
                return false;
            }
            if (fields[at].required && met.meet(at)) ++required;
            continue;
        }
        if (!clauses_fast_accept(names, entries.key(), item)) return false;
    }
    return required == names.required_count;
}

}  // namespace

template <class V>
std::size_t records_accepted_run(const FieldNameSet& names, V sequence, bool tuple, const WalkContext& ctx) {
    using Values = ValueKind<V>;
    const py::NoPythonScope no_python;
    const std::size_t n = Values::length(sequence);
    std::size_t i = 0;
    while (i < n && record_pass_below(names, Values::item(sequence, tuple, i), ctx, NoneAccepted{})) ++i;
    return i;
}

template std::size_t records_accepted_run<PyObject*>(const FieldNameSet&, PyObject*, bool, const WalkContext&);
template std::size_t records_accepted_run<JsonRef>(const FieldNameSet&, JsonRef, bool, const WalkContext&);

namespace {

// The entries of a mapping against the fields (named by `names`, null for a
// record without fields or tables) and the clauses. Entries decided by a
// prepared test run no Python code and need no reference; any other is held
// before anything that may run Python code (the walk, or encoding its key).
template <class V>
bool record_entries_pass(const Schema& node, V value, const FieldNameSet* names, const WalkContext& boolean);

// A pass asked in a recording mode runs in a boolean copy of the context,
// made here so that the frame of each boolean level holds none.
template <class V>
[[gnu::noinline]] bool record_entries_pass_from(const Schema& node, V value, const FieldNameSet* names,
                                                const WalkContext& ctx) {
    return record_entries_pass(node, value, names, ctx.scratch(WalkMode::Boolean));
}

template <class V>
bool record_entries_pass(const Schema& node, V value, const FieldNameSet* names, const WalkContext& boolean) {
    if (boolean.mode != WalkMode::Boolean) return record_entries_pass_from(node, value, names, boolean);
    const Field* const fields = node.fields().data();
    const std::size_t field_count = node.fields().size();
    const bool with_names = names != nullptr && field_count > 0;
    const bool roads = roads_open(*boolean.call) && names != nullptr;
    const bool with_checks = roads && names->field_checks.size() == field_count;
    const bool with_clause_checks = roads && names->clause_checks.size() == 2 * node.clauses().size();
    std::uint64_t remaining = with_names ? names->required_count : 0;
    RequiredFieldsMet met(field_count);
    const py::Ref* name_objects = with_names ? field_name_objects(*names, boolean) : nullptr;
    Path path;
    Records records;
    typename ValueKind<V>::Entries entries(value);
    for (std::size_t i = 0; entries.next(); ++i) {
        const V item = entries.item();
        const std::size_t position =
            with_names ? field_position<V>(entries, names->names, name_objects, i, field_count) : NO_FIELD;
        bool accepted;
        if (position != NO_FIELD) {
            const Field& field = fields[position];
            accepted = with_checks && (fast_accepts(names->field_checks[position], item) ||
                                       items_fast_accepted(*names, position, item, boolean));
            if (!accepted) {
                entries.hold();
                accepted = walk_child(field.schema, item, path, boolean, records);
            }
            if (accepted && field.required && met.meet(position) && remaining > 0) --remaining;
        } else if (node.clauses().empty()) {
            accepted = false;
        } else {
            const V key = entries.key();
            accepted = with_clause_checks && clauses_fast_accept(*names, key, item);
            if (!accepted) {
                entries.hold();
                accepted = accepted_by_a_clause(key, item, node, boolean, path, records);
            }
        }
        if (!accepted && !entries.replaced_later()) return false;
    }
    return remaining == 0;
}

// Without lookup tables the names are gathered for this check; kept out of
// line so that the common pass's frame stays small.
template <class V>
[[gnu::noinline]] bool record_pass_without_tables(const Schema& node, V value, const WalkContext& ctx) {
    const FieldNameSet names = field_name_set_of(node);
    return record_entries_pass(node, value, &names, ctx);
}

template <class V>
bool record_boolean_pass(const Schema& node, V value, const WalkContext& ctx) {
    if (!ValueKind<V>::is_mapping(value)) return false;
    const FieldNameSet* names = ctx.field_names->find(record_key(node));
    WalkState& call = *ctx.call;
    if (names != nullptr && names->all_fast && call.depth <= call.fast_floor) {
        if (record_fast_accepts(node, *names, value, ctx, NoneAccepted{})) return true;
        // The general pass decides; the records inside skip their passes.
        const WalkState::FastFloorGuard floor(call, call.depth);
        return record_entries_pass(node, value, names, ctx);
    }
    if (names == nullptr && !node.fields().empty()) return record_pass_without_tables(node, value, ctx);
    return record_entries_pass(node, value, names, ctx);
}

// The text of an undeclared key in a path: str(key) in display form.
template <class V>
std::optional<std::string> str_text(V key) {
    const py::Ref object = to_python(key);
    py::Ref text = object ? py::Ref::steal(PyObject_Str(object.get())) : py::Ref();
    if (!text) {
        py::discard_error();
        return std::nullopt;
    }
    return display_text(text.get());
}

// The texts of an undeclared key, made out of line: the report of a clause
// recurses through the loop below, whose frame stays small without them.
template <class V>
[[gnu::noinline]] void push_undeclared_key(V key, Path& path) {
    const std::optional<std::string> text = str_text(key);
    path.push_back(PathSegment::named(text ? truncate_chars(*text, 40) : value_ref_repr(key)));
}

template <class V>
[[gnu::noinline]] void push_extra_forbidden(V key, const Path& path, Records& records) {
    std::string text = str_text(key).value_or(std::string());
    std::string quoted = debug_quote(text);
    records.push_back(
        make_key_error_record(path, std::move(text), "extra_forbidden", "no unexpected key", std::move(quoted)));
}

// The entries no field declares, against the clauses. Out of line and with
// the names gathered off the stack, so that the frame of each level of a
// report through fields stays small.
// The names a record declares: from the lookup tables, or made into `local`
// (off the stack) where there are none.
inline const FieldNameSet& declared_names(const Schema& node, const WalkContext& ctx,
                                          std::unique_ptr<FieldNameSet>& local) {
    if (const FieldNameSet* found = ctx.field_names->find(record_key(node))) return *found;
    local = std::make_unique<FieldNameSet>(field_name_set_of(node));
    return *local;
}

template <class V>
[[gnu::noinline]] void report_undeclared_entries(const Schema& node, const FieldNameSet& declared, V value,
                                                 Path& path, const WalkContext& ctx, Records& records) {
    using Values = ValueKind<V>;
    const bool fail_fast = ctx.mode == WalkMode::FailFast;
    const WalkContext boolean = ctx.scratch(WalkMode::Boolean);
    Path scratch_path;
    Records scratch_records;
    typename Values::Entries entries(value);
    while (entries.next()) {
        entries.hold();
        if (entries.replaced_later() || entries.find_in(declared.names)) continue;
        const V key = entries.key();
        const V item = entries.item();
        if (accepted_by_a_clause(key, item, node, boolean, scratch_path, scratch_records)) continue;
        if (!node.clauses().empty()) {
            push_undeclared_key(key, path);
            walk_value(node.clauses()[0].key, key, path, ctx, records);
            walk_value(node.clauses()[0].value, item, path, ctx, records);
            path.pop_back();
        } else {
            push_extra_forbidden(key, path, records);
        }
        if (fail_fast && !records.empty()) return;
    }
}

template <class V>
[[gnu::noinline]] void report_record_errors(const Schema& node, V value, Path& path, const WalkContext& ctx,
                                            Records& records) {
    using Values = ValueKind<V>;
    if (!Values::is_mapping(value)) {
        push_record("dict_type", "dict", value_ref_repr(value), path, records);
        return;
    }
    std::unique_ptr<FieldNameSet> local;
    const FieldNameSet& declared = declared_names(node, ctx, local);
    const bool fail_fast = ctx.mode == WalkMode::FailFast;
    for (std::size_t i = 0; i < node.fields().size(); ++i) {
        const Field& field = node.fields()[i];
        // A name written twice is read as its last field, as the boolean passes read it.
        if (!declared.names_unique && !is_last_of_its_name(declared, node, i)) continue;
        const typename Values::FieldLookup found = Values::find_field(value, node, i, ctx);
        if (found.failed) {
            push_record("dict_type", "dict", value_ref_repr(value), path, records);
        } else if (found.present) {
            walk_part(field.schema, found.item, [&] { return PathSegment::named(field.name); }, path, ctx, records);
        } else if (field.required) {
            records.push_back(make_key_error_record(path, field.name, "missing_key",
                                                    "required key " + debug_quote(field.name), "missing"));
        }
        if (fail_fast && !records.empty()) return;
    }
    report_undeclared_entries(node, declared, value, path, ctx, records);
}

}  // namespace

template <class V>
bool walk_record(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (record_boolean_pass(node, value, ctx)) return true;
    if (ctx.makes_records()) {
        // The records inside are walked again for the report: their prepared
        // passes, tried once above, are skipped.
        const WalkState::FastFloorGuard floor(*ctx.call, ctx.call->depth);
        report_record_errors(node, value, path, ctx, records);
    }
    return false;
}

KESTROME_INSTANTIATE_WALK(walk_record);

}  // namespace kestrome
