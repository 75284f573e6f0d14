#include "regex/parse_error.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "util/utf8.h"

namespace kestrome::regex {

std::string_view error_message(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::ClassEscapeInvalid: return "invalid escape sequence found in character class";
        case ErrorKind::ClassRangeInvalid: return "invalid character class range, the start must be <= the end";
        case ErrorKind::ClassRangeLiteral: return "invalid range boundary, must be a literal";
        case ErrorKind::ClassUnclosed: return "unclosed character class";
        case ErrorKind::DecimalEmpty: return "decimal literal empty";
        case ErrorKind::DecimalInvalid: return "decimal literal invalid";
        case ErrorKind::EscapeHexEmpty: return "hexadecimal literal empty";
        case ErrorKind::EscapeHexInvalid: return "hexadecimal literal is not a Unicode scalar value";
        case ErrorKind::EscapeHexInvalidDigit: return "invalid hexadecimal digit";
        case ErrorKind::EscapeUnexpectedEof: return "incomplete escape sequence, reached end of pattern prematurely";
        case ErrorKind::EscapeUnrecognized: return "unrecognized escape sequence";
        case ErrorKind::FlagDanglingNegation: return "dangling flag negation operator";
        case ErrorKind::FlagDuplicate: return "duplicate flag";
        case ErrorKind::FlagRepeatedNegation: return "flag negation operator repeated";
        case ErrorKind::FlagUnexpectedEof: return "expected flag but got end of regex";
        case ErrorKind::FlagUnrecognized: return "unrecognized flag";
        case ErrorKind::GroupNameDuplicate: return "duplicate capture group name";
        case ErrorKind::GroupNameEmpty: return "empty capture group name";
        case ErrorKind::GroupNameInvalid: return "invalid capture group character";
        case ErrorKind::GroupNameUnexpectedEof: return "unclosed capture group name";
        case ErrorKind::GroupUnclosed: return "unclosed group";
        case ErrorKind::GroupUnopened: return "unopened group";
        case ErrorKind::NestLimitExceeded: return "exceed the maximum number of nested parentheses/brackets (250)";
        case ErrorKind::RepetitionCountInvalid: return "invalid repetition count range, the start must be <= the end";
        case ErrorKind::RepetitionCountDecimalEmpty: return "repetition quantifier expects a valid decimal";
        case ErrorKind::RepetitionCountUnclosed: return "unclosed counted repetition";
        case ErrorKind::RepetitionMissing: return "repetition operator missing expression";
        case ErrorKind::SpecialWordBoundaryUnclosed:
            return "special word boundary assertion is either unclosed or contains an invalid character";
        case ErrorKind::SpecialWordBoundaryUnrecognized:
            return "unrecognized special word boundary assertion, valid choices are: start, end, start-half or end-half";
        case ErrorKind::SpecialWordOrRepetitionUnexpectedEof:
            return "found either the beginning of a special word boundary or a bounded repetition on a \\b with an "
                   "opening brace, but no closing brace";
        case ErrorKind::UnicodeClassInvalid: return "invalid Unicode character class";
        case ErrorKind::UnsupportedBackreference: return "backreferences are not supported";
        case ErrorKind::UnsupportedLookAround: return "look-around, including look-ahead and look-behind, is not supported";
        case ErrorKind::UnicodeNotAllowed: return "Unicode not allowed here";
        case ErrorKind::InvalidUtf8: return "pattern can match invalid UTF-8";
        case ErrorKind::UnicodePropertyNotFound: return "Unicode property not found";
        case ErrorKind::UnicodePropertyValueNotFound: return "Unicode property value not found";
    }
    return "";
}

namespace {

// Line and column (both from 1) of a code point index.
struct LineColumn {
    std::size_t line;
    std::size_t column;
};

LineColumn locate(std::u32string_view pattern, std::size_t index) {
    LineColumn at{1, 1};
    for (std::size_t i = 0; i < index && i < pattern.size(); ++i) {
        if (pattern[i] == U'\n') {
            ++at.line;
            at.column = 1;
        } else {
            ++at.column;
        }
    }
    return at;
}

struct Located {
    LineColumn start;
    LineColumn end;
};

}  // namespace

std::string format_parse_error(std::u32string_view pattern, const ParseError& error) {
    // Lines as a line iterator sees them: split at '\n', a final '\r' dropped,
    // no empty line after a final '\n'.
    std::vector<std::u32string_view> lines;
    for (std::size_t start = 0; start < pattern.size();) {
        std::size_t nl = pattern.find(U'\n', start);
        std::size_t stop = nl == std::u32string_view::npos ? pattern.size() : nl;
        std::u32string_view line = pattern.substr(start, stop - start);
        if (!line.empty() && line.back() == U'\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::u32string_view::npos) break;
        start = nl + 1;
    }
    std::size_t line_count = lines.size();
    if (!pattern.empty() && pattern.back() == U'\n') ++line_count;
    const std::size_t width = line_count <= 1 ? 0 : std::to_string(line_count).size();

    std::vector<std::vector<Located>> by_line(line_count);
    std::vector<Located> multi_line;
    auto place = [&](const Span& s) {
        const Located loc{locate(pattern, s.start), locate(pattern, s.end)};
        if (loc.start.line == loc.end.line) {
            if (loc.start.line - 1 < by_line.size()) by_line[loc.start.line - 1].push_back(loc);
        } else {
            multi_line.push_back(loc);
        }
    };
    place(error.span);
    if (error.aux) place(*error.aux);
    auto order = [](const Located& a, const Located& b) {
        return std::tie(a.start.line, a.start.column, a.end.line, a.end.column) <
               std::tie(b.start.line, b.start.column, b.end.line, b.end.column);
    };
    for (auto& v : by_line) std::sort(v.begin(), v.end(), order);
    std::sort(multi_line.begin(), multi_line.end(), order);

    std::string notated;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (width > 0) {
            const std::string n = std::to_string(i + 1);
            notated.append(width - n.size(), ' ');
            notated += n;
            notated += ": ";
        } else {
            notated += "    ";
        }
        for (char32_t c : lines[i]) append_utf8(notated, c);
        notated += '\n';
        if (i < by_line.size() && !by_line[i].empty()) {
            notated.append(width == 0 ? 4 : width + 2, ' ');
            std::size_t pos = 0;
            for (const Located& s : by_line[i]) {
                for (; pos < s.start.column - 1; ++pos) notated += ' ';
                const std::size_t len = s.end.column > s.start.column ? s.end.column - s.start.column : 0;
                for (std::size_t k = 0; k < std::max<std::size_t>(1, len); ++k, ++pos) notated += '^';
            }
            notated += '\n';
        }
    }

    std::string out = "regex parse error:\n";
    const std::string message(error_message(error.kind));
    if (pattern.find(U'\n') != std::u32string_view::npos) {
        const std::string divider(79, '~');
        out += divider + "\n" + notated + divider + "\n";
        if (!multi_line.empty()) {
            for (std::size_t k = 0; k < multi_line.size(); ++k) {
                const Located& s = multi_line[k];
                if (k > 0) out += "\n";
                out += "on line " + std::to_string(s.start.line) + " (column " + std::to_string(s.start.column) +
                       ") through line " + std::to_string(s.end.line) + " (column " +
                       std::to_string(static_cast<long long>(s.end.column) - 1) + ")";
            }
            out += "\n";
        }
    } else {
        out += notated;
    }
    out += "error: " + message;
    return out;
}

}  // namespace kestrome::regex
