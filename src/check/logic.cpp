// Unions, intersections, complements, back edges and placeholders.
#include "check/parts.h"
#include "check/step.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrome {

namespace {


constexpr std::size_t MAX_UNION_REPORT_MEMBERS = 64;

// Names of union members in a report's "one of" list are cut like value texts.
constexpr std::size_t MAX_UNION_DESCRIPTION_CHARS = 80;

// A literal member is named by its value, as its own record names it, so
// the report says what may be picked; so are the literals of a member that
// is a union of literals only (Optional[Literal[...]]). False when `node`
// is neither.
bool describe_literals(const Schema& node, const WalkContext& ctx, std::string& out, bool& first) {
    const auto literal_text = [&](const Schema& literal) {
        PyObject* constant = ctx.constant(literal.index);
        return constant != nullptr ? value_repr(constant) : std::string(schema_kind_name(literal));
    };
    const auto append = [&](const std::string& text) {
        if (!first) out += ", ";
        first = false;
        out += text;
    };
    if (node.kind == Kind::Literal) {
        append(literal_text(node));
        return true;
    }
    if (node.kind != Kind::Union || node.members().empty()) return false;
    for (const Schema& m : node.members()) {
        if (m.kind != Kind::Literal) return false;
    }
    for (const Schema& m : node.members()) append(literal_text(m));
    return true;
}

std::string describe_union_members(const std::vector<Schema>& members, const WalkContext& ctx) {
    std::string out;
    bool first = true;
    bool named_literal = false;
    for (const Schema& member : members) {
        if (describe_literals(member, ctx, out, first)) {
            named_literal = true;
            continue;
        }
        if (!first) out += ", ";
        first = false;
        out += schema_kind_name(member);
    }
    return named_literal ? truncate_chars(out, MAX_UNION_DESCRIPTION_CHARS) : out;
}

// The member a tag value selects, by its exact type and value.
template <class V>
const Schema* member_of_tag(const TaggedUnion& tagged, const Schema& node, V tag) {
    using Values = ValueKind<V>;
    if (has_exact_type(tag, &PyUnicode_Type)) {
        const std::uint64_t* at = Values::find_text(tagged.strs, tag);
        return at != nullptr ? &node.members()[*at] : nullptr;
    }
    if (has_exact_type(tag, &PyLong_Type)) {
        const std::optional<std::int64_t> v = Values::exact_int(tag);
        if (!v) return nullptr;
        const auto at = tagged.ints.find(*v);
        return at != tagged.ints.end() ? &node.members()[at->second] : nullptr;
    }
    PyObject* object = Values::identity_object(tag);
    const std::uint32_t* member = object != nullptr ? tagged.objects.find(object) : nullptr;
    return member != nullptr ? &node.members()[*member] : nullptr;
}

// The member a mapping's tag selects: the entry of the tag field that the
// mapping keeps decides (a JSON object's last). Null when there is no such
// entry, its value is no tag, or a key's text is not at hand to tell. Reads
// entries and texts in place, so no Python code runs.
template <class V>
const Schema* tagged_member(const TaggedUnion& tagged, const Schema& node, V value, const WalkContext& ctx) {
    using Values = ValueKind<V>;
    if (!Values::is_mapping(value)) return nullptr;
    const py::NoPythonScope no_python;
    PyObject* field_object = ctx.name_strs != nullptr && tagged.field_object_at != FieldNameSet::NO_NAME_OBJECTS
                                 ? ctx.name_strs->strs[tagged.field_object_at].get()
                                 : nullptr;
    typename Values::Scan entries(value);
    while (entries.next()) {
        const std::optional<bool> is_tag = entries.key_is(tagged.field, tagged.field_hash, field_object);
        if (!is_tag) return nullptr;
        if (!*is_tag || entries.replaced_later()) continue;
        return member_of_tag(tagged, node, entries.item());
    }
    return nullptr;
}

// Whether the selected member's prepared pass accepts the value, one walk
// level below the current one.
template <class V>
bool tagged_member_accepts(const TaggedUnion& tagged, const Schema& node, const Schema& member, V value,
                           const WalkContext& ctx) {
    const auto at = static_cast<std::size_t>(&member - node.members().data());
    const TaggedMemberPass* pass = at < tagged.member_passes.size() ? &tagged.member_passes[at] : nullptr;
    return pass != nullptr && pass->names != nullptr && record_accepts_below(*pass->names, value, ctx, pass->tag_at);
}

}  // namespace

