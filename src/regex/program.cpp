#include "regex/program.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrome::regex {

namespace {

struct TooBig {};

// One UTF-8 byte-range sequence (1 to 4 ranges).
struct Utf8Sequence {
    std::uint8_t lo[4];
    std::uint8_t hi[4];
    int length;
};

int encode(std::uint32_t cp, std::uint8_t* out) {
    if (cp < 0x80) {
        out[0] = static_cast<std::uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

// Splits a code point range into byte-range sequences, in increasing order,
// such that each sequence's byte ranges are independent of one another.
template <class Emit>
void utf8_sequences(std::uint32_t lo, std::uint32_t hi, Emit&& emit) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> stack{{lo, hi}};
    while (!stack.empty()) {
        auto [s, e] = stack.back();
        stack.pop_back();
        for (;;) {
            // Surrogates are never text.
            if (s < 0xE000 && e > 0xD7FF) {
                if (s < 0xD800 && e > 0xDFFF) {
                    stack.push_back({0xE000, e});
                    e = 0xD7FF;
                } else if (s < 0xD800) {
                    e = 0xD7FF;
                } else if (e > 0xDFFF) {
                    s = 0xE000;
                } else {
                    break;
                }
            }
            if (s > e) break;
            bool split = false;
            for (std::uint32_t max : {0x7Fu, 0x7FFu, 0xFFFFu}) {
                if (s <= max && max < e) {
                    stack.push_back({max + 1, e});
                    e = max;
                    split = true;
                    break;
                }
            }
            if (split) continue;
            if (e < 0x80) {
                Utf8Sequence seq{{static_cast<std::uint8_t>(s)}, {static_cast<std::uint8_t>(e)}, 1};
                emit(seq);
                break;
            }
            for (int i = 1; i < 4; ++i) {
                const std::uint32_t m = (1u << (6 * i)) - 1;
                if ((s & ~m) != (e & ~m)) {
                    if ((s & m) != 0) {
                        stack.push_back({(s | m) + 1, e});
                        e = s | m;
                        split = true;
                        break;
                    }
                    if ((e & m) != m) {
                        stack.push_back({e & ~m, e});
                        e = (e & ~m) - 1;
                        split = true;
                        break;
                    }
                }
            }
            if (split) continue;
            Utf8Sequence seq{};
            std::uint8_t a[4], b[4];
            seq.length = encode(s, a);
            encode(e, b);
            for (int i = 0; i < seq.length; ++i) {
                seq.lo[i] = a[i];
                seq.hi[i] = b[i];
            }
            emit(seq);
            break;
        }
    }
}

struct TrieNode {
    std::vector<std::tuple<std::uint8_t, std::uint8_t, int>> edges;  // child -1: the continuation
};

class Compiler {
public:
    explicit Compiler(Program& prog) : prog_(prog) {}

    std::uint32_t compile(const Syntax& s, std::uint32_t next) {
        switch (s.kind) {
            case Syntax::Kind::Empty: return next;
            case Syntax::Kind::Literal: return compile_literal(s.text, next);
            case Syntax::Kind::Class: return compile_class(*s.set, next);
            case Syntax::Kind::Look: {
                Inst inst;
                inst.op = Inst::Op::Look;
                inst.look = s.look;
                inst.next = next;
                prog_.has_looks = true;
                if (s.look != Look::Start && s.look != Look::End) prog_.edge_looks_only = false;
                return add(inst, 0);
            }
            case Syntax::Kind::Concat: {
                for (auto it = s.subs.rbegin(); it != s.subs.rend(); ++it) next = compile(*it, next);
                return next;
            }
            case Syntax::Kind::Alternate: {
                std::uint32_t r = compile(s.subs.back(), next);
                for (std::size_t i = s.subs.size() - 1; i-- > 0;) r = split(compile(s.subs[i], next), r);
                return r;
            }
            case Syntax::Kind::Repeat: return compile_repeat(s, next);
        }
        return next;
    }

    std::uint32_t add(const Inst& inst, std::size_t transitions) {
        size_ += INST_BYTES + transitions * TRANSITION_BYTES;
        if (size_ > SIZE_LIMIT) throw TooBig{};
        prog_.insts.push_back(inst);
        return static_cast<std::uint32_t>(prog_.insts.size() - 1);
    }

private:
    Program& prog_;
    std::size_t size_ = 0;
    using NodeKey = std::vector<std::tuple<int, int, std::uint32_t>>;
    struct KeyHash {
        std::size_t operator()(const NodeKey& key) const {
            std::size_t h = key.size();
            for (const auto& [lo, hi, target] : key) {
                h = (h ^ (static_cast<std::size_t>(lo) << 8 | static_cast<std::size_t>(hi))) * 0x9E3779B97F4A7C15ull;
                h = (h ^ target) * 0x9E3779B97F4A7C15ull;
            }
            return h;
        }
    };
    std::unordered_map<NodeKey, std::uint32_t, KeyHash> shared_;
    // The byte trie of each class, made once however often the class repeats.
    std::unordered_map<const ClassSet*, std::vector<TrieNode>> tries_;
    std::uint32_t fail_ = UINT32_MAX;

    std::uint32_t split(std::uint32_t a, std::uint32_t b) {
        Inst inst;
        inst.op = Inst::Op::Split;
        inst.next = a;
        inst.alt = b;
        return add(inst, 0);
    }

    // Each code point's bytes in turn: what a class of that one code point
    // compiles to.
    std::uint32_t compile_literal(std::u32string_view text, std::uint32_t next) {
        for (auto it = text.rbegin(); it != text.rend(); ++it) {
            std::uint8_t bytes[4];
            for (int i = encode(*it, bytes); i-- > 0;) {
                Inst inst;
                inst.op = Inst::Op::Range;
                inst.lo = inst.hi = bytes[i];
                inst.next = next;
                next = add(inst, 0);
            }
        }
        return next;
    }

    std::uint32_t compile_repeat(const Syntax& s, std::uint32_t next) {
        const Syntax& sub = s.subs[0];
        std::uint32_t r = next;
        std::uint64_t copies = s.min;
        if (s.max == UNBOUNDED) {
            // x* enters at the split; x+ enters at the body.
            const std::uint32_t loop = split(0, next);
            const std::uint32_t body = compile(sub, loop);
            prog_.insts[loop].next = body;
            if (copies == 0) return loop;
            r = body;
            --copies;
        } else {
            for (std::uint64_t j = s.max - s.min; j > 0; --j) {
                const std::uint32_t body = compile(sub, r);
                if (body == r) break;  // an empty operand repeats to nothing
                r = split(body, next);
            }
        }
        for (; copies > 0; --copies) {
            const std::uint32_t body = compile(sub, r);
            if (body == r) break;
            r = body;
        }
        return r;
    }

    std::uint32_t compile_class(const ClassSet& set, std::uint32_t next) {
        if (set.empty()) {
            if (fail_ == UINT32_MAX) {
                Inst inst;
                inst.op = Inst::Op::Fail;
                fail_ = add(inst, 0);
            }
            return fail_;
        }
        auto [entry, made] = tries_.try_emplace(&set);
        std::vector<TrieNode>& trie = entry->second;
        if (made) trie = build_trie(set);
        // Identical suffixes within the class share their instructions.
        shared_.clear();
        return emit(trie, 0, next);
    }

    static std::vector<TrieNode> build_trie(const ClassSet& set) {
        std::vector<TrieNode> trie(1);
        for (const CodeRange& r : set) {
            utf8_sequences(r.lo, r.hi, [&](const Utf8Sequence& seq) {
                int node = 0;
                for (int i = 0; i < seq.length; ++i) {
                    const bool last = i + 1 == seq.length;
                    auto& edges = trie[node].edges;
                    if (!last && !edges.empty() && std::get<0>(edges.back()) == seq.lo[i] &&
                        std::get<1>(edges.back()) == seq.hi[i] && std::get<2>(edges.back()) >= 0) {
                        node = std::get<2>(edges.back());
                        continue;
                    }
                    if (last) {
                        edges.emplace_back(seq.lo[i], seq.hi[i], -1);
                    } else {
                        const int child = static_cast<int>(trie.size());
                        edges.emplace_back(seq.lo[i], seq.hi[i], child);
                        trie.emplace_back();
                        node = child;
                    }
                }
            });
        }
        return trie;
    }

    // Emits a trie node after its children, sharing identical nodes.
    std::uint32_t emit(const std::vector<TrieNode>& trie, int node, std::uint32_t next) {
        std::vector<std::tuple<int, int, std::uint32_t>> key;
        for (const auto& [lo, hi, child] : trie[node].edges) {
            key.emplace_back(lo, hi, child < 0 ? next : emit(trie, child, next));
        }
        Inst inst;
        if (key.size() == 1) {
            inst.op = Inst::Op::Range;
            inst.lo = static_cast<std::uint8_t>(std::get<0>(key[0]));
            inst.hi = static_cast<std::uint8_t>(std::get<1>(key[0]));
            inst.next = std::get<2>(key[0]);
            if (trie.size() == 1) return add(inst, 0);  // one byte range: nothing to share
        }
        if (auto it = shared_.find(key); it != shared_.end()) return it->second;
        std::uint32_t id;
        if (key.size() == 1) {
            id = add(inst, 0);
        } else {
            inst.op = Inst::Op::Sparse;
            inst.next = static_cast<std::uint32_t>(prog_.transitions.size());
            inst.alt = static_cast<std::uint32_t>(key.size());
            id = add(inst, key.size());
            for (const auto& [lo, hi, target] : key) {
                prog_.transitions.push_back(
                    Transition{static_cast<std::uint8_t>(lo), static_cast<std::uint8_t>(hi), target});
            }
        }
        shared_.emplace(std::move(key), id);
        return id;
    }
};

void compute_byte_classes(Program& prog) {
    std::array<bool, 257> boundary{};
    auto mark = [&](int lo, int hi) {
        boundary[lo] = true;
        boundary[hi + 1] = true;
    };
    for (const Inst& inst : prog.insts) {
        if (inst.op == Inst::Op::Range) mark(inst.lo, inst.hi);
    }
    for (const Transition& t : prog.transitions) mark(t.lo, t.hi);
    std::uint32_t cls = 0;
    for (int b = 0; b < 256; ++b) {
        if (b > 0 && boundary[b]) ++cls;
        prog.byte_class[b] = static_cast<std::uint8_t>(cls);
    }
    prog.class_count = cls + 1;
    while ((1u << prog.stride_shift) < prog.class_count) ++prog.stride_shift;
}

}  // namespace

std::size_t literal_bytes(std::u32string_view text) {
    std::size_t bytes = 0;
    std::uint8_t scratch[4];
    for (char32_t c : text) bytes += static_cast<std::size_t>(encode(c, scratch));
    return bytes * INST_BYTES;
}

bool compile_program(const Syntax& syntax, Program& out) {
    out = Program{};
    try {
        Compiler compiler(out);
        Inst match;
        match.op = Inst::Op::Match;
        const std::uint32_t m = compiler.add(match, 0);
        out.start = compiler.compile(syntax, m);
    } catch (const TooBig&) {
        out = Program{};
        return false;
    }
    compute_byte_classes(out);
    return true;
}

}  // namespace kestrome::regex
