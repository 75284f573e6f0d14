// Reading a dict's entries in order under the iteration guards: Python code
// that changes the dict while its entries are processed ends the reading
// with an internal failure.
#pragma once
#include "py/error.h"

#include <cstddef>
#include <cstdint>

namespace kestrome::py {

// The entries of a dict read in place, for loops that run no Python code:
// a dict whose keys are all exact strs and whose table holds its values
// (dicts made by literals, by dict(), by a JSON reader) keeps them as one
// array of key, value pairs, deleted ones with no value. Stepping through it
// costs a few instructions per entry where PyDict_Next costs about sixty.
// The table's layout is CPython's own (the same from 3.11 to 3.15 in their
// default builds); it is checked once at import against PyDict_Next on
// probe dicts, and where it is not the one expected every dict is read
// through PyDict_Next.
struct InPlaceEntry {
    PyObject* key;
    PyObject* value;  // null for a deleted entry
};

struct InPlaceEntries {
    const InPlaceEntry* first = nullptr;
    const InPlaceEntry* last = nullptr;
};

#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x03100000 && !defined(Py_GIL_DISABLED)
#define KESTROME_IN_PLACE_ENTRIES 1

// The head of a dict's key table: its size, the width of its index
// entries, and its kind (0 for keys of any type; otherwise every key is an
// exact str). The index table follows, then the entries.
struct DictKeysHead {
    Py_ssize_t refcnt;
    std::uint8_t log2_size;
    std::uint8_t log2_index_bytes;
    std::uint8_t kind;
    std::uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t nentries;
    char indices[1];
};

// Set at import when the probes agree.
extern bool in_place_entries_checked;

// The entry array of a dict whose keys are all exact strs and whose table
// holds its values; false for any other dict, or where the layout is not
// the one expected.
[[gnu::always_inline]] inline bool in_place_entries_of(PyObject* dict, InPlaceEntries& out) noexcept {
    if (!in_place_entries_checked) return false;
    auto* object = reinterpret_cast<PyDictObject*>(dict);
    if (object->ma_values != nullptr) return false;  // a split table: the values live apart
    const auto* keys = reinterpret_cast<const DictKeysHead*>(object->ma_keys);
    if (keys->kind == 0) return false;
    const char* entries = keys->indices + (std::size_t{1} << keys->log2_index_bytes);
    out.first = reinterpret_cast<const InPlaceEntry*>(entries);
    out.last = out.first + keys->nentries;
    return true;
}
#else
inline bool in_place_entries_of(PyObject*, InPlaceEntries&) noexcept { return false; }
#endif

// Checks the layout on probe dicts; called once, at import.
void check_in_place_entries();

class DictReader {
public:
    explicit DictReader(PyObject* dict) noexcept
        : dict_(dict), used_(PyDict_GET_SIZE(dict)), remaining_(used_) {}
    ~DictReader() { release(); }
    DictReader(const DictReader&) = delete;
    DictReader& operator=(const DictReader&) = delete;

    // Moves to the next entry; false at the end. The reader holds a
    // reference to the current key and value until the next move.
    bool next() {
        if (!next_unheld()) return false;
        hold();
        return true;
    }

    // Moves to the next entry without taking references: for a caller that
    // runs no Python code on the entry unless it calls hold() first.
    bool next_unheld() {
        if (PyDict_GET_SIZE(dict_) != used_) {
            used_ = -1;
            internal_failure("dictionary changed size during iteration");
        }
        if (remaining_ == -1) {
            used_ = -1;
            internal_failure("dictionary keys changed during iteration");
        }
        release();
        if (PyDict_Next(dict_, &pos_, &key_, &value_)) {
            --remaining_;
            return true;
        }
        key_ = value_ = nullptr;
        return false;
    }

    // Holds references to the current key and value until the next move.
    void hold() {
        if (held_ || key_ == nullptr) return;
        Py_INCREF(key_);
        Py_INCREF(value_);
        held_ = true;
    }

    PyObject* key() const { return key_; }
    PyObject* value() const { return value_; }

private:
    void release() {
        if (held_) {
            Py_DECREF(key_);
            Py_DECREF(value_);
            held_ = false;
        }
        key_ = value_ = nullptr;
    }

    PyObject* dict_;
    Py_ssize_t used_;
    Py_ssize_t remaining_;
    Py_ssize_t pos_ = 0;
    PyObject* key_ = nullptr;
    PyObject* value_ = nullptr;
    bool held_ = false;
};

}  // namespace kestrome::py