template <class V>
std::size_t tagged_accepted_run(const TaggedUnion& tagged, const Schema& node, V sequence, bool tuple,
                                const WalkContext& ctx) {
    using Values = ValueKind<V>;
    WalkDepth& nesting = ctx.call->nesting;
    // The union's level, as the walk of each item would open it.
    if (!nesting.enter()) return 0;
    const py::NoPythonScope no_python;
    const std::size_t n = Values::length(sequence);
    std::size_t i = 0;
    for (; i < n; ++i) {
        const V item = Values::item(sequence, tuple, i);
        const Schema* member = tagged_member(tagged, node, item, ctx);
        if (member == nullptr || !tagged_member_accepts(tagged, node, *member, item, ctx)) break;
    }
    nesting.leave();
    return i;
}

template std::size_t tagged_accepted_run<PyObject*>(const TaggedUnion&, const Schema&, PyObject*, bool,
                                                    const WalkContext&);
template std::size_t tagged_accepted_run<JsonRef>(const TaggedUnion&, const Schema&, JsonRef, bool,
                                                  const WalkContext&);

template <class V>
bool walk_union(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    // A tagged union: only the member the tag selects can accept, since
    // every member requires the tag field with a literal set of its own.
    bool first_pass = true;
    const TaggedUnion* tagged = ctx.tagged->empty() ? nullptr : ctx.tagged->find(union_key(node));
    if (const Schema* member = tagged != nullptr ? tagged_member(*tagged, node, value, ctx) : nullptr) {
        // In boolean mode a record member's prepared pass may decide at once,
        // and the member's walk can use the path and records (neither is
        // touched) and the context itself.
        if (!ctx.makes_records()) {
            if (tagged_member_accepts(*tagged, node, *member, value, ctx)) return true;
            return walk_value(*member, value, path, ctx, records);
        }
        Path scratch_path;
        Records scratch_records;
        if (walk_value(*member, value, scratch_path, ctx.scratch(WalkMode::Boolean), scratch_records)) return true;
        // No other member can accept: the report is the selected member's
        // own, not that of whichever member got deepest.
        return walk_value(*member, value, path, ctx, records);
    }
    // The literal sets give the first pass's answer without Python code.
    if (const UnionLiteralSets* sets = union_literal_sets(node, ctx)) {
        // Python code may run here: a text not at hand is encoded.
        if (const std::optional<bool> answer = literal_set_answer(*sets, value, true)) {
            if (*answer || !ctx.makes_records()) return *answer;
            first_pass = false;
        }
    }
    if (first_pass) {
        const WalkContext boolean = ctx.scratch(WalkMode::Boolean);
        Path scratch_path;
        Records scratch_records;
        for (const Schema& member : node.members()) {
            if (walk_value(member, value, scratch_path, boolean, scratch_records)) return true;
        }
    }
    if (!ctx.makes_records()) return false;

    // Report the member that got deepest into the value. A member that met
    // the nesting cap was not decided, so none of the others' failures is
    // the answer: the first such member's records, which hold the refusal,
    // are reported instead.
    const WalkContext collect = ctx.scratch(WalkMode::Collect);
    const std::size_t base = path.size();
    const std::size_t count = std::min(node.members().size(), MAX_UNION_REPORT_MEMBERS);
    Records best;
    std::size_t best_depth = 0;
    bool best_refused = false;
    for (std::size_t i = 0; i < count; ++i) {
        Records candidate;
        const std::uint32_t refusals = ctx.call->nesting.refusals();
        walk_value(node.members()[i], value, path, collect, candidate);
        const bool refused = ctx.call->nesting.refusals() != refusals;
        std::size_t depth = 0;
        for (const ErrorRecord& r : candidate) {
            if (r.path.size() > base) depth = std::max(depth, r.path.size() - base);
        }
        if (i == 0 || (refused && !best_refused) || (refused == best_refused && depth > best_depth)) {
            best = std::move(candidate);
            best_depth = depth;
            best_refused = refused;
        }
    }
    if (best_depth > 0 || (best_refused && !best.empty())) {
        for (ErrorRecord& r : best) records.push_back(std::move(r));
    } else {
        push_record("union_error", "one of: " + describe_union_members(node.members(), ctx), value_ref_repr(value),
                    path, records);
    }
    return false;
}

