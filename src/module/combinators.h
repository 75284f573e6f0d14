// The module functions union, intersection, complement and recursive.
#pragma once
#include "py/python.h"

namespace kestrome {

extern PyMethodDef UNION_DEF;
extern PyMethodDef INTERSECTION_DEF;
extern PyMethodDef COMPLEMENT_DEF;
extern PyMethodDef RECURSIVE_DEF;

}  // namespace kestrome
