// The compiler from Python annotations to Schema trees.
//
// Every function here returns the compiled node, or py::raised with a
// Python exception pending. On failure the pool and the definitions may
// already hold entries for the parts that compiled; the caller discards both.
#pragma once
#include "py/error.h"
#include "schema/schema.h"
#include "schema/state.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrome {

inline constexpr std::uint64_t MAX_COMPILE_DEPTH = 128;

// The entry of the compiler; every nested spec goes through it again.
py::Result<Schema> compile_schema(PyObject* spec, ConstantsPool& pool, std::vector<Schema>& definitions);

// The hand-offs of the dispatch.
py::Result<Schema> compile_class(PyObject* cls, ConstantsPool& pool, std::vector<Schema>& definitions);
py::Result<Schema> compile_typing_form(PyObject* origin, PyObject* args, ConstantsPool& pool,
                                       std::vector<Schema>& definitions);
py::Result<Schema> compile_list_literal(PyObject* list, ConstantsPool& pool, std::vector<Schema>& definitions);
py::Result<Schema> compile_annotated(PyObject* base, PyObject* metadata, ConstantsPool& pool,
                                     std::vector<Schema>& definitions);

// Compiles `spec` beside a validator: into `pool` and `definitions`, made
// copies of the validator's own, so that both trees share one index space
// and can be compared or joined.
py::Result<Schema> compile_beside(const ValidatorState& state, PyObject* spec, ConstantsPool& pool,
                                  std::vector<Schema>& definitions);

// Sets a pending NotImplementedError: every rejected spec is reported so.
void not_implemented_error(std::string_view text);

// The UTF-8 text of a str key; a pending ValueError for a lone surrogate.
py::Result<std::string> record_key_text(PyObject* key);

// hasattr: true when the lookup succeeds, false on AttributeError (cleared),
// py::raised with the exception pending on any other error.
py::Result<bool> has_attribute(PyObject* obj, PyObject* name);

}  // namespace kestrome
