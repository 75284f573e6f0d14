#include "py/dict_iter.h"

#include "py/ref.h"

#include <cstddef>
#include <vector>

namespace kestrome::py {

#ifdef KESTROME_IN_PLACE_ENTRIES
bool in_place_entries_checked = false;

namespace {

// Whether the in-place reading of `dict` gives exactly PyDict_Next's
// entries in its order (`expect_in_place`), or declines the dict.
bool agrees(PyObject* dict, bool expect_in_place) {
    InPlaceEntries run;
    if (!in_place_entries_of(dict, run)) return !expect_in_place;
    if (!expect_in_place) return false;
    std::vector<InPlaceEntry> seen;
    for (const InPlaceEntry* e = run.first; e != run.last; ++e) {
        if (e->value != nullptr) seen.push_back(*e);
    }
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    std::size_t i = 0;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (i >= seen.size() || seen[i].key != key || seen[i].value != value) return false;
        ++i;
    }
    return i == seen.size();
}

// A small and a large dict of str keys (one byte and two bytes per index),
// each with a deleted entry, and one with a key of another type.
bool probes_agree() {
    Ref small = Ref::steal(PyDict_New());
    Ref large = Ref::steal(PyDict_New());
    Ref mixed = Ref::steal(PyDict_New());
    if (!small || !large || !mixed) return false;
    for (int i = 0; i < 300; ++i) {
        Ref key = Ref::steal(PyUnicode_FromFormat("k%d", i));
        Ref value = Ref::steal(PyLong_FromLong(i));
        if (!key || !value || PyDict_SetItem(large.get(), key.get(), value.get()) < 0) return false;
        if (i < 5 && PyDict_SetItem(small.get(), key.get(), value.get()) < 0) return false;
        if (i < 3 && PyDict_SetItem(mixed.get(), key.get(), value.get()) < 0) return false;
    }
    Ref deleted = Ref::steal(PyUnicode_FromString("k1"));
    if (!deleted || PyDict_DelItem(small.get(), deleted.get()) < 0 ||
        PyDict_DelItem(large.get(), deleted.get()) < 0) {
        return false;
    }
    Ref number = Ref::steal(PyLong_FromLong(7));
    if (!number || PyDict_SetItem(mixed.get(), number.get(), number.get()) < 0) return false;
    return agrees(small.get(), true) && agrees(large.get(), true) && agrees(mixed.get(), false);
}

}  // namespace

void check_in_place_entries() {
    in_place_entries_checked = true;
    const bool agreed = probes_agree();
    in_place_entries_checked = agreed;
    if (!agreed) PyErr_Clear();  // a failed probe only turns the reading off
}
#else
void check_in_place_entries() {}
#endif

}  // namespace kestrome::py
