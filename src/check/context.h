// The per-call state of the membership walk and the folding of Python
// exceptions raised during a check.
#pragma once
#include "check/memo.h"
#include "check/recursion_guard.h"
#include "check/roads.h"
#include "check/walk_depth.h"
#include "errors/record.h"
#include "py/error.h"
#include "schema/kinds.h"
#include "schema/lazy.h"
#include "schema/lookup_tables.h"
#include "schema/state.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrome {

enum class WalkMode : std::uint8_t { Collect = 0, FailFast = 1, Boolean = 2 };

// The first fatal exception of a call.
struct FatalErrorSlot {
    py::Ref exception;
};

struct WalkState;

struct WalkContext {
    const py::Ref* constants;
    std::size_t constant_count;
    const std::vector<Schema>* definitions;
    const FieldNameStrs* name_strs;  // null in the algebra's walk
    const FieldNameTable* field_names;
    const UnionTable* unions;
    const TaggedUnionTable* tagged;
    const SequenceTable* sequences;
    const RegexTable* regexes;
    FatalErrorSlot* fatal;
    bool* stop;
    WalkState* call;  // the walk's depth, the open recursion pairs and the memo of decisions
    WalkMode mode;

    bool makes_records() const { return mode != WalkMode::Boolean; }
    bool stops_early() const { return mode != WalkMode::Collect; }
    WalkContext scratch(WalkMode m) const {
        WalkContext c = *this;
        c.mode = m;
        return c;
    }
    PyObject* constant(std::uint64_t index) const {
        return index < constant_count ? constants[index].get() : nullptr;
    }
};

// Everything one check owns besides its path and records.
struct WalkState {
    OpenRecursionSet recursion;
    FatalErrorSlot fatal;
    bool stop = false;
    WalkState* outer;  // the check this one runs in, if any
    WalkDepth nesting;
    std::uint64_t open_pairs = 0;  // names the open recursion pairs: 0 none, else the push that made them
    std::uint64_t pushes = 0;
    std::uint64_t back_edges = 0;  // back edges met, so that a walk tells whether it met one
    DecisionMemo memo;

    WalkState() : outer(innermost()), nesting(outer != nullptr ? outer->nesting.depth() : 0) { innermost() = this; }
    ~WalkState() { innermost() = outer; }
    WalkState(const WalkState&) = delete;
    WalkState& operator=(const WalkState&) = delete;

    WalkContext context(const ValidatorState& state, const LazyPrecompute& tables, WalkMode mode) {
        return context(state.constants, state.definitions, &state.name_strs, tables, mode);
    }
    WalkContext context(const std::vector<py::Ref>& constants, const std::vector<Schema>& definitions,
                        const FieldNameStrs* name_strs, const LazyPrecompute& tables, WalkMode mode) {
        return WalkContext{constants.data(), constants.size(), &definitions,    name_strs,
                           &tables.field_names, &tables.unions, &tables.tagged, &tables.sequences,
                           &tables.regexes,     &fatal,         &stop,          this,
                           mode};
    }

private:
    static WalkState*& innermost() {
        static thread_local WalkState* innermost = nullptr;
        return innermost;
    }
};

// Whether the walk may take a prepared road at its current level.
[[gnu::always_inline]] inline bool roads_open(const WalkState& call) { return call.nesting.roads_open(); }

// Not an Exception, or a MemoryError, or a RecursionError.
inline bool is_fatal_exception(PyObject* exc) {
    return !PyErr_GivenExceptionMatches(exc, PyExc_Exception) || PyErr_GivenExceptionMatches(exc, PyExc_MemoryError) ||
           PyErr_GivenExceptionMatches(exc, PyExc_RecursionError);
}

inline void store_fatal_error(py::Ref exc, const WalkContext& ctx) {
    if (!ctx.fatal->exception) ctx.fatal->exception = std::move(exc);
    *ctx.stop = true;
}

// Takes the pending exception: a fatal one is held and stops the walk, an
// ordinary one is dropped. Either way the check fails.
inline bool fold_pending_error(const WalkContext& ctx) {
    py::Ref exc = py::take_error();
    if (exc && is_fatal_exception(exc.get())) store_fatal_error(std::move(exc), ctx);
    return false;
}

// Folds a C-API answer: 1 yes, 0 no, -1 a pending exception.
inline bool fold_check_result(int result, const WalkContext& ctx) {
    if (result < 0) return fold_pending_error(ctx);
    return result == 1;
}

// The truth of a new reference returned by a Python call, folded.
inline bool fold_truth(py::Ref result, const WalkContext& ctx) {
    if (!result) return fold_pending_error(ctx);
    return fold_check_result(PyObject_IsTrue(result.get()), ctx);
}

}  // namespace kestrome
