// The per-call state of the membership walk and the folding of Python
// exceptions raised during a check.
#pragma once
#include "check/memo.h"
#include "check/recursion_guard.h"
#include "check/roads.h"
#include "errors/record.h"
#include "py/error.h"
#include "schema/kinds.h"
#include "schema/lazy.h"
#include "schema/lookup_tables.h"
#include "schema/state.h"

#include <algorithm>
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

// The most walk_value levels open at once on a thread. Checks that Python
// code run by a walk starts on the same thread (a predicate that checks
// again) continue the count of the check they run in, so the native stack
// that walks take stays bounded whatever the value. The deepest level is a
// catch-all record reported in collect mode, about 570 bytes (GCC 12, -O2;
// records about 460, lists 300, unions, intersections and refinements
// less), so a walk at the cap with its report takes about 900 KiB of a
// thread's stack and fits a thread of 1 MiB.
inline constexpr std::uint32_t MAX_WALK_DEPTH = 1500;

// The level from which no prepared road is taken. A road decides a part of
// the schema at once, at most a validator's nesting of levels below it (a
// back edge has no road), and the general walk counts each of those levels
// against the cap: the roads close that far below it.
inline constexpr std::uint32_t ROADS_END =
    prepared_roads ? MAX_WALK_DEPTH - static_cast<std::uint32_t>(MAX_SCHEMA_DEPTH) : 0;

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
    WalkState* call;  // the nesting count, the open recursion pairs and the memo of decisions
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
    WalkState* outer;      // the check this one runs in, if any
    std::uint32_t depth;   // walk_value levels open on the thread
    std::uint32_t peak;    // the deepest level reached since a definition's walk began
    std::uint32_t nesting_refusals = 0;
    // Records deeper than this skip their prepared passes: near the cap (see
    // ROADS_END), and where the general pass of a record whose prepared pass
    // failed is running, since the passes of the records inside it would
    // each descend its subtree again.
    std::uint32_t fast_floor = ROADS_END;
    std::uint64_t open_pairs = 0;  // names the open recursion pairs: 0 none, else the push that made them
    std::uint64_t pushes = 0;
    std::uint64_t back_edges = 0;  // back edges met, so that a walk tells whether it met one
    DecisionMemo memo;

    WalkState() : outer(innermost()), depth(outer != nullptr ? outer->depth : 0), peak(depth) { innermost() = this; }
    ~WalkState() { innermost() = outer; }
    WalkState(const WalkState&) = delete;
    WalkState& operator=(const WalkState&) = delete;

    // Lowers fast_floor to `level` (never raises it) for its lifetime.
    class FastFloorGuard {
    public:
        FastFloorGuard(WalkState& call, std::uint32_t level)
            : call_(call), saved_(std::exchange(call.fast_floor, std::min(call.fast_floor, level))) {}
        ~FastFloorGuard() { call_.fast_floor = saved_; }
        FastFloorGuard(const FastFloorGuard&) = delete;
        FastFloorGuard& operator=(const FastFloorGuard&) = delete;

    private:
        WalkState& call_;
        std::uint32_t saved_;
    };

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
[[gnu::always_inline]] inline bool roads_open(const WalkState& call) { return call.depth < ROADS_END; }

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
