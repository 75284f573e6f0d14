#include "py/error.h"

#include "py/once.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace kestrome::py {

void internal_failure(const std::string& text) { throw InternalFailure(text); }

namespace {

ProcessOnce<PyObject*> panic_type_cell;

// The pending exception as one normalised object (traceback attached).
PyObject* fetch_raised() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return nullptr;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

void set_raised(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    if (exc == nullptr) {
        return;
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    Py_INCREF(type);
    PyErr_Restore(type, exc, PyException_GetTraceback(exc));
#endif
}

}  // namespace

PyObject* panic_exception_type() {
    PyObject** cell = panic_type_cell.get([](PyObject*& out) {
        out = PyErr_NewExceptionWithDoc(
            "kestrome._kestrome.PanicException",
            "Raised when the native core hits an internal failure. It derives from "
            "BaseException so that `except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
        return out != nullptr;
    });
    if (cell == nullptr) {
        Py_FatalError("kestrome: could not create the panic exception type");
    }
    return *cell;
}

Ref take_error() {
    PyObject* exc = fetch_raised();
    if (exc == nullptr) {
        return Ref();
    }
    Ref held = Ref::steal(exc);
    PyObject* panic = panic_type_cell.peek() ? *panic_type_cell.peek() : nullptr;
    if (panic != nullptr && PyObject_TypeCheck(exc, reinterpret_cast<PyTypeObject*>(panic))) {
        std::string text = "<no message>";
        if (Ref s = Ref::steal(PyObject_Str(exc))) {
            if (const char* utf8 = PyUnicode_AsUTF8(s.get())) {
                text = utf8;
            }
        }
        PyErr_Clear();
        std::fputs("--- kestrome is resuming an internal failure after fetching its panic exception "
                   "from Python. ---\n",
                   stderr);
        std::fputs("Python stack trace below:\n", stderr);
        set_raised(held.release());
        PyErr_PrintEx(0);
        internal_failure(text);
    }
    return held;
}

void discard_error() { take_error(); }

void restore_error(Ref exc) { set_raised(exc.release()); }

void set_error(PyObject* type, std::string_view message) {
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                               "replace"));
    if (!text) {
        internal_failure("could not create an exception message");
    }
    PyErr_SetObject(type, text.get());
}

void add_argument_note(std::string_view name) {
    Ref exc = take_error();
    std::string note = "while processing '";
    note.append(name);
    note.push_back('\'');
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size())));
    if (text) {
        Ref result = call_method1(exc.get(), "add_note", text.get());
        if (!result) {
            PyErr_Clear();
        }
    } else {
        PyErr_Clear();
    }
    restore_error(std::move(exc));
}

namespace {

// The qualified name of a type, or the fallback text.
std::string qualified_name(PyObject* type) {
    Ref name = Ref::steal(PyObject_GetAttrString(type, "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        if (const char* utf8 = PyUnicode_AsUTF8(name.get())) {
            return utf8;
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

std::string expected_name(PyObject* expected) {
    if (PyTuple_Check(expected)) {
        std::string out;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(expected); ++i) {
            if (i > 0) {
                out += " | ";
            }
            out += expected_name(PyTuple_GET_ITEM(expected, i));
        }
        return out;
    }
    if (expected == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) {
        return "None";
    }
    return qualified_name(expected);
}

}  // namespace

void set_type_mismatch(PyObject* obj, PyObject* expected) {
    std::string message;
    if (obj == Py_None) {
        message = "'None' is not an instance of '" + expected_name(expected) + "'";
    } else {
        message = "'" + qualified_name(reinterpret_cast<PyObject*>(Py_TYPE(obj))) +
                  "' object is not an instance of '" + expected_name(expected) + "'";
    }
    set_error(PyExc_TypeError, message);
}

void raise_panic(const char* text) noexcept {
    try {
        PyObject* type = panic_exception_type();
        PyErr_Clear();
        Ref message = Ref::steal(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace"));
        if (message) {
            PyErr_SetObject(type, message.get());
        }
    } catch (...) {
        Py_FatalError("kestrome: an internal failure could not be raised as the panic exception");
    }
}

}  // namespace kestrome::py
