// JSON documents given as str or bytes.
#pragma once
#include "py/ref.h"
#include "schema/state.h"

#include <string_view>

namespace kestrome {

enum class JsonInputKind { Bytes, LoneSurrogate, WrongType };

struct JsonInput {
    JsonInputKind kind;
    std::string_view bytes;  // borrowed from the input object
};

// The UTF-8 bytes of a str (its cached UTF-8 form) or of a bytes object.
JsonInput json_input_bytes(PyObject* data);

// The parsed document as a new Python object, or an empty reference with a
// TypeError (wrong type) or the "json_invalid" ValidationError pending.
py::Ref parse_json_input(PyObject* data);

// True or false, or -1 with the walk's fatal exception pending.
int is_valid_json_body(const ValidatorState& state, PyObject* data);

}  // namespace kestrome
