// How deep the walk of one check is: the walk levels open on the thread,
// the deepest level reached since the current definition's walk began, the
// level below which records take their prepared passes, and how many levels
// the nesting cap refused. The walk changes these numbers only through the
// members below, so that the cap, the prepared passes and the memo of
// decisions all read one count.
//
// The rules they keep:
// - A level opens only up to MAX_WALK_DEPTH. A level refused there is
//   counted: a walk that met the cap depends on how deep it began, so its
//   decision is not kept, and a union's report prefers a member's refusal to
//   another member's failure.
// - The peak is never below the depth nor above the cap.
// - A prepared pass stands for the walk levels the walk would open: it opens
//   them (or notes them in the peak) under the same cap, so that a value is
//   decided alike with or without the pass.
// - No prepared road is taken from ROADS_END on. A road decides a part of
//   the schema at once, at most a validator's nesting of levels below it (a
//   back edge has no road), so the roads close that far below the cap.
// - A record at level L takes its prepared pass only when L is at most the
//   floor, which starts at ROADS_END. The floor is lowered (never raised) while the general pass of a
//   record whose prepared pass failed runs, and while a record is reported:
//   the records inside it would each descend its subtree again.
// - A definition's walk is measured by its height, the levels it reached
//   below its start. Its decision is given again only where it fits below
//   the cap from the current depth, and then reaches the peak its walk
//   would have reached.
#pragma once
#include "check/roads.h"
#include "schema/state.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace kestrome {

// The most walk_value levels open at once on a thread. Checks that Python
// code run by a walk starts on the same thread (a predicate that checks
// again) continue the count of the check they run in, so the native stack
// that walks take stays bounded whatever the value. The deepest level is a
// catch-all record reported in collect mode, about 570 bytes (GCC 12, -O2;
// records about 460, lists 300, unions, intersections and refinements
// less), so a walk at the cap with its report takes about 900 KiB of a
// thread's stack and fits a thread of 1 MiB.
inline constexpr std::uint32_t MAX_WALK_DEPTH = 1500;

// The level from which no prepared road is taken (none in the build
// without them).
inline constexpr std::uint32_t ROADS_END =
    prepared_roads ? MAX_WALK_DEPTH - static_cast<std::uint32_t>(MAX_SCHEMA_DEPTH) : 0;

class WalkDepth {
public:
    // Starting at the depth of the check this one runs in (0 for none).
    explicit WalkDepth(std::uint32_t open) : depth_(open), peak_(open) {}
    WalkDepth(const WalkDepth&) = delete;
    WalkDepth& operator=(const WalkDepth&) = delete;

    std::uint32_t depth() const { return depth_; }
    // Changes whenever the cap refuses a level.
    std::uint32_t refusals() const { return refusals_; }

    // Opens a walk level; false at the cap, where none opens.
    [[nodiscard, gnu::always_inline]] bool enter() {
        // The peak is never below the depth nor above the cap, so one test
        // on the way down serves both.
        const std::uint32_t next = depth_ + 1;
        if (next > peak_) {
            if (next > MAX_WALK_DEPTH) [[unlikely]] return false;
            peak_ = next;
        }
        depth_ = next;
        return true;
    }
    void leave() { --depth_; }
    // A level the cap refused (enter() said false), for the walk to count.
    void refuse() { ++refusals_; }

    // Notes the level below in the peak, for a prepared scan that stands for
    // it without opening it; false at the cap.
    [[nodiscard, gnu::always_inline]] bool note_below() {
        if (depth_ >= MAX_WALK_DEPTH) return false;
        if (depth_ + 1 > peak_) peak_ = depth_ + 1;
        return true;
    }

    // Whether a prepared road may be taken at the current level.
    [[gnu::always_inline]] bool roads_open() const { return depth_ < ROADS_END; }

    // Whether the record at the current level, or at the level below, takes
    // its prepared pass (the floor is never above the cap, so the level
    // below opens).
    bool prepared_here() const { return depth_ <= floor_; }
    bool prepared_below() const { return depth_ < floor_; }

    // Lowers the floor to the current level for its lifetime: the records
    // below skip their prepared passes.
    class FloorHere {
    public:
        explicit FloorHere(WalkDepth& d) : d_(d), saved_(std::exchange(d.floor_, std::min(d.floor_, d.depth_))) {}
        ~FloorHere() { d_.floor_ = saved_; }
        FloorHere(const FloorHere&) = delete;
        FloorHere& operator=(const FloorHere&) = delete;

    private:
        WalkDepth& d_;
        std::uint32_t saved_;
    };

    // Measures a definition's walk from the current level, for its lifetime
    // up to done().
    class Measure {
    public:
        explicit Measure(WalkDepth& d) : d_(d), outer_peak_(d.peak_), refusals_(d.refusals_) { d.peak_ = d.depth_; }
        Measure(const Measure&) = delete;
        Measure& operator=(const Measure&) = delete;

        struct Result {
            std::uint32_t height;  // the levels the walk reached below its start
            bool refused;          // whether the cap refused a level in it
        };
        // Ends the measure; the peak again covers the walk around it.
        Result done() {
            const Result r{d_.peak_ - d_.depth_, d_.refusals_ != refusals_};
            if (d_.peak_ < outer_peak_) d_.peak_ = outer_peak_;
            return r;
        }

    private:
        WalkDepth& d_;
        std::uint32_t outer_peak_;
        std::uint32_t refusals_;
    };

    // Whether a walk of this height, started at the current level, stays
    // within the cap.
    bool fits(std::uint32_t height) const { return depth_ + height <= MAX_WALK_DEPTH; }
    // A decision of that height given again from the current level (where
    // it fits): the peak covers the levels its walk would reach, so that the
    // height of a walk around it counts them.
    void note_replayed(std::uint32_t height) {
        if (depth_ + height > peak_) peak_ = depth_ + height;
    }

private:
    std::uint32_t depth_;
    std::uint32_t peak_;
    std::uint32_t floor_ = ROADS_END;
    std::uint32_t refusals_ = 0;
};

}  // namespace kestrome
