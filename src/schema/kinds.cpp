#include "schema/kinds.h"

namespace kestrome {

namespace {

struct KindTexts {
    const char* name;
    const char* code;
};

constexpr KindTexts KIND_TEXTS[] = {
    {"anything", "anything"},         // Anything
    {"any", "any"},                   // Any
    {"nothing", "no_match"},          // Nothing
    {"None", "none_type"},            // NoneType
    {"bool", "bool_type"},            // Bool
    {"int", "int_type"},              // Int
    {"float", "float_type"},          // Float
    {"str", "string_type"},           // Str
    {"bytes", "bytes_type"},          // Bytes
    {"literal", "literal_error"},     // Literal
    {"list", "list_type"},            // Sequence (the tuple flag is handled below)
    {"set", "set_type"},              // Set
    {"frozenset", "frozen_set_type"}, // FrozenSet
    {"dict", "dict_type"},            // Record
    {"union", "union_error"},         // Union
    {"intersection", "intersection_error"},  // Intersection
    {"complement", "unexpected_match"},      // Complement
    {"instance", "instance_type"},    // Instance
    {"object", "instance_type"},      // Object
    {nullptr, nullptr},               // Refinement: its base's
    {"value", "recursion"},           // BackEdge
    {"recursive value", "unresolved_recursion"},  // Placeholder
};

const Schema& unrefined(const Schema& node) {
    const Schema* n = &node;
    while (n->kind == Kind::Refinement) {
        n = n->inner().get();
    }
    return *n;
}

}  // namespace

const char* schema_kind_name(const Schema& node) {
    const Schema& n = unrefined(node);
    if (n.kind == Kind::Sequence && n.tuple_flag == TUPLE_FLAG) {
        return "tuple";
    }
    return KIND_TEXTS[static_cast<int>(n.kind)].name;
}

const char* schema_error_code(const Schema& node) {
    const Schema& n = unrefined(node);
    if (n.kind == Kind::Sequence && n.tuple_flag == TUPLE_FLAG) {
        return "tuple_type";
    }
    return KIND_TEXTS[static_cast<int>(n.kind)].code;
}

}  // namespace kestrome
