/* The physical limit of a type check over a container: loops doing only the exact type
 * test of each item, nothing else. Built for bench/ only (see build.py); never part of
 * the package. Each function returns True when every item passes. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define LIST_LOOP(name, check)                                              \
    static PyObject *name(PyObject *self, PyObject *arg) {                  \
        if (!PyList_CheckExact(arg)) Py_RETURN_FALSE;                       \
        Py_ssize_t n = PyList_GET_SIZE(arg);                                \
        for (Py_ssize_t i = 0; i < n; i++)                                  \
            if (!check(PyList_GET_ITEM(arg, i))) Py_RETURN_FALSE;           \
        Py_RETURN_TRUE;                                                     \
    }

LIST_LOOP(list_int, PyLong_CheckExact)
LIST_LOOP(list_float, PyFloat_CheckExact)
LIST_LOOP(list_str, PyUnicode_CheckExact)

static PyObject *set_int(PyObject *self, PyObject *arg) {
    if (!PySet_CheckExact(arg)) Py_RETURN_FALSE;
#if PY_VERSION_HEX < 0x030D0000
    /* The set's own table walk, as a C extension would do it. */
    Py_ssize_t pos = 0;
    PyObject *key;
    Py_hash_t hash;
    while (_PySet_NextEntry(arg, &pos, &key, &hash))
        if (!PyLong_CheckExact(key)) Py_RETURN_FALSE;
    Py_RETURN_TRUE;
#else
    PyObject *it = PyObject_GetIter(arg);
    if (it == NULL) return NULL;
    PyObject *key;
    while ((key = PyIter_Next(it)) != NULL) {
        int ok = PyLong_CheckExact(key);
        Py_DECREF(key);
        if (!ok) { Py_DECREF(it); Py_RETURN_FALSE; }
    }
    Py_DECREF(it);
    if (PyErr_Occurred()) return NULL;
    Py_RETURN_TRUE;
#endif
}

/* dict[str, int]: the key's and the value's type test per entry. */
static PyObject *dict_str_int(PyObject *self, PyObject *arg) {
    if (!PyDict_CheckExact(arg)) Py_RETURN_FALSE;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(arg, &pos, &key, &value))
        if (!PyUnicode_CheckExact(key) || !PyLong_CheckExact(value)) Py_RETURN_FALSE;
    Py_RETURN_TRUE;
}

static PyMethodDef methods[] = {
    {"list_int", list_int, METH_O, "every item of a list is exactly an int"},
    {"list_float", list_float, METH_O, "every item of a list is exactly a float"},
    {"list_str", list_str, METH_O, "every item of a list is exactly a str"},
    {"set_int", set_int, METH_O, "every item of a set is exactly an int"},
    {"dict_str_int", dict_str_int, METH_O, "every key is exactly a str, every value an int"},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "_kbench_limit",
    "Bare type-test loops: the limit a container check can reach.", -1, methods,
};

PyMODINIT_FUNC PyInit__kbench_limit(void) { return PyModule_Create(&module); }
