// Constants pool, validator state and the three size limits.
#pragma once
#include "py/error.h"
#include "schema/lazy.h"
#include "schema/schema.h"
#include "util/fx_hash.h"
#include "util/tables.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrome {

inline constexpr std::uint64_t MAX_SCHEMA_DEPTH = 128;
inline constexpr std::uint64_t MAX_DEFINITIONS = 128;
inline constexpr std::uint64_t MAX_SCHEMA_NODES = 100000;

// The Python objects a schema under construction refers to, interned by
// identity (never by __hash__ or __eq__).
struct ConstantsPool {
    std::vector<py::Ref> objects;
    std::unordered_map<const PyObject*, std::uint64_t, FxPointerHash> index;
};

std::uint64_t pool_intern(ConstantsPool& pool, PyObject* object);
std::vector<std::uint64_t> pool_intern_all(ConstantsPool& pool, const std::vector<py::Ref>& objects);
ConstantsPool pool_from_constants(std::vector<py::Ref> objects);
std::vector<py::Ref> copy_constants(const std::vector<py::Ref>& constants);

// The Python str of every record field and object attribute name, made once
// per validator when it is built (interned, so shared between validators),
// so that reading an attribute or looking a field up makes and hashes no
// text.
struct FieldNameStrs {
    std::vector<py::Ref> strs;
    NodeMap<std::uint32_t> first;  // node id -> index of its first name
    // The JSON key cache's count of replaced keys when these names were last
    // put into it (under the interpreter lock): unchanged, they are still there.
    mutable std::uint64_t keys_preferred_at = ~std::uint64_t{0};

    // The name of field i of a record or object, or null when none could be
    // made.
    PyObject* get(const Schema& node, std::size_t i) const {
        const std::uint32_t* at = first.find(node.id);
        return at != nullptr ? strs[*at + i].get() : nullptr;
    }
};

// Gives every node of the trees its id (Schema::id: from 1, root first,
// then each definition, each node before its children) and makes the
// names' str objects, in one pass.
FieldNameStrs number_nodes(Schema& root, std::vector<Schema>& definitions);

// The content of one Validator. Members are released in reverse order of
// declaration: root, constants, definitions, then the lookup tables.
struct ValidatorState {
    LazyCell lazy;
    std::vector<Schema> definitions;
    std::vector<py::Ref> constants;
    FieldNameStrs name_strs;
    Schema root;

    ValidatorState() = default;
    ValidatorState(Schema r, std::vector<py::Ref> c, std::vector<Schema> d)
        : definitions(std::move(d)),
          constants(std::move(c)),
          name_strs(number_nodes(r, definitions)),
          root(std::move(r)) {}
    ValidatorState(ValidatorState&&) noexcept = default;
};

// Checks depth, then definitions, then nodes; a breach is a pending ValueError.
py::Result<ValidatorState> assemble_validator_state(Schema root, std::vector<py::Ref> constants,
                                                    std::vector<Schema> definitions);

// Deep copies of definitions, in order.
std::vector<Schema> clone_definitions(const std::vector<Schema>& definitions);

// A deep copy of the trees sharing the pooled objects, with unbuilt tables.
ValidatorState clone_validator_state(const ValidatorState& state);

}  // namespace kestrome
