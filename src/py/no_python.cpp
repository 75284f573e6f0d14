#include "py/no_python.h"

#ifdef KESTROME_CHECK_NO_PYTHON
#include "py/ref.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kestrome::py {

thread_local int no_python_depth = 0;

namespace {

std::uint64_t started = 0;

// gc.callbacks entry: (phase, info).
PyObject* on_collection(PyObject*, PyObject* args) {
    PyObject* phase = PyTuple_Size(args) > 0 ? PyTuple_GetItem(args, 0) : nullptr;
    if (phase != nullptr && PyUnicode_Check(phase) && PyUnicode_CompareWithASCIIString(phase, "start") == 0) {
        ++started;
    }
    Py_RETURN_NONE;
}

PyMethodDef ON_COLLECTION = {"kestrome_count_collections", on_collection, METH_VARARGS, nullptr};

}  // namespace

std::uint64_t collections_started() { return started; }

bool count_collections() {
    static bool installed = false;
    if (installed) return true;
    const Ref gc = Ref::steal(PyImport_ImportModule("gc"));
    const Ref callbacks = gc ? Ref::steal(PyObject_GetAttrString(gc.get(), "callbacks")) : Ref();
    const Ref callback = callbacks ? Ref::steal(PyCFunction_New(&ON_COLLECTION, nullptr)) : Ref();
    if (!callback || PyList_Append(callbacks.get(), callback.get()) < 0) return false;
    installed = true;
    return true;
}

void no_python_broken(const char* what) {
    std::fprintf(stderr, "kestrome: %s inside a stretch that must not reach the interpreter\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace kestrome::py

#endif