namespace {

std::uint64_t record_hash(const ErrorRecord& r) {
    FxHasher h;
    h.add(fx_hash_bytes(r.code, std::strlen(r.code)));
    h.add(fx_hash_bytes(r.expected.data(), r.expected.size()));
    h.add(fx_hash_bytes(r.value.data(), r.value.size()));
    for (const PathSegment& s : r.path) h.add(s.is_key ? fx_hash_bytes(s.key.data(), s.key.size()) : s.index);
    return h.finish();
}

bool same_record(const ErrorRecord& a, const ErrorRecord& b) {
    if (std::strcmp(a.code, b.code) != 0 || a.expected != b.expected || a.value != b.value) return false;
    if (a.path.size() != b.path.size()) return false;
    for (std::size_t i = 0; i < a.path.size(); ++i) {
        const PathSegment& x = a.path[i];
        const PathSegment& y = b.path[i];
        if (x.is_key != y.is_key || x.index != y.index || x.key != y.key) return false;
    }
    return true;
}

// Drops the records from `from` on that repeat one from [`start`, `from`):
// members that fail in the same place the same way (members descending into
// the same parts of the value) would otherwise double the report at every
// level of a recursive value.
void drop_repeated_records(Records& records, std::size_t start, std::size_t from) {
    std::unordered_multimap<std::uint64_t, std::size_t> earlier;
    for (std::size_t i = start; i < from; ++i) earlier.emplace(record_hash(records[i]), i);
    std::size_t kept = from;
    for (std::size_t i = from; i < records.size(); ++i) {
        const auto [lo, hi] = earlier.equal_range(record_hash(records[i]));
        bool repeated = false;
        for (auto it = lo; it != hi && !repeated; ++it) repeated = same_record(records[it->second], records[i]);
        if (!repeated) {
            if (kept != i) records[kept] = std::move(records[i]);
            ++kept;
        }
    }
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
}

}  // namespace

template <class V>
bool walk_intersection(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    bool ok = true;
    const std::size_t start = records.size();
    for (const Schema& member : node.members()) {
        const std::size_t before = records.size();
        if (!walk_value(member, value, path, ctx, records)) {
            ok = false;
            if (ctx.stops_early()) return false;
            if (before > start && records.size() > before) drop_repeated_records(records, start, before);
        }
    }
    return ok;
}

template <class V>
bool walk_complement(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    Path scratch_path;
    Records scratch_records;
    if (!walk_value(*node.inner(), value, scratch_path, ctx.scratch(WalkMode::Boolean), scratch_records)) return true;
    if (ctx.makes_records()) {
        push_record("unexpected_match", std::string("not ") + schema_kind_name(*node.inner()), value_ref_repr(value),
                    path, records);
    }
    return false;
}

