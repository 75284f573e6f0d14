// Decisions of recursive definitions, kept for the rest of one check.
//
// A union whose members descend into the same value, or an intersection of
// such members, walks each part of the value once per member, at every
// level: 2^depth walks. The walk of a definition for a value is decided by
// the definition, the value, the open recursion pairs above it (the guard's
// refusals), the mode and, in fail-fast mode, whether records were made
// before it; the nesting limit matters only when the walk could reach it.
// With all of that in the key, a decision can be given again instead of
// being walked again, which keeps every check polynomial.
//
// Only decisions whose walk went through a further back edge are kept: the
// others cost no more than their definition however often they repeat. The
// memo is made only once such a decision repeats (seen through a small
// filter of recent decisions), so that a check without repeats allocates
// nothing for it.
#pragma once
#include "check/recursion_guard.h"
#include "check/walk_depth.h"
#include "errors/record.h"
#include "py/ref.h"
#include "util/fx_hash.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>

namespace kestrome {

struct DecisionKey {
    std::uint64_t definition;
    std::uint64_t value;       // the value's identity
    std::uint64_t open_pairs;  // names the open recursion pairs above the walk
    std::uint8_t mode;
    bool records_empty;

    bool operator==(const DecisionKey&) const = default;
    // From the hash of (value, definition) the recursion guard places the
    // pair by, so that a back edge hashes the pair once.
    std::uint64_t hash(std::uint64_t pair_hash) const {
        FxHasher h{pair_hash};
        h.add(open_pairs);
        h.add(std::uint64_t{mode} << 1 | std::uint64_t{records_empty});
        return h.finish();
    }
};

struct Decision {
    bool member;
    std::uint32_t height;  // how many walk levels the walk went below its start (WalkDepth::Measure)
    Records records;       // what it recorded, paths relative to its start
    py::Ref value;         // keeps a Python value's identity from being reused
};

class DecisionMemo {
public:
    bool active() const { return decisions_ != nullptr; }
    void activate() {
        if (!decisions_) decisions_ = std::make_unique<Map>();
    }

    // A decision made with the same key whose walk, started at the current
    // level, stays within the nesting cap.
    const Decision* find(const DecisionKey& key, const WalkDepth& nesting) const {
        const auto it = decisions_->find(key);
        if (it == decisions_->end() || !nesting.fits(it->second.height)) return nullptr;
        return &it->second;
    }

    void store(const DecisionKey& key, Decision decision) { (*decisions_)[key] = std::move(decision); }

private:
    struct KeyHash {
        std::size_t operator()(const DecisionKey& key) const {
            return key.hash(OpenRecursionSet::pair_hash(key.value, key.definition));
        }
    };
    using Map = std::unordered_map<DecisionKey, Decision, KeyHash>;
    std::unique_ptr<Map> decisions_;
};

// The records made from `first` on, with the first `base` path segments
// (the path where the walk started) cut off.
inline Records relative_records(const Records& records, std::size_t first, std::size_t base) {
    Records out;
    out.reserve(records.size() - first);
    for (std::size_t i = first; i < records.size(); ++i) {
        const ErrorRecord& r = records[i];
        out.push_back(ErrorRecord{Path(r.path.begin() + static_cast<std::ptrdiff_t>(base), r.path.end()),
                                  r.expected, r.value, r.code});
    }
    return out;
}

// Records a decision again at the current path.
inline bool replay_decision(const Decision& decision, const Path& path, Records& records) {
    for (const ErrorRecord& r : decision.records) {
        Path full = path;
        full.insert(full.end(), r.path.begin(), r.path.end());
        records.push_back(ErrorRecord{std::move(full), r.expected, r.value, r.code});
    }
    return decision.member;
}

}  // namespace kestrome
