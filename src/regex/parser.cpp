#include "regex/parser.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "regex/program.h"
#include "regex/properties.h"

namespace kestrome::regex {

namespace {

// ---- the pattern as written

enum class NodeKind : std::uint8_t {
    Empty,
    Flags,
    Literal,
    LiteralRun,
    Dot,
    Assertion,
    Unicode,
    Perl,
    Bracketed,
    Repetition,
    Group,
    Alternation,
    Concat,
    // items of a bracketed class
    ClassRange,
    ClassAscii,
    ClassUnion,
    ClassOp,
};

enum class Assertion : std::uint8_t {
    StartLine,
    EndLine,
    StartText,
    EndText,
    WordBoundary,
    NotWordBoundary,
    WordStart,
    WordEnd,
    WordStartHalf,
    WordEndHalf,
};

enum class ClassOpKind : std::uint8_t { Intersection, Difference, SymmetricDifference };
enum class UnicodeForm : std::uint8_t { OneLetter, Named, NamedValue };

struct FlagItem {
    char32_t flag;  // '-' for the negation
    Span span;
};

// What only a few kinds of node hold, apart, so that the many primitives of
// a long pattern stay small.
struct NodeExtra {
    std::u32string text;          // LiteralRun: its code points
    std::u32string name;          // Unicode name (or the letter)
    std::u32string value;         // Unicode value
    std::vector<FlagItem> flags;  // Flags, or a group with flags
    ClassSet ascii;               // ClassAscii members
};

struct Node {
    NodeKind kind;
    Span span;
    char32_t c = 0;          // Literal
    bool hex_byte = false;   // Literal written \xHH
    Assertion assertion = Assertion::StartText;
    bool negated = false;    // Unicode, Perl, Bracketed, ClassAscii
    UnicodeForm form = UnicodeForm::OneLetter;
    bool not_equal = false;  // Unicode `!=`
    PerlClass perl = PerlClass::Digit;
    bool has_flags = false;  // Flags, or a group with flags
    ClassOpKind op = ClassOpKind::Intersection;
    std::uint32_t min = 0;  // Repetition
    std::uint64_t max = 0;
    std::unique_ptr<NodeExtra> more;
    std::vector<Node*> children;

    NodeExtra& extra() {
        if (!more) more = std::make_unique<NodeExtra>();
        return *more;
    }
    const NodeExtra& extra() const {
        static const NodeExtra none;
        return more ? *more : none;
    }
};

struct Failure {
    ParseError error;
};

[[noreturn]] void fail(ErrorKind kind, Span span, std::optional<Span> aux = std::nullopt) {
    throw Failure{ParseError{kind, span, aux}};
}

std::string utf8_of(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            // Property names are ASCII; anything else is dropped by loose matching.
            out.push_back(static_cast<char>(0x80));
        }
    }
    return out;
}