namespace {

py::Ref keep_identity(PyObject* value) { return py::Ref::borrow(value); }
py::Ref keep_identity(JsonRef) { return py::Ref(); }  // the tree outlives the check

// Walks definition d for a value whose pair the guard has just opened, and
// keeps the decision when it depends on nothing but its key and its walk
// went through another back edge. A walk that meets none (a shared leaf
// decided by a scalar test, say) costs no more than the definition, so
// walking it again can never make a check exponential: it is neither kept
// nor noted, and shared leaves never turn the memo on. The key itself is
// made only when the memo is in use.
template <class V>
[[gnu::always_inline]] inline bool walk_definition(const Schema& definition, const DecisionKey& key,
                                                   std::uint64_t key_hash, V value, Path& path,
                                                   const WalkContext& ctx, Records& records) {
    WalkState& call = *ctx.call;
    const std::size_t first = records.size();
    const std::size_t base = path.size();
    const std::uint64_t back_edges = call.back_edges;
    WalkDepth::Measure measure(call.nesting);
    call.open_pairs = ++call.pushes;
    const bool member = walk_value(definition, value, path, ctx, records);
    call.open_pairs = key.open_pairs;
    const WalkDepth::Measure::Result walked = measure.done();
    // A walk that met the nesting cap depends on how deep it began; one
    // cut short by a fatal exception decides nothing.
    if (*ctx.stop || walked.refused || call.back_edges == back_edges) return member;
    if (call.memo.active()) [[unlikely]] {
        call.memo.store(key, Decision{member, walked.height, relative_records(records, first, base),
                                      keep_identity(value)});
    } else {
        call.recursion.note_decided(key_hash);
    }
    return member;
}

template <class V>
[[gnu::noinline]] bool refuse_back_edge(const char* code, std::string expected, V value, const Path& path,
                                        const WalkContext& ctx, Records& records) {
    if (ctx.makes_records()) push_record(code, std::move(expected), value_ref_repr(value), path, records);
    return false;
}

}  // namespace

template <class V>
bool walk_back_edge(const Schema& node, V value, Path& path, const WalkContext& ctx,
                                      Records& records) {
    const std::uint64_t id = value_identity(value);
    const std::uint64_t d = node.index;
    WalkState& call = *ctx.call;
    ++call.back_edges;
    OpenRecursionSet& open = call.recursion;
    const std::uint64_t pair_hash = OpenRecursionSet::pair_hash(id, d);
    // Only a fail-fast report looks at records made before it.
    const bool records_empty = ctx.mode != WalkMode::FailFast || records.empty();
    const DecisionKey key{d, id, call.open_pairs, static_cast<std::uint8_t>(ctx.mode), records_empty};
    const std::uint64_t key_hash = key.hash(pair_hash);
    if (call.memo.active()) [[unlikely]] {
        if (const Decision* known = call.memo.find(key, call.nesting)) {
            call.nesting.note_replayed(known->height);
            return replay_decision(*known, path, records);
        }
    }
    if (!open.insert(id, d, pair_hash)) {
        return refuse_back_edge("recursion_loop", "a finite (non-cyclic) value", value, path, ctx, records);
    }
    if (!call.memo.active() && open.decided_recently(key_hash)) [[unlikely]] call.memo.activate();
    if (open.size() > MAX_OPEN_RECURSION) [[unlikely]] {
        open.remove(id, d, pair_hash);
        return refuse_back_edge("recursion_limit",
                                "at most " + std::to_string(MAX_OPEN_RECURSION) + " levels of recursion", value,
                                path, ctx, records);
    }
    if (d >= ctx.definitions->size()) [[unlikely]] {
        open.remove(id, d, pair_hash);
        return false;
    }
    const bool ok = walk_definition((*ctx.definitions)[d], key, key_hash, value, path, ctx, records);
    open.remove(id, d, pair_hash);
    return ok;
}

template <class V>
bool walk_placeholder(const Schema&, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (ctx.makes_records()) {
        push_record("unresolved_recursion", "a resolved recursive value", value_ref_repr(value), path, records);
    }
    return false;
}

KESTROME_INSTANTIATE_WALK(walk_union);
KESTROME_INSTANTIATE_WALK(walk_intersection);
KESTROME_INSTANTIATE_WALK(walk_complement);
KESTROME_INSTANTIATE_WALK(walk_back_edge);
KESTROME_INSTANTIATE_WALK(walk_placeholder);

}  // namespace kestrome
