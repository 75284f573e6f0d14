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

// For a pass that needs no count.
struct NotCounted {
    explicit NotCounted(std::size_t) {}
    static bool meet(std::size_t) { return false; }
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

// What the passes over a record's entries read to tell which field a key
// names: the names (read only when there are fields), the validator's name
// objects (or null) and the fields.
struct RecordKeys {
    const TextIndex* names;
    const py::Ref* name_objects;
    const Field* fields;
    std::size_t field_count;
};

inline RecordKeys record_keys(const std::vector<Field>& fields, const FieldNameSet& names, const WalkContext& ctx) {
    return RecordKeys{&names.names, field_name_objects(names, ctx), fields.data(), fields.size()};
}

// The one loop of the record passes: each entry's key looked up (the field's
// own name object, which is an exact str, at entry i by identity, and from
// the first miss on by text) and handed to the pass as a field's or as an
// unknown key's; the required fields accepted are counted, once each. The
// pass `P` says what to do with each:
//   P::Met                      how fields met are told apart (RequiredFieldsMet,
//                               or KeysNeverRepeat where keys cannot repeat)
//   admits_key(entries)         whether a key not found by identity may be
//                               looked up by text; if not, the pass fails
//   field(entries, position)    whether the entry of a field is accepted
//   unknown(entries)            whether the entry of an unknown key is
//   goes_on(entries)            whether the pass goes on past an entry that
//                               was not accepted
//   finish(required)            the answer, from the required fields met
template <class V, class Entries, class P>
[[gnu::always_inline]] inline bool visit_record_entries(Entries& entries, RecordKeys keys, P& pass) {
    typename P::Met met(keys.field_count);
    const py::Ref* name_objects = keys.name_objects;
    std::uint64_t required = 0;
    for (std::size_t i = 0; entries.next(); ++i) {
        std::size_t at = NO_FIELD;
        if constexpr (std::is_same_v<V, PyObject*>) {
            if (name_objects != nullptr) {
                if (i < keys.field_count && entries.key() == name_objects[i].get()) {
                    at = i;
                } else {
                    name_objects = nullptr;
                }
            }
        }
        if (at == NO_FIELD) {
            if (!pass.admits_key(entries)) return false;
            const std::uint64_t* hit = keys.field_count != 0 ? entries.find_in(*keys.names) : nullptr;
            if (hit != nullptr) at = static_cast<std::size_t>(*hit);
        }
        if (at != NO_FIELD) {
            if (!pass.field(entries, at)) {
                if (!pass.goes_on(entries)) return false;
                continue;
            }
            if (keys.fields[at].required && met.meet(at)) ++required;
            continue;
        }
        if (!pass.unknown(entries) && !pass.goes_on(entries)) return false;
    }
    return pass.finish(required);
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

// Taken only above the floor of failed passes (so below the nesting cap),
// at the level the record's walk would open. The nested passes follow the
// schema's own nesting of records (a back edge has no prepared pass), and
// the cap bounds them too.
template <class V, class Accepted>
bool record_pass_below(const FieldNameSet& names, V value, const WalkContext& ctx, Accepted accepted_at) {
    WalkDepth& nesting = ctx.call->nesting;
    if (!names.all_fast || !nesting.prepared_below() || !ValueKind<V>::is_mapping(value) || !nesting.enter()) {
        return false;
    }
    const bool accepted = record_fast_accepts(*names.node, names, value, ctx, accepted_at);
    nesting.leave();
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
    WalkDepth& nesting = ctx.call->nesting;
    if (!nesting.note_below()) return false;
    if (check.record != nullptr) {
        if (!nesting.enter()) return false;  // opens the level just noted
        const bool accepted = records_accepted_run(*check.record, item, check.tuple, ctx) == Values::length(item);
        nesting.leave();
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
struct PreparedPass {
    using Scan = typename ValueKind<V>::Scan;
    using Met = std::conditional_t<Scan::keys_unique, KeysNeverRepeat, RequiredFieldsMet>;
    const FieldNameSet& names;
    const WalkContext& ctx;
    Accepted accepted_at;

    [[gnu::always_inline]] static bool admits_key(const Scan& entries) { return entries.key_is_plain_text(); }
    [[gnu::always_inline]] bool field(Scan& entries, std::size_t at) const {
        return is_known_accepted(accepted_at, at) || fast_accepts(names.field_checks[at], entries.item()) ||
               items_fast_accepted(names, at, entries.item(), ctx);
    }
    [[gnu::always_inline]] bool unknown(Scan& entries) const {
        return clauses_fast_accept(names, entries.key(), entries.item());
    }
    static bool goes_on(const Scan&) { return false; }
    bool finish(std::uint64_t required) const { return required == names.required_count; }
};

template <class V, class Accepted>
bool record_fast_accepts(const Schema& node, const FieldNameSet& names, V value, const WalkContext& ctx,
                         Accepted accepted_at) {
    const py::NoPythonScope no_python;
    // Read once: the accessor checks the node's body on every call.
    const std::vector<Field>& fields = node.fields();
    if (fields.empty() && names.clause_checks.size() == 2) return dict_fast_accepts(names, value);
    typename ValueKind<V>::Scan entries(value);
    PreparedPass<V, Accepted> pass{names, ctx, accepted_at};
    return visit_record_entries<V>(entries, record_keys(fields, names, ctx), pass);
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

// Entries not decided by a prepared test are walked in boolean mode; a JSON
// entry that fails is passed over when a later one replaces it.
template <class V>
struct GeneralPass {
    using Entries = typename ValueKind<V>::Entries;
    using Met = RequiredFieldsMet;
    const Schema& node;
    const FieldNameSet* names;
    const WalkContext& boolean;
    bool with_checks;
    bool with_clause_checks;
    Path path;
    Records records;

    static bool admits_key(const Entries&) { return true; }
    [[gnu::always_inline]] bool field(Entries& entries, std::size_t at) {
        const V item = entries.item();
        bool accepted = with_checks && (fast_accepts(names->field_checks[at], item) ||
                                        items_fast_accepted(*names, at, item, boolean));
        if (!accepted) {
            entries.hold();
            accepted = walk_child(node.fields()[at].schema, item, path, boolean, records);
        }
        return accepted;
    }
    [[gnu::always_inline]] bool unknown(Entries& entries) {
        if (node.clauses().empty()) return false;
        const V key = entries.key();
        const V item = entries.item();
        bool accepted = with_clause_checks && clauses_fast_accept(*names, key, item);
        if (!accepted) {
            entries.hold();
            accepted = accepted_by_a_clause(key, item, node, boolean, path, records);
        }
        return accepted;
    }
    static bool goes_on(Entries& entries) { return entries.replaced_later(); }
    bool finish(std::uint64_t required) const { return names == nullptr || required == names->required_count; }
};

template <class V>
bool record_entries_pass(const Schema& node, V value, const FieldNameSet* names, const WalkContext& boolean) {
    if (boolean.mode != WalkMode::Boolean) return record_entries_pass_from(node, value, names, boolean);
    // Without names the record has no fields (record_boolean_pass).
    const RecordKeys keys = names != nullptr ? record_keys(node.fields(), *names, boolean)
                                             : RecordKeys{nullptr, nullptr, node.fields().data(), 0};
    const std::size_t field_count = node.fields().size();
    const bool roads = roads_open(*boolean.call) && names != nullptr;
    GeneralPass<V> pass{node,
                        names,
                        boolean,
                        roads && names->field_checks.size() == field_count,
                        roads && names->clause_checks.size() == 2 * node.clauses().size(),
                        {},
                        {}};
    typename ValueKind<V>::Entries entries(value);
    return visit_record_entries<V>(entries, keys, pass);
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
    WalkDepth& nesting = ctx.call->nesting;
    if (names != nullptr && names->all_fast && nesting.prepared_here()) {
        if (record_fast_accepts(node, *names, value, ctx, NoneAccepted{})) return true;
        // The general pass decides; the records inside skip their passes.
        const WalkDepth::FloorHere floor(nesting);
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

// The fields' entries were reported field by field; each entry of another
// key that no clause accepts is reported here, until a fail-fast report has
// a record.
template <class V>
struct UndeclaredReport {
    using Entries = typename ValueKind<V>::Entries;
    using Met = NotCounted;
    const Schema& node;
    const WalkContext& ctx;
    Path& path;
    Records& records;
    WalkContext boolean;
    Path scratch_path;
    Records scratch_records;

    static bool admits_key(const Entries&) { return true; }
    static bool field(const Entries&, std::size_t) { return true; }
    bool unknown(Entries& entries) {
        entries.hold();
        if (entries.replaced_later()) return true;
        const V key = entries.key();
        const V item = entries.item();
        if (accepted_by_a_clause(key, item, node, boolean, scratch_path, scratch_records)) return true;
        if (!node.clauses().empty()) {
            push_undeclared_key(key, path);
            walk_value(node.clauses()[0].key, key, path, ctx, records);
            walk_value(node.clauses()[0].value, item, path, ctx, records);
            path.pop_back();
        } else {
            push_extra_forbidden(key, path, records);
        }
        return ctx.mode != WalkMode::FailFast || records.empty();
    }
    static bool goes_on(const Entries&) { return false; }
    static bool finish(std::uint64_t) { return true; }
};

template <class V>
[[gnu::noinline]] void report_undeclared_entries(const Schema& node, const FieldNameSet& declared, V value,
                                                 Path& path, const WalkContext& ctx, Records& records) {
    UndeclaredReport<V> pass{node, ctx, path, records, ctx.scratch(WalkMode::Boolean), {}, {}};
    typename ValueKind<V>::Entries entries(value);
    visit_record_entries<V>(entries, record_keys(node.fields(), declared, ctx), pass);
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
        const WalkDepth::FloorHere floor(ctx.call->nesting);
        report_record_errors(node, value, path, ctx, records);
    }
    return false;
}

KESTROME_INSTANTIATE_WALK(walk_record);

}  // namespace kestrome
