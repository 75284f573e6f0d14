#include "schema/state.h"

#include "py/error.h"
#include "schema/children.h"
#include "schema/metrics.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrome {

std::uint64_t pool_intern(ConstantsPool& pool, PyObject* object) {
    auto [it, inserted] = pool.index.try_emplace(object, pool.objects.size());
    if (inserted) {
        pool.objects.push_back(py::Ref::borrow(object));
    }
    return it->second;
}

std::vector<std::uint64_t> pool_intern_all(ConstantsPool& pool, const std::vector<py::Ref>& objects) {
    std::vector<std::uint64_t> table;
    table.reserve(objects.size());
    for (const py::Ref& obj : objects) {
        table.push_back(pool_intern(pool, obj.get()));
    }
    return table;
}

ConstantsPool pool_from_constants(std::vector<py::Ref> objects) {
    ConstantsPool pool;
    pool.index.reserve(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        pool.index[objects[i].get()] = i;
    }
    pool.objects = std::move(objects);
    return pool;
}

namespace {

void number_node(Schema& numbered, std::uint32_t& next_id, FieldNameStrs& names) {
    numbered.id = next_id++;
    // Read through the const accessors, which make no body for a node
    // without parts; the children are this tree's own, free to change.
    const Schema& node = numbered;
    if ((node.kind == Kind::Object || node.kind == Kind::Record) && !node.fields().empty() &&
        names.first.try_emplace(node.id, static_cast<std::uint32_t>(names.strs.size()))) {
        for (const Field& f : node.fields()) {
            PyObject* name = PyUnicode_FromStringAndSize(f.name.data(), static_cast<Py_ssize_t>(f.name.size()));
            if (name == nullptr) {
                py::discard_error();  // the walk makes the name itself, and meets the error there
            } else {
                PyUnicode_InternInPlace(&name);
            }
            names.strs.push_back(py::Ref::steal(name));
        }
    }
    for_each_child(node, [&](const Schema& child) {
        number_node(const_cast<Schema&>(child), next_id, names);
        return false;
    });
}

}  // namespace

FieldNameStrs number_nodes(Schema& root, std::vector<Schema>& definitions) {
    FieldNameStrs names;
    std::uint32_t next_id = 1;
    number_node(root, next_id, names);
    for (Schema& d : definitions) number_node(d, next_id, names);
    names.strs.shrink_to_fit();  // kept for the validator's life
    return names;
}

std::vector<py::Ref> copy_constants(const std::vector<py::Ref>& constants) {
    return std::vector<py::Ref>(constants.begin(), constants.end());
}

namespace {
void set_limit_error(const char* before, std::uint64_t value, const char* middle, std::uint64_t limit,
                     const char* after) {
    std::string msg = before;
    msg += std::to_string(value);
    msg += middle;
    msg += std::to_string(limit);
    msg += after;
    py::set_error(PyExc_ValueError, msg);
}
}  // namespace

py::Result<ValidatorState> assemble_validator_state(Schema root, std::vector<py::Ref> constants,
                                                    std::vector<Schema> definitions) {
    std::uint64_t depth = 0;
    for (const Schema& d : definitions) {
        depth = std::max(depth, schema_depth(d));
    }
    depth = std::max(depth, schema_depth(root));
    if (depth > MAX_SCHEMA_DEPTH) {
        set_limit_error("schema nesting is too deep: this validator reaches ", depth,
                        " levels of nesting, past the limit of ", MAX_SCHEMA_DEPTH,
                        ". A validator this deep comes from building in an unbounded loop; checking it "
                        "would risk a native stack overflow. Express structural recursion with "
                        "recursive(...) instead of nesting schemas.");
        return py::raised;
    }
    if (definitions.size() > MAX_DEFINITIONS) {
        set_limit_error("schema holds too many recursive definitions: this validator has ", definitions.size(),
                        " of them, past the limit of ", MAX_DEFINITIONS,
                        ". A validator with this many comes from chaining recursive schemas in an "
                        "unbounded loop; rendering or deciding it would risk a native stack overflow.");
        return py::raised;
    }
    std::uint64_t nodes = 0;
    for (const Schema& d : definitions) {
        nodes = saturating_add(nodes, schema_node_count(d));
    }
    nodes = saturating_add(nodes, schema_node_count(root));
    if (nodes > MAX_SCHEMA_NODES) {
        set_limit_error("schema is too large: this validator spans ", nodes, " nodes, past the limit of ",
                        MAX_SCHEMA_NODES,
                        ". A schema this large comes from combining a validator with itself in an unbounded "
                        "loop, which doubles its size each step; building it would exhaust memory.");
        return py::raised;
    }
    return ValidatorState(std::move(root), std::move(constants), std::move(definitions));
}

std::vector<Schema> clone_definitions(const std::vector<Schema>& definitions) {
    std::vector<Schema> out;
    out.reserve(definitions.size());
    for (const Schema& d : definitions) out.push_back(clone_schema(d));
    return out;
}

ValidatorState clone_validator_state(const ValidatorState& state) {
    return ValidatorState(clone_schema(state.root), copy_constants(state.constants), clone_definitions(state.definitions));
}

}  // namespace kestrome
