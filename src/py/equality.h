// What decides whether a value equals a literal's constant, read from the
// constant's exact type without Python code.
#pragma once
#include "py/python.h"
#include "py/values.h"

#include <cstdint>

namespace kestrome::py {

// Equality with a constant, for values of the constant's exact type.
enum class DecidedBy : std::uint8_t {
    Text,            // an exact str: equal texts
    Int,             // an exact int within 64 bits: equal values
    BigInt,          // an exact int past 64 bits: equal values, compared by the interpreter
    Bytes,           // exact bytes: equal bytes, compared by the interpreter
    Float,           // an exact float other than a zero or NaN: equal values
    FloatZeroOrNaN,  // 0.0 and -0.0 equal each other; NaN equals nothing, itself included
    Identity,        // None, a bool, an object whose type keeps the default equality: itself only
    Python,          // any other object: its type's own __eq__
};

inline DecidedBy decided_by(PyObject* constant) {
    PyTypeObject* type = Py_TYPE(constant);
    if (type == &PyUnicode_Type) return DecidedBy::Text;
    if (type == &PyLong_Type) return exact_int_value(constant) ? DecidedBy::Int : DecidedBy::BigInt;
    if (constant == Py_None || type == &PyBool_Type) return DecidedBy::Identity;
    if (type == &PyBytes_Type) return DecidedBy::Bytes;
    if (type == &PyFloat_Type) {
        const double x = PyFloat_AS_DOUBLE(constant);
        return x == x && x != 0.0 ? DecidedBy::Float : DecidedBy::FloatZeroOrNaN;
    }
    return type->tp_richcompare == PyBaseObject_Type.tp_richcompare ? DecidedBy::Identity : DecidedBy::Python;
}

// Whether the walk decides equality with such a constant by itself, in C:
// the literal's members are exactly the values of the constant's exact type
// that are the same text, the same 64-bit int, or the constant itself.
inline bool is_plain(DecidedBy by) {
    return by == DecidedBy::Text || by == DecidedBy::Int || by == DecidedBy::Identity;
}

}  // namespace kestrome::py
