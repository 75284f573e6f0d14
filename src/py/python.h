// The one place that pulls in the CPython headers.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>