bool is_hex(char32_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::uint32_t hex_value(char32_t c) {
    if (c <= '9') return c - '0';
    if (c >= 'a') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool is_meta_character(char32_t c) {
    switch (c) {
        case '\\': case '.': case '+': case '*': case '?': case '(': case ')': case '|': case '[': case ']':
        case '{': case '}': case '^': case '$': case '#': case '&': case '-': case '~': return true;
        default: return false;
    }
}

bool is_escapeable_character(char32_t c) {
    if (is_meta_character(c)) return true;
    if (c >= 0x80) return false;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return false;
    return c != '<' && c != '>';
}

bool is_alphabetic(char32_t c) {
    static const ClassSet set = [] {
        ClassSet out;
        property_class("Alphabetic", out);
        return out;
    }();
    return set_contains(set, c);
}

bool is_numeric(char32_t c) {
    static const ClassSet set = [] {
        ClassSet out;
        property_value_class("gc", "N", out);
        return out;
    }();
    return set_contains(set, c);
}

bool is_capture_char(char32_t c, bool first) {
    if (c == '_') return true;
    if (first) return c < 0x80 ? ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') : is_alphabetic(c);
    if (c == '.' || c == '[' || c == ']') return true;
    if (c < 0x80) return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || (c >= '0' && c <= '9');
    return is_alphabetic(c) || is_numeric(c);
}

// ---- the parser: a loop with explicit stacks for groups and classes, so
// that deep nesting costs heap, not native stack.

class Parser {
public:
    explicit Parser(std::u32string_view pattern) : p_(pattern) {}

    Node* parse() {
        Node* concat = make(NodeKind::Concat, here());
        for (;;) {
            bump_space();
            if (eof()) break;
            switch (ch()) {
                case '(': concat = push_group(concat); break;
                case ')': concat = pop_group(concat); break;
                case '|': concat = push_alternate(concat); break;
                case '[': concat->children.push_back(parse_set_class()); break;
                case '?': concat = parse_uncounted_repetition(concat, 0, 1); break;
                case '*': concat = parse_uncounted_repetition(concat, 0, UNBOUNDED); break;
                case '+': concat = parse_uncounted_repetition(concat, 1, UNBOUNDED); break;
                case '{': concat = parse_counted_repetition(concat); break;
                default: push_primitive(concat, parse_primitive());
            }
        }
        Node* ast = pop_group_end(concat);
        check_nest_limit(ast);
        return ast;
    }

private:
    struct GroupState {
        bool alternation;
        Node* node;     // the alternation, or the group
        Node* concat;   // the concat before the group
        bool ignore_ws;
    };
    struct ClassState {
        bool op;
        Node* node;     // the open class, or the operation's left side
        Node* union_;   // the union the open class sits in
        ClassOpKind kind;
    };

    std::u32string_view p_;
    std::size_t pos_ = 0;
    bool ignore_ws_ = false;
    std::deque<Node> arena_;
    std::vector<GroupState> groups_;
    std::vector<ClassState> classes_;
    std::vector<Span> names_;

    Node* make(NodeKind kind, Span span) {
        Node* n = &arena_.emplace_back();
        n->kind = kind;
        n->span = span;
        return n;
    }

    bool eof() const { return pos_ >= p_.size(); }
    char32_t ch() const { return p_[pos_]; }
    Span here() const { return {pos_, pos_}; }
    Span span_char() const { return {pos_, pos_ + 1}; }
    bool bump() {
        if (eof()) return false;
        ++pos_;
        return !eof();
    }
    bool bump_if(std::u32string_view prefix) {
        if (p_.substr(pos_).substr(0, prefix.size()) != prefix) return false;
        pos_ += prefix.size();
        return true;
    }
    bool is_prefix(std::u32string_view prefix) const { return p_.substr(pos_).substr(0, prefix.size()) == prefix; }
    std::optional<char32_t> peek() const {
        if (pos_ + 1 < p_.size()) return p_[pos_ + 1];
        return std::nullopt;
    }
    std::optional<char32_t> peek_space() const {
        if (!ignore_ws_) return peek();
        if (eof()) return std::nullopt;
        std::size_t start = pos_ + 1;
        bool in_comment = false;
        for (std::size_t i = pos_ + 1; i < p_.size(); ++i) {
            const char32_t c = p_[i];
            if (is_white_space(c)) continue;
            if (!in_comment && c == '#') {
                in_comment = true;
            } else if (in_comment && c == '\n') {
                in_comment = false;
            } else {
                start = i;
                break;
            }
        }
        if (start < p_.size()) return p_[start];
        return std::nullopt;
    }
    void bump_space() {
        if (!ignore_ws_) return;
        while (!eof()) {
            if (is_white_space(ch())) {
                bump();
            } else if (ch() == '#') {
                bump();
                while (!eof()) {
                    const char32_t c = ch();
                    bump();
                    if (c == '\n') break;
                }
            } else {
                break;
            }
        }
    }
    bool bump_and_bump_space() {
        if (!bump()) return false;
        bump_space();
        return !eof();
    }

    static Node* concat_into_ast(Parser& p, Node* concat) {
        if (concat->children.empty()) return p.make(NodeKind::Empty, concat->span);
        if (concat->children.size() == 1) return concat->children[0];
        return concat;
    }
    Node* into_ast(Node* concat) { return concat_into_ast(*this, concat); }

    Node* union_into_item(Node* u) {
        if (u->children.empty()) return make(NodeKind::Empty, u->span);
        if (u->children.size() == 1) return u->children[0];
        return u;
    }

    // -- groups and alternation

    Node* push_group(Node* concat) {
        Node* g = parse_group();
        if (g->kind == NodeKind::Flags) {
            if (flag_state(g, 'x') != nullptr) ignore_ws_ = flag_enabled(g, 'x');
            concat->children.push_back(g);
            return concat;
        }
        const bool old = ignore_ws_;
        bool next = old;
        if (g->has_flags && flag_state(g, 'x') != nullptr) next = flag_enabled(g, 'x');
        groups_.push_back(GroupState{false, g, concat, old});
        ignore_ws_ = next;
        return make(NodeKind::Concat, here());
    }

    static const FlagItem* flag_state(const Node* n, char32_t flag) {
        for (const FlagItem& item : n->extra().flags) {
            if (item.flag == flag) return &item;
        }
        return nullptr;
    }
    static bool flag_enabled(const Node* n, char32_t flag) {
        bool enabled = true;
        for (const FlagItem& item : n->extra().flags) {
            if (item.flag == '-') enabled = false;
            if (item.flag == flag) return enabled;
        }
        return false;
    }

    Node* parse_group() {
        const Span open = span_char();
        bump();
        bump_space();
        if (is_prefix(U"?=") || is_prefix(U"?!") || is_prefix(U"?<=") || is_prefix(U"?<!")) {
            const std::size_t len = is_prefix(U"?<") ? 3 : 2;
            fail(ErrorKind::UnsupportedLookAround, {open.start, pos_ + len});
        }
        const Span inner = here();
        if (bump_if(U"?P<") || bump_if(U"?<")) {
            parse_capture_name();
            Node* g = make(NodeKind::Group, open);
            return g;
        }
        if (bump_if(U"?")) {
            if (eof()) fail(ErrorKind::GroupUnclosed, open);
            std::vector<FlagItem> flags = parse_flags();
            const char32_t end = ch();
            bump();
            if (end == ')') {
                if (flags.empty()) fail(ErrorKind::RepetitionMissing, inner);
                Node* f = make(NodeKind::Flags, {open.start, pos_});
                f->has_flags = true;
                f->extra().flags = std::move(flags);
                return f;
            }
            Node* g = make(NodeKind::Group, open);
            g->has_flags = true;
            g->extra().flags = std::move(flags);
            return g;
        }
        return make(NodeKind::Group, open);
    }

    void parse_capture_name() {
        if (eof()) fail(ErrorKind::GroupNameUnexpectedEof, here());
        const std::size_t start = pos_;
        for (;;) {
            if (ch() == '>') break;
            if (!is_capture_char(ch(), pos_ == start)) fail(ErrorKind::GroupNameInvalid, span_char());
            if (!bump()) break;
        }
        const std::size_t end = pos_;
        if (eof()) fail(ErrorKind::GroupNameUnexpectedEof, here());
        bump();
        if (end == start) fail(ErrorKind::GroupNameEmpty, {start, start});
        const std::u32string_view name = p_.substr(start, end - start);
        for (const Span& prior : names_) {
            if (p_.substr(prior.start, prior.end - prior.start) == name) {
                fail(ErrorKind::GroupNameDuplicate, {start, end}, prior);
            }
        }
        names_.push_back({start, end});
    }

    std::vector<FlagItem> parse_flags() {
        std::vector<FlagItem> items;
        std::optional<Span> last_was_negation;
        while (ch() != ':' && ch() != ')') {
            const char32_t c = ch();
            if (c == '-') {
                last_was_negation = span_char();
                for (const FlagItem& item : items) {
                    if (item.flag == '-') fail(ErrorKind::FlagRepeatedNegation, span_char(), item.span);
                }
            } else {
                last_was_negation.reset();
                switch (c) {
                    case 'i': case 'm': case 's': case 'U': case 'u': case 'R': case 'x': break;
                    default: fail(ErrorKind::FlagUnrecognized, span_char());
                }
                for (const FlagItem& item : items) {
                    if (item.flag == c) fail(ErrorKind::FlagDuplicate, span_char(), item.span);
                }
            }
            items.push_back(FlagItem{c, span_char()});
            if (!bump()) fail(ErrorKind::FlagUnexpectedEof, here());
        }
        if (last_was_negation) fail(ErrorKind::FlagDanglingNegation, *last_was_negation);
        return items;
    }

    Node* push_alternate(Node* concat) {
        concat->span.end = pos_;
        push_or_add_alternation(concat);
        bump();
        return make(NodeKind::Concat, here());
    }

    void push_or_add_alternation(Node* concat) {
        if (!groups_.empty() && groups_.back().alternation) {
            groups_.back().node->children.push_back(into_ast(concat));
            return;
        }
        Node* alt = make(NodeKind::Alternation, {concat->span.start, pos_});
        alt->children.push_back(into_ast(concat));
        groups_.push_back(GroupState{true, alt, nullptr, false});
    }

    Node* pop_group(Node* group_concat) {
        if (groups_.empty()) fail(ErrorKind::GroupUnopened, span_char());
        Node* alt = nullptr;
        if (groups_.back().alternation) {
            alt = groups_.back().node;
            groups_.pop_back();
            if (groups_.empty() || groups_.back().alternation) fail(ErrorKind::GroupUnopened, span_char());
        }
        GroupState state = groups_.back();
        groups_.pop_back();
        ignore_ws_ = state.ignore_ws;
        group_concat->span.end = pos_;
        bump();
        Node* group = state.node;
        group->span.end = pos_;
        if (alt != nullptr) {
            alt->span.end = group_concat->span.end;
            alt->children.push_back(into_ast(group_concat));
            group->children = {alt};
        } else {
            group->children = {into_ast(group_concat)};
        }
        state.concat->children.push_back(group);
        return state.concat;
    }

    Node* pop_group_end(Node* concat) {
        concat->span.end = pos_;
        Node* ast;
        if (groups_.empty()) {
            ast = into_ast(concat);
        } else if (groups_.back().alternation) {
            Node* alt = groups_.back().node;
            groups_.pop_back();
            alt->span.end = pos_;
            alt->children.push_back(into_ast(concat));
            ast = alt;
        } else {
            fail(ErrorKind::GroupUnclosed, groups_.back().node->span);
        }
        if (!groups_.empty()) fail(ErrorKind::GroupUnclosed, groups_.back().node->span);
        return ast;
    }

    // A run of literals is held as one node, or a long literal pattern
    // would cost a node per code point. A literal joins the run before it
    // once the next literal follows, when no repetition can take it any
    // more; the node made for the newer one is then reused.
    static bool plain_literal(const Node* n) { return n->kind == NodeKind::Literal && !n->hex_byte; }

    void push_primitive(Node* concat, Node* n) {
        std::vector<Node*>& items = concat->children;
        if (!plain_literal(n) || items.empty() || !plain_literal(items.back()) || &arena_.back() != n) {
            items.push_back(n);
            return;
        }
        Node* last = items.back();
        if (items.size() < 2 || items[items.size() - 2]->kind != NodeKind::LiteralRun) {
            last->kind = NodeKind::LiteralRun;
            last->extra().text.assign(1, last->c);
            items.push_back(n);
            return;
        }
        Node* run = items[items.size() - 2];
        run->extra().text.push_back(last->c);
        run->span.end = last->span.end;
        last->c = n->c;
        last->span = n->span;
        arena_.pop_back();
    }

    // -- repetition

    Node* pop_operand(Node* concat) {
        if (concat->children.empty()) fail(ErrorKind::RepetitionMissing, here());
        Node* operand = concat->children.back();
        if (operand->kind == NodeKind::Empty || operand->kind == NodeKind::Flags) {
            fail(ErrorKind::RepetitionMissing, here());
        }
        concat->children.pop_back();
        return operand;
    }

    Node* parse_uncounted_repetition(Node* concat, std::uint32_t min, std::uint64_t max) {
        Node* operand = pop_operand(concat);
        bump();
        if (!eof() && ch() == '?') bump();
        return push_repetition(concat, operand, min, max);
    }

    Node* push_repetition(Node* concat, Node* operand, std::uint32_t min, std::uint64_t max) {
        Node* rep = make(NodeKind::Repetition, {operand->span.start, pos_});
        rep->min = min;
        rep->max = max;
        rep->children = {operand};
        concat->children.push_back(rep);
        return concat;
    }

    // A count, or the error it gives; the error of a missing first count
    // waits until the rest of the braces show the repetition is closed.
    struct Decimal {
        std::optional<std::uint32_t> value;
        ParseError error;

        std::uint32_t get() const {
            if (!value) throw Failure{error};
            return *value;
        }
    };

    Decimal parse_decimal() {
        while (!eof() && is_white_space(ch())) bump();
        const std::size_t start = pos_;
        std::u32string digits;
        while (!eof() && ch() >= '0' && ch() <= '9') {
            digits.push_back(ch());
            bump_and_bump_space();
        }
        const Span span{start, pos_};
        while (!eof() && is_white_space(ch())) bump_and_bump_space();
        if (digits.empty()) return Decimal{std::nullopt, ParseError{ErrorKind::RepetitionCountDecimalEmpty, span, {}}};
        std::uint64_t n = 0;
        for (char32_t d : digits) {
            n = n * 10 + (d - '0');
            if (n > 0xFFFFFFFFull) return Decimal{std::nullopt, ParseError{ErrorKind::DecimalInvalid, span, {}}};
        }
        return Decimal{static_cast<std::uint32_t>(n), {}};
    }

    Node* parse_counted_repetition(Node* concat) {
        const std::size_t start = pos_;
        Node* operand = pop_operand(concat);
        if (!bump_and_bump_space()) fail(ErrorKind::RepetitionCountUnclosed, {start, pos_});
        const Decimal first = parse_decimal();
        if (eof()) fail(ErrorKind::RepetitionCountUnclosed, {start, pos_});
        std::uint32_t min;
        std::uint64_t max;
        if (ch() == ',') {
            if (!bump_and_bump_space()) fail(ErrorKind::RepetitionCountUnclosed, {start, pos_});
            min = first.get();
            max = ch() != '}' ? std::uint64_t{parse_decimal().get()} : UNBOUNDED;
        } else {
            min = first.get();
            max = min;
        }
        if (eof() || ch() != '}') fail(ErrorKind::RepetitionCountUnclosed, {start, pos_});
        if (bump_and_bump_space() && ch() == '?') bump_and_bump_space();
        if (min > max) fail(ErrorKind::RepetitionCountInvalid, {start, pos_});
        return push_repetition(concat, operand, min, max);
    }

    // -- primitives and escapes

    Node* literal(Span span, char32_t c) {
        Node* n = make(NodeKind::Literal, span);
        n->c = c;
        return n;
    }

    Node* parse_primitive() {
        const char32_t c = ch();
        if (c == '\\') return parse_escape();
        const Span span = span_char();
        bump();
        if (c == '.') return make(NodeKind::Dot, span);
        if (c == '^' || c == '$') {
            Node* n = make(NodeKind::Assertion, span);
            n->assertion = c == '^' ? Assertion::StartLine : Assertion::EndLine;
            return n;
        }
        return literal(span, c);
    }

    Node* assertion(Span span, Assertion kind) {
        Node* n = make(NodeKind::Assertion, span);
        n->assertion = kind;
        return n;
    }

    Node* parse_escape() {
        const std::size_t start = pos_;
        if (!bump()) fail(ErrorKind::EscapeUnexpectedEof, {start, pos_});
        const char32_t c = ch();
        if (c >= '0' && c <= '9') fail(ErrorKind::UnsupportedBackreference, {start, pos_ + 1});
        if (c == 'x' || c == 'u' || c == 'U') {
            Node* lit = parse_hex();
            lit->span.start = start;
            return lit;
        }
        if (c == 'p' || c == 'P') {
            Node* cls = parse_unicode_class();
            cls->span.start = start;
            return cls;
        }
        if (c == 'd' || c == 's' || c == 'w' || c == 'D' || c == 'S' || c == 'W') {
            bump();
            Node* n = make(NodeKind::Perl, {start, pos_});
            n->perl = (c == 'd' || c == 'D') ? PerlClass::Digit : (c == 's' || c == 'S') ? PerlClass::Space : PerlClass::Word;
            n->negated = c == 'D' || c == 'S' || c == 'W';
            return n;
        }
        bump();
        const Span span{start, pos_};
        if (is_escapeable_character(c)) return literal(span, c);
        switch (c) {
            case 'a': return literal(span, 0x07);
            case 'f': return literal(span, 0x0C);
            case 't': return literal(span, '\t');
            case 'n': return literal(span, '\n');
            case 'r': return literal(span, '\r');
            case 'v': return literal(span, 0x0B);
            case 'A': return assertion(span, Assertion::StartText);
            case 'z': return assertion(span, Assertion::EndText);
            case 'b': {
                Node* wb = assertion(span, Assertion::WordBoundary);
                if (!eof() && ch() == '{') {
                    if (auto kind = maybe_parse_special_word_boundary(start)) {
                        wb->assertion = *kind;
                        wb->span.end = pos_;
                    }
                }
                return wb;
            }
            case 'B': return assertion(span, Assertion::NotWordBoundary);
            case '<': return assertion(span, Assertion::WordStart);
            case '>': return assertion(span, Assertion::WordEnd);
            default: fail(ErrorKind::EscapeUnrecognized, span);
        }
    }

    std::optional<Assertion> maybe_parse_special_word_boundary(std::size_t wb_start) {
        auto valid = [](char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-'; };
        const std::size_t start = pos_;
        if (!bump_and_bump_space()) fail(ErrorKind::SpecialWordOrRepetitionUnexpectedEof, {wb_start, pos_});
        const std::size_t start_contents = pos_;
        if (!valid(ch())) {
            pos_ = start;
            return std::nullopt;
        }
        std::u32string name;
        while (!eof() && valid(ch())) {
            name.push_back(ch());
            bump_and_bump_space();
        }
        if (eof() || ch() != '}') fail(ErrorKind::SpecialWordBoundaryUnclosed, {start, pos_});
        const std::size_t end = pos_;
        bump();
        if (name == U"start") return Assertion::WordStart;
        if (name == U"end") return Assertion::WordEnd;
        if (name == U"start-half") return Assertion::WordStartHalf;
        if (name == U"end-half") return Assertion::WordEndHalf;
        fail(ErrorKind::SpecialWordBoundaryUnrecognized, {start_contents, end});
    }

    Node* parse_hex() {
        const char32_t kind = ch();
        if (!bump_and_bump_space()) fail(ErrorKind::EscapeUnexpectedEof, here());
        if (ch() == '{') return parse_hex_brace();
        const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : 8;
        const std::size_t start = pos_;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            if (i > 0 && !bump_and_bump_space()) fail(ErrorKind::EscapeUnexpectedEof, here());
            if (!is_hex(ch())) fail(ErrorKind::EscapeHexInvalidDigit, span_char());
            value = value * 16 + hex_value(ch());
        }
        bump_and_bump_space();
        const Span span{start, pos_};
        if (value > MAX_CODE_POINT || (value >= 0xD800 && value <= 0xDFFF)) fail(ErrorKind::EscapeHexInvalid, span);
        Node* lit = literal(span, static_cast<char32_t>(value));
        lit->hex_byte = kind == 'x';
        return lit;
    }

    Node* parse_hex_brace() {
        const std::size_t brace = pos_;
        const std::size_t start = pos_ + 1;
        std::uint64_t value = 0;
        bool any = false, overflow = false;
        while (bump_and_bump_space() && ch() != '}') {
            if (!is_hex(ch())) fail(ErrorKind::EscapeHexInvalidDigit, span_char());
            value = value * 16 + hex_value(ch());
            if (value > 0xFFFFFFFFull) overflow = true, value = 0x100000000ull;
            any = true;
        }
        if (eof()) fail(ErrorKind::EscapeUnexpectedEof, {brace, pos_});
        const std::size_t end = pos_;
        bump_and_bump_space();
        if (!any) fail(ErrorKind::EscapeHexEmpty, {brace, pos_});
        if (overflow || value > MAX_CODE_POINT || (value >= 0xD800 && value <= 0xDFFF)) {
            fail(ErrorKind::EscapeHexInvalid, {start, end});
        }
        return literal({start, pos_}, static_cast<char32_t>(value));
    }

    Node* parse_unicode_class() {
        const bool negated = ch() == 'P';
        if (!bump_and_bump_space()) fail(ErrorKind::EscapeUnexpectedEof, here());
        Node* n;
        if (ch() == '{') {
            const std::size_t start = pos_ + 1;
            std::u32string text;
            while (bump_and_bump_space() && ch() != '}') text.push_back(ch());
            if (eof()) fail(ErrorKind::EscapeUnexpectedEof, here());
            bump();
            n = make(NodeKind::Unicode, {start, pos_});
            std::size_t split;
            if ((split = text.find(U"!=")) != std::u32string::npos) {
                n->form = UnicodeForm::NamedValue;
                n->not_equal = true;
                n->extra().name = text.substr(0, split);
                n->extra().value = text.substr(split + 2);
            } else if ((split = text.find(U':')) != std::u32string::npos ||
                       (split = text.find(U'=')) != std::u32string::npos) {
                n->form = UnicodeForm::NamedValue;
                n->extra().name = text.substr(0, split);
                n->extra().value = text.substr(split + 1);
            } else {
                n->form = UnicodeForm::Named;
                n->extra().name = text;
            }
        } else {
            const std::size_t start = pos_;
            const char32_t c = ch();
            if (c == '\\') fail(ErrorKind::UnicodeClassInvalid, span_char());
            bump_and_bump_space();
            n = make(NodeKind::Unicode, {start, pos_});
            n->form = UnicodeForm::OneLetter;
            n->extra().name = std::u32string(1, c);
        }
        n->negated = negated;
        return n;
    }

    // -- bracketed classes

    [[noreturn]] void unclosed_class_error() {
        for (auto it = classes_.rbegin(); it != classes_.rend(); ++it) {
            if (!it->op) fail(ErrorKind::ClassUnclosed, it->node->span);
        }
        fail(ErrorKind::ClassUnclosed, here());
    }

    Node* parse_set_class() {
        Node* u = make(NodeKind::ClassUnion, here());
        for (;;) {
            bump_space();
            if (eof()) unclosed_class_error();
            const char32_t c = ch();
            if (c == '[') {
                if (!classes_.empty()) {
                    if (Node* ascii = maybe_parse_ascii_class()) {
                        u->children.push_back(ascii);
                        continue;
                    }
                }
                u = push_class_open(u);
            } else if (c == ']') {
                Node* done = nullptr;
                u = pop_class(u, done);
                if (done != nullptr) return done;
            } else if (c == '&' && peek() == U'&') {
                pos_ += 2;
                u = push_class_op(ClassOpKind::Intersection, u);
            } else if (c == '-' && peek() == U'-') {
                pos_ += 2;
                u = push_class_op(ClassOpKind::Difference, u);
            } else if (c == '~' && peek() == U'~') {
                pos_ += 2;
                u = push_class_op(ClassOpKind::SymmetricDifference, u);
            } else {
                u->children.push_back(parse_set_class_range());
            }
        }
    }

    Node* push_class_open(Node* parent_union) {
        const std::size_t start = pos_;
        if (!bump_and_bump_space()) fail(ErrorKind::ClassUnclosed, {start, pos_});
        bool negated = false;
        if (ch() == '^') {
            negated = true;
            if (!bump_and_bump_space()) fail(ErrorKind::ClassUnclosed, {start, pos_});
        }
        Node* u = make(NodeKind::ClassUnion, here());
        while (ch() == '-') {
            u->children.push_back(literal(span_char(), '-'));
            if (!bump_and_bump_space()) fail(ErrorKind::ClassUnclosed, {start, start});
        }
        if (u->children.empty() && ch() == ']') {
            u->children.push_back(literal(span_char(), ']'));
            if (!bump_and_bump_space()) fail(ErrorKind::ClassUnclosed, {start, pos_});
        }
        Node* set = make(NodeKind::Bracketed, {start, pos_});
        set->negated = negated;
        classes_.push_back(ClassState{false, set, parent_union, ClassOpKind::Intersection});
        return u;
    }

    Node* pop_class_op(Node* rhs) {
        if (classes_.empty() || !classes_.back().op) return rhs;
        ClassState state = classes_.back();
        classes_.pop_back();
        Node* op = make(NodeKind::ClassOp, {state.node->span.start, rhs->span.end});
        op->op = state.kind;
        op->children = {state.node, rhs};
        return op;
    }

    Node* push_class_op(ClassOpKind kind, Node* next_union) {
        Node* lhs = pop_class_op(union_into_item(next_union));
        classes_.push_back(ClassState{true, lhs, nullptr, kind});
        return make(NodeKind::ClassUnion, here());
    }

    Node* pop_class(Node* nested_union, Node*& done) {
        Node* item = pop_class_op(union_into_item(nested_union));
        ClassState state = classes_.back();
        classes_.pop_back();
        bump();
        Node* set = state.node;
        set->span.end = pos_;
        set->children = {item};
        if (classes_.empty()) {
            done = set;
            return nullptr;
        }
        state.union_->children.push_back(set);
        return state.union_;
    }

    Node* maybe_parse_ascii_class() {
        const std::size_t start = pos_;
        auto back_up = [&]() -> Node* {
            pos_ = start;
            return nullptr;
        };
        if (!bump() || ch() != ':') return back_up();
        if (!bump()) return back_up();
        bool negated = false;
        if (ch() == '^') {
            negated = true;
            if (!bump()) return back_up();
        }
        const std::size_t name_start = pos_;
        while (ch() != ':' && bump()) {
        }
        if (eof()) return back_up();
        const std::u32string_view name = p_.substr(name_start, pos_ - name_start);
        if (!bump_if(U":]")) return back_up();
        std::optional<ClassSet> set = ascii_class(utf8_of(name));
        if (!set) return back_up();
        Node* n = make(NodeKind::ClassAscii, {start, pos_});
        n->negated = negated;
        n->extra().ascii = std::move(*set);
        return n;
    }

    Node* parse_set_class_item() {
        if (ch() == '\\') return parse_escape();
        Node* lit = literal(span_char(), ch());
        bump();
        return lit;
    }

    static void check_class_item(Node* n) {
        if (n->kind == NodeKind::Assertion || n->kind == NodeKind::Dot) fail(ErrorKind::ClassEscapeInvalid, n->span);
    }

    Node* parse_set_class_range() {
        Node* first = parse_set_class_item();
        bump_space();
        if (eof()) unclosed_class_error();
        if (ch() != '-' || peek_space() == U']' || peek_space() == U'-') {
            check_class_item(first);
            return first;
        }
        if (!bump_and_bump_space()) unclosed_class_error();
        Node* second = parse_set_class_item();
        const Span span{first->span.start, second->span.end};
        if (first->kind != NodeKind::Literal) fail(ErrorKind::ClassRangeLiteral, first->span);
        if (second->kind != NodeKind::Literal) fail(ErrorKind::ClassRangeLiteral, second->span);
        if (first->c > second->c) fail(ErrorKind::ClassRangeInvalid, span);
        Node* range = make(NodeKind::ClassRange, span);
        range->children = {first, second};
        return range;
    }

    // -- nesting

    static bool nests(NodeKind kind) {
        switch (kind) {
            case NodeKind::Bracketed:
            case NodeKind::Repetition:
            case NodeKind::Group:
            case NodeKind::Alternation:
            case NodeKind::Concat:
            case NodeKind::ClassUnion:
            case NodeKind::ClassOp: return true;
            default: return false;
        }
    }

    // Pre-order, so the first node past the limit is the one reported.
    static void check_nest_limit(Node* root) {
        std::vector<std::pair<Node*, std::size_t>> stack{{root, 0}};
        while (!stack.empty()) {
            auto [n, depth] = stack.back();
            stack.pop_back();
            if (nests(n->kind)) {
                ++depth;
                if (depth > NEST_LIMIT) fail(ErrorKind::NestLimitExceeded, n->span);
            }
            if (n->kind == NodeKind::ClassRange) continue;
            for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back({*it, depth});
        }
    }

    friend class Translator;
};

// ---- translation into the syntax tree

struct Flags {
    bool i = false, m = false, s = false, U = false, u = true, x = false, R = false;

    void apply(const std::vector<FlagItem>& items) {
        bool enabled = true;
        for (const FlagItem& item : items) {
            switch (item.flag) {
                case '-': enabled = false; break;
                case 'i': i = enabled; break;
                case 'm': m = enabled; break;
                case 's': s = enabled; break;
                case 'U': U = enabled; break;
                case 'u': u = enabled; break;
                case 'x': x = enabled; break;
                case 'R': R = enabled; break;
                default: break;
            }
        }
    }
};

ClassSet byte_negate(const ClassSet& set) { return set_intersection(set_negate(set), ClassSet{{0, 0xFF}}); }

// Translates the tree while counting what its program takes at least: each
// piece outside a repetition of at most zero compiles once or more, a
// literal to one instruction per UTF-8 byte, a class, an assertion and a
// branch to one instruction or more. Once that passes the size limit the
// pattern can only be refused: the rest is still translated for its errors,
// which come first, but no more of the tree is kept.
class Translator {
public:
    bool too_big() const { return least_ > SIZE_LIMIT; }

    // Recursion is bounded by the nesting limit checked before.
    Syntax translate(const Node* n) {
        switch (n->kind) {
            case NodeKind::Empty: return Syntax{};
            case NodeKind::Flags: flags_.apply(n->extra().flags); return Syntax{};
            case NodeKind::Literal: return literal(n, n->c);
            case NodeKind::LiteralRun: {
                if (flags_.i) {
                    Syntax s;
                    s.kind = Syntax::Kind::Concat;
                    for (char32_t c : n->extra().text) keep(s, literal(n, c));
                    return s;
                }
                count(literal_bytes(n->extra().text));
                Syntax s;
                s.kind = Syntax::Kind::Literal;
                s.text = n->extra().text;
                return s;
            }
            case NodeKind::Dot: {
                if (!flags_.u) fail(ErrorKind::InvalidUtf8, n->span);
                if (flags_.s) return class_syntax(set_negate({}));
                if (flags_.R) return class_syntax(set_negate({{'\n', '\n'}, {'\r', '\r'}}));
                return class_syntax(set_negate({{'\n', '\n'}}));
            }
            case NodeKind::Assertion: return look_syntax(look(n->assertion));
            case NodeKind::Unicode: return class_syntax(unicode_class(n));
            case NodeKind::Perl: return class_syntax(perl_class(n));
            case NodeKind::Bracketed: return class_syntax(bracketed(n));
            case NodeKind::Repetition: {
                Syntax s;
                s.kind = Syntax::Kind::Repeat;
                s.min = n->min;
                s.max = n->max;
                if (n->max == UNBOUNDED) count(INST_BYTES);  // the loop's branch
                if (n->max == 0) ++zero_;
                s.subs.push_back(translate(n->children[0]));
                if (n->max == 0) --zero_;
                return s;
            }
            case NodeKind::Group: {
                const Flags saved = flags_;
                if (n->has_flags) flags_.apply(n->extra().flags);
                Syntax s = translate(n->children[0]);
                flags_ = saved;
                return s;
            }
            case NodeKind::Alternation:
            case NodeKind::Concat: {
                Syntax s;
                s.kind = n->kind == NodeKind::Concat ? Syntax::Kind::Concat : Syntax::Kind::Alternate;
                if (n->kind == NodeKind::Alternation) count((n->children.size() - 1) * INST_BYTES);
                for (const Node* c : n->children) keep(s, translate(c));
                return s;
            }
            default: return Syntax{};
        }
    }

private:
    Flags flags_;
    std::size_t least_ = 0;  // bytes the program takes at least
    std::size_t zero_ = 0;   // enclosing repetitions of at most zero
    // The classes made so far, by their ranges' bytes.
    std::unordered_map<std::string, std::shared_ptr<const ClassSet>> sets_;

    void count(std::size_t bytes) {
        if (zero_ == 0) least_ += bytes;
    }

    void keep(Syntax& parent, Syntax&& sub) {
        if (!too_big()) parent.subs.push_back(std::move(sub));
    }

    Syntax class_syntax(ClassSet set) {
        if (!set.empty()) count(INST_BYTES);
        if (too_big()) return Syntax{};  // not kept
        std::string key(reinterpret_cast<const char*>(set.data()), set.size() * sizeof(CodeRange));
        auto [it, made] = sets_.try_emplace(std::move(key));
        if (made) it->second = std::make_shared<const ClassSet>(std::move(set));
        Syntax s;
        s.kind = Syntax::Kind::Class;
        s.set = it->second;
        return s;
    }

    Syntax look_syntax(Look look) {
        count(INST_BYTES);
        Syntax s;
        s.kind = Syntax::Kind::Look;
        s.look = look;
        return s;
    }

    Look look(Assertion a) const {
        const bool u = flags_.u;
        switch (a) {
            case Assertion::StartLine: return flags_.m ? (flags_.R ? Look::StartCRLF : Look::StartLF) : Look::Start;
            case Assertion::EndLine: return flags_.m ? (flags_.R ? Look::EndCRLF : Look::EndLF) : Look::End;
            case Assertion::StartText: return Look::Start;
            case Assertion::EndText: return Look::End;
            case Assertion::WordBoundary: return u ? Look::WordUnicode : Look::WordAscii;
            case Assertion::NotWordBoundary: return u ? Look::NotWordUnicode : Look::NotWordAscii;
            case Assertion::WordStart: return u ? Look::WordStartUnicode : Look::WordStartAscii;
            case Assertion::WordEnd: return u ? Look::WordEndUnicode : Look::WordEndAscii;
            case Assertion::WordStartHalf: return u ? Look::WordStartHalfUnicode : Look::WordStartHalfAscii;
            case Assertion::WordEndHalf: return u ? Look::WordEndHalfUnicode : Look::WordEndHalfAscii;
        }
        return Look::Start;
    }

    Syntax literal(const Node* n, char32_t c) {
        if (!flags_.u && n->hex_byte && c > 0x7F) fail(ErrorKind::InvalidUtf8, n->span);
        if (!flags_.i) {
            Syntax s;
            s.kind = Syntax::Kind::Literal;
            s.text.assign(1, c);
            count(literal_bytes(s.text));
            return s;
        }
        ClassSet set{{c, c}};
        if (flags_.u) {
            case_fold(set);
        } else {
            ascii_case_fold(set);
        }
        return class_syntax(std::move(set));
    }

    // A literal as a member of a class; under (?-u) it must be ASCII.
    std::uint32_t class_literal(const Node* n) const {
        if (!flags_.u) {
            if (n->hex_byte && n->c > 0x7F) fail(ErrorKind::InvalidUtf8, n->span);
            if (n->c > 0x7F) fail(ErrorKind::UnicodeNotAllowed, n->span);
        }
        return n->c;
    }

    void fold_and_negate(Span span, bool negated, ClassSet& set) const {
        if (flags_.u) {
            if (flags_.i) case_fold(set);
            if (negated) set = set_negate(set);
            return;
        }
        if (flags_.i) ascii_case_fold(set);
        if (negated) set = byte_negate(set);
        if (!set_is_ascii(set)) fail(ErrorKind::InvalidUtf8, span);
    }

    ClassSet unicode_class(const Node* n) const {
        if (!flags_.u) fail(ErrorKind::UnicodeNotAllowed, n->span);
        ClassSet set;
        const NodeExtra& names = n->extra();
        const PropertyLookup found = n->form == UnicodeForm::NamedValue
                                         ? property_value_class(utf8_of(names.name), utf8_of(names.value), set)
                                         : property_class(utf8_of(names.name), set);
        if (found == PropertyLookup::PropertyNotFound) fail(ErrorKind::UnicodePropertyNotFound, n->span);
        if (found == PropertyLookup::ValueNotFound) fail(ErrorKind::UnicodePropertyValueNotFound, n->span);
        fold_and_negate(n->span, n->negated != n->not_equal, set);
        return set;
    }

    ClassSet perl_class(const Node* n) const {
        if (flags_.u) {
            ClassSet set = perl_unicode_class(n->perl);
            return n->negated ? set_negate(set) : set;
        }
        ClassSet set = perl_ascii_class(n->perl);
        if (n->negated) set = byte_negate(set);
        if (!set_is_ascii(set)) fail(ErrorKind::InvalidUtf8, n->span);
        return set;
    }

    ClassSet bracketed(const Node* n) {
        ClassSet set = class_item(n->children[0]);
        fold_and_negate(n->span, n->negated, set);
        return set;
    }

    ClassSet class_item(const Node* n) {
        switch (n->kind) {
            case NodeKind::Empty: return {};
            case NodeKind::Literal: {
                const std::uint32_t c = class_literal(n);
                return {{c, c}};
            }
            case NodeKind::ClassRange: {
                const std::uint32_t lo = class_literal(n->children[0]);
                const std::uint32_t hi = class_literal(n->children[1]);
                return {{lo, hi}};
            }
            case NodeKind::ClassAscii: {
                ClassSet set = n->extra().ascii;
                fold_and_negate(n->span, n->negated, set);
                return set;
            }
            case NodeKind::Unicode: return unicode_class(n);
            case NodeKind::Perl: return perl_class(n);
            case NodeKind::Bracketed: return bracketed(n);
            case NodeKind::ClassUnion: {
                ClassSet set;
                for (const Node* c : n->children) {
                    const ClassSet part = class_item(c);
                    set.insert(set.end(), part.begin(), part.end());
                }
                canonicalize(set);
                return set;
            }
            case NodeKind::ClassOp: {
                ClassSet lhs = class_item(n->children[0]);
                ClassSet rhs = class_item(n->children[1]);
                if (flags_.i) {
                    if (flags_.u) {
                        case_fold(rhs);
                        case_fold(lhs);
                    } else {
                        ascii_case_fold(rhs);
                        ascii_case_fold(lhs);
                    }
                }
                switch (n->op) {
                    case ClassOpKind::Intersection: return set_intersection(lhs, rhs);
                    case ClassOpKind::Difference: return set_difference(lhs, rhs);
                    case ClassOpKind::SymmetricDifference: return set_symmetric_difference(lhs, rhs);
                }
                return lhs;
            }
            default: return {};
        }
    }
};

}  // namespace

ParseResult parse_pattern(std::u32string_view pattern, Syntax& out, ParseError& error) {
    try {
        Parser parser(pattern);
        const Node* ast = parser.parse();
        Translator translator;
        out = translator.translate(ast);
        if (translator.too_big()) {
            out = Syntax{};
            return ParseResult::TooBig;
        }
        return ParseResult::Parsed;
    } catch (const Failure& f) {
        error = f.error;
        return ParseResult::Invalid;
    }
}

}  // namespace kestrome::regex
