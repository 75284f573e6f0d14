// A rejected pattern: the error kind, where it is, and its display.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrome::regex {

enum class ErrorKind {
    ClassEscapeInvalid,
    ClassRangeInvalid,
    ClassRangeLiteral,
    ClassUnclosed,
    DecimalEmpty,
    DecimalInvalid,
    EscapeHexEmpty,
    EscapeHexInvalid,
    EscapeHexInvalidDigit,
    EscapeUnexpectedEof,
    EscapeUnrecognized,
    FlagDanglingNegation,
    FlagDuplicate,
    FlagRepeatedNegation,
    FlagUnexpectedEof,
    FlagUnrecognized,
    GroupNameDuplicate,
    GroupNameEmpty,
    GroupNameInvalid,
    GroupNameUnexpectedEof,
    GroupUnclosed,
    GroupUnopened,
    NestLimitExceeded,
    RepetitionCountInvalid,
    RepetitionCountDecimalEmpty,
    RepetitionCountUnclosed,
    RepetitionMissing,
    SpecialWordBoundaryUnclosed,
    SpecialWordBoundaryUnrecognized,
    SpecialWordOrRepetitionUnexpectedEof,
    UnicodeClassInvalid,
    UnsupportedBackreference,
    UnsupportedLookAround,
    UnicodeNotAllowed,
    InvalidUtf8,
    UnicodePropertyNotFound,
    UnicodePropertyValueNotFound,
};

// A stretch of the pattern in code point indexes, end exclusive.
struct Span {
    std::size_t start = 0;
    std::size_t end = 0;
};

struct ParseError {
    ErrorKind kind;
    Span span;
    std::optional<Span> aux;  // the first occurrence, for duplicates
};

std::string_view error_message(ErrorKind kind);

// "regex parse error:" with the pattern, caret lines and "error: <message>".
std::string format_parse_error(std::u32string_view pattern, const ParseError& error);

}  // namespace kestrome::regex
