"""Regex constraints: the pattern dialect, answered as whole-string matches.

Every row is (pattern, text, answer): True or False for the whole-string
match, or the name of the error kind for a pattern that must be rejected
(the text is then None). The answers are those of Rust's regex crate,
except where our Unicode tables (15.0) lack a later addition.
"""

import json
import os
import random
import re
from types import SimpleNamespace as Meta
from typing import Annotated

import pytest
from hypothesis import given, settings
from hypothesis.errors import InvalidArgument
from hypothesis import strategies as st

from kestrome import Validator

T, F = True, False

# --- the answers the crate gives for the dialect's corner cases

SAMPLES = [
    (r"\d", "\u0663", T),
    (r"\w", "é", T),
    (r"\w", "\u200d", T),
    (r"\s", "\x0b", T),
    (r"\s", "\xa0", T),
    (r"\bé\b", "é", T),
    (r"\<\w+\>", "café", T),
    (r"\b{foo}", None, "SpecialWordBoundaryUnrecognized"),
    (r"(?m)a$\r\n^b", "a\r\nb", F),
    (r"(?mR)a$\r\n^b", "a\r\nb", T),
    (r"(?mR)a\r$\n", "a\r\n", F),
    (r"(?R).", "\r", F),
    (r"(?i)k", "\u212a", T),
    (r"(?i-u)k", "\u212a", F),
    (r"(?i)ß", "\u1e9e", T),
    (r"(?i)ß", "ss", F),
    (r"(?i)i", "\u0130", F),
    (r"(?i)[^k]", "\u212a", F),
    (r"(?i)[a-z--k]", "K", F),
    (r"(?i)\P{Lu}", "a", F),
    (r"\p{IsGreek}", "α", T),
    (r"\p{Greek}", "\u0342", F),
    (r"\p{scx=Greek}", "\u0342", T),
    (r"\p{Lower}", "ª", T),
    (r"\p{Emoji}", "1", T),
    (r"\p{Age:6.1}", "\U0001f600", T),
    (r"\P{sc!=Greek}", "α", T),
    (r"\pLu", "éu", T),
    (r"\p{Cs}", None, "UnicodePropertyValueNotFound"),
    (r"\p{^Greek}", None, "UnicodePropertyNotFound"),
    (r"(?-u)\pL", None, "UnicodeNotAllowed"),
    (r"[a-y&&xyz]", "z", F),
    (r"[0-9--4]", "4", F),
    (r"[a-g~~b-h]", "b", F),
    (r"[a[b]]", "b", T),
    (r"[a[]", None, "ClassUnclosed"),
    (r"[a--]", "-", F),
    (r"[\w-z]", None, "ClassRangeLiteral"),
    (r"[&&a]", "a", F),
    (r"[[:alpha:]--[a-y]]", "z", T),
    (r"[[:foo:]]", "f", T),
    (r"(?-u).", None, "InvalidUtf8"),
    (r"(?<n>a)", "a", T),
    (r"(?P<a.b[1]>x)", "x", T),
    (r"(?P<1a>x)", None, "GroupNameInvalid"),
    (r"(?i-i)a", None, "FlagDuplicate"),
    (r"(?)", None, "RepetitionMissing"),
    (r"(?x) a b c ", "abc", T),
    (r"(?x)[a b]", " ", F),
    ("(?x)a\xa0b", "ab", T),
    (r"(?R)a", "a", T),
    (r"(?=a)", None, "UnsupportedLookAround"),
    (r"a{1001}", "a" * 1001, T),
    (r"a{ 2 }", "aa", T),
    (r"a{,3}", None, "RepetitionCountDecimalEmpty"),
    (r"a{", None, "RepetitionCountUnclosed"),
    (r"a**", "aaa", T),
    (r"a++", "aaa", T),
    (r"\w{1000}", None, "CompiledTooBig"),
    (r"\x{D800}", None, "EscapeHexInvalid"),
    (r"\Qa\E", None, "EscapeUnrecognized"),
    (r"\0", None, "UnsupportedBackreference"),
]

# --- literals and escapes

ESCAPES = [
    (r"\x41", "A", T),
    (r"\xe9", "é", T),
    (r"\xE9", "é", T),
    (r"\xFF", "\xff", T),
    (r"\x{41}", "A", T),
    (r"\x{0041}", "A", T),
    (r"\x{000000041}", "A", T),
    (r"\x{1F600}", "\U0001f600", T),
    (r"\x{10FFFF}", "\U0010ffff", T),
    (r"\x{fffd}", "\ufffd", T),
    (r"\u0041", "A", T),
    (r"\u00e9", "é", T),
    (r"\u{41}", "A", T),
    (r"\u{D7FF}", "\ud7ff", T),
    (r"\u{E000}", "\ue000", T),
    (r"\u{10FFFF}", "\U0010ffff", T),
    (r"\U0001F600", "\U0001f600", T),
    (r"\U{1F600}", "\U0001f600", T),
    (r"\U{0}", "\x00", T),
    (r"\x41", "a", F),
    (r"\a", "\x07", T),
    (r"\f", "\x0c", T),
    (r"\t", "\t", T),
    (r"\n", "\n", T),
    (r"\r", "\r", T),
    (r"\v", "\x0b", T),
    (r"\ ", " ", T),
    (r"\_", "_", T),
    (r"\%", "%", T),
    (r"\/", "/", T),
    (r"\-", "-", T),
    (r"\#", "#", T),
    (r"\&", "&", T),
    (r"\~", "~", T),
    (r"\'", "'", T),
    (r"\"", '"', T),
    (r"\@", "@", T),
    (r"\`", "`", T),
    (r"\!", "!", T),
    (r"\=", "=", T),
    (r"\:", ":", T),
    (r"\,", ",", T),
    (r"\;", ";", T),
    (r"a\\", "a\\", T),
    (r"\.", "a", F),
    (r"\*", "*", T),
    (r"\{", "{", T),
    (r"}", "}", T),
    (r"a}", "a}", T),
    (r"]", "]", T),
    ("", "", T),
    ("", "a", F),
    ("a\x00b", "a\x00b", T),
    (r"a.b", "a\x00b", T),
    (r"[😀-😂]", "\U0001f601", T),
    (r"\x4", None, "EscapeUnexpectedEof"),
    (r"\x{41", None, "EscapeUnexpectedEof"),
    (r"\u004", None, "EscapeUnexpectedEof"),
    (r"\U0041", None, "EscapeUnexpectedEof"),
    (r"\U0001F60", None, "EscapeUnexpectedEof"),
    ("\\", None, "EscapeUnexpectedEof"),
    (r"\p", None, "EscapeUnexpectedEof"),
    (r"\p{L", None, "EscapeUnexpectedEof"),
    (r"\x{}", None, "EscapeHexEmpty"),
    (r"\u{}", None, "EscapeHexEmpty"),
    (r"\U{}", None, "EscapeHexEmpty"),
    (r"\x4g", None, "EscapeHexInvalidDigit"),
    (r"\x{g}", None, "EscapeHexInvalidDigit"),
    (r"\x{-1}", None, "EscapeHexInvalidDigit"),
    (r"\x{ 41 }", None, "EscapeHexInvalidDigit"),
    (r"\U0001F60x", None, "EscapeHexInvalidDigit"),
    (r"\x{110000}", None, "EscapeHexInvalid"),
    (r"\U00110000", None, "EscapeHexInvalid"),
    (r"\uD800", None, "EscapeHexInvalid"),
    (r"\x{DFFF}", None, "EscapeHexInvalid"),
    (r"\u{110000}", None, "EscapeHexInvalid"),
    (r"\U{D800}", None, "EscapeHexInvalid"),
    (r"\e", None, "EscapeUnrecognized"),
    ("\\é", None, "EscapeUnrecognized"),
    (r"\Z", None, "EscapeUnrecognized"),
    (r"\E", None, "EscapeUnrecognized"),
    (r"\G", None, "EscapeUnrecognized"),
    (r"\K", None, "EscapeUnrecognized"),
    (r"\R", None, "EscapeUnrecognized"),
    (r"\X", None, "EscapeUnrecognized"),
    (r"\C", None, "EscapeUnrecognized"),
    (r"\h", None, "EscapeUnrecognized"),
    (r"\k", None, "EscapeUnrecognized"),
    (r"\g", None, "EscapeUnrecognized"),
    (r"\c", None, "EscapeUnrecognized"),
    (r"\o", None, "EscapeUnrecognized"),
    (r"\1", None, "UnsupportedBackreference"),
    (r"\9", None, "UnsupportedBackreference"),
    (r"\141", None, "UnsupportedBackreference"),
]

# --- `.` and the Perl classes

DOT_AND_PERL = [
    (r".", "\n", F),
    (r".", "\r", T),
    (r".", "é", T),
    (r".", "\x85", T),
    (r".", "\u2028", T),
    (r".", "\U0001f600", T),
    (r".", "\uffff", T),
    (r"\x{0}", "\x00", T),
    (r"😀+", "\U0001f600\U0001f600", T),
    (r"(?i)😀", "\U0001f600", T),
    (r"..", "\U0001f600", F),
    (r".", "", F),
    (r"(?s).", "\n", T),
    (r"(?-s).", "\n", F),
    (r"(?s:.)\n", "\n\n", T),
    (r"(?R).", "\n", F),
    (r"(?R).", "\x85", T),
    (r"(?sR).", "\r", T),
    (r"(?s-R).", "\r", T),
    (r"(?Rs).", "\n", T),
    (r"[^\n]", "\r", T),
    (r"\d", "7", T),
    (r"\d", "²", F),
    (r"\d", "\U0001d7d9", T),
    (r"\D", "\u0663", F),
    (r"\w", "_", T),
    (r"\w", "\u203f", T),
    (r"\w", "\u0301", T),
    (r"\w", "\u2167", T),
    (r"\w", "-", F),
    (r"\w+", "José", T),
    (r"\W", "é", F),
    (r"\s", "\x85", T),
    (r"\s", "\u1680", T),
    (r"\s", "\u2028", T),
    (r"\s", "\u3000", T),
    (r"\s", "\u180e", F),
    (r"\s", "\u200b", F),
    (r"\s", "\x1c", F),
    (r"\d+", "\u0663\u0664\u0665", T),
    (r"\p{L}", "\U0001d400", T),
    (r"\S", "\xa0", F),
    (r"[\s\S]", "\n", T),
]

# --- Unicode property classes

PROPERTIES = [
    (r"\p{Greek}", "α", T),
    (r"\p{greek}", "α", T),
    (r"\p{isgreek}", "α", T),
    (r"\p{Grek}", "α", T),
    (r"\p{Script=Greek}", "α", T),
    (r"\p{sc=grek}", "α", T),
    (r"\p{sc=Greek}", "\u0342", F),
    (r"\p{scx:Grek}", "\u0342", T),
    (r"\p{Script_Extensions=Greek}", "\u0342", T),
    (r"\p{scx=Greek}", "α", T),
    (r"\P{scx=Greek}", "a", T),
    (r"\p{scx=Latn}", "a", T),
    (r"\p{Han}", "\u4e00", T),
    (r"\p{Common}", "1", T),
    (r"\p{Zyyy}", "1", T),
    (r"\p{Inherited}", "\u0301", T),
    (r"\p{Zinh}", "\u0301", T),
    (r"\p{ L }", "a", T),
    (r"\p{L_e-t ter}", "a", T),
    (r"\p{Letter}", "a", T),
    (r"\p{Lé}", "a", T),
    (r"\p{isLu}", "A", T),
    (r"\p{Is_Lu}", "A", T),
    (r"\p{IS LU}", "A", T),
    (r"\p{General_Category=Lu}", "A", T),
    (r"\p{gc:Lu}", "A", T),
    (r"\p{Lu}", "É", T),
    (r"\p{Lu}", "\u2160", F),
    (r"\p{gc!=L}", "1", T),
    (r"\p{gc!=L}", "a", F),
    (r"\P{gc!=L}", "a", T),
    (r"\P{L}", "1", T),
    (r"\P{L}", "a", F),
    (r"\pN", "1", T),
    (r"\pN", "a", F),
    (r"\pZ", " ", T),
    (r"\pL\pM", "e\u0301", T),
    (r"\p{Nd}", "\u0663", T),
    (r"\p{gc=Nd}", "²", F),
    (r"\p{No}", "²", T),
    (r"\p{C}", "\u0378", T),
    (r"\p{Cn}", "\u0378", T),
    (r"\p{Co}", "\ue000", T),
    (r"\p{Cc}", "\x00", T),
    (r"\p{cf}", "\u200d", T),
    (r"\p{sc}", "$", T),
    (r"\p{lc}", "a", T),
    (r"\p{lc}", "ª", F),
    (r"\p{Any}", "\U0010ffff", T),
    (r"\p{ASCII}", "é", F),
    (r"\p{Assigned}", "\u0378", F),
    (r"\p{Age=V6_1}", "\U0001f600", T),
    (r"\p{Age=6.0}", "\U0001f600", F),
    (r"\p{Age=6.1}", "a", T),
    (r"\p{age=1.1}", "a", T),
    (r"\p{Age:3.0}", "a", T),
    (r"\p{Age=15.0}", "a", T),
    (r"\p{alpha}", "a", T),
    (r"\p{space}", "\xa0", T),
    (r"\p{space}", "\x1c", F),
    (r"\p{punct}", "!", T),
    (r"\p{cntrl}", "\x01", T),
    (r"\p{digit}", "\u0663", T),
    (r"\p{upper}", "A", T),
    (r"\p{White_Space}", "\x85", T),
    (r"\p{wspace}", "\x85", T),
    (r"\p{Alphabetic}", "\u2167", T),
    (r"\p{Other_Alphabetic}", "\u0345", T),
    (r"\p{Cased}", "ª", T),
    (r"\p{Lowercase}", "ª", T),
    (r"\p{Uppercase}", "\u2160", T),
    (r"\p{Math}", "+", T),
    (r"\p{Dash}", "-", T),
    (r"\p{Hex_Digit}", "\uff21", T),
    (r"\p{ASCII_Hex_Digit}", "\uff21", F),
    (r"\p{Ideographic}", "\u4e00", T),
    (r"\p{Regional_Indicator}", "\U0001f1e6", T),
    (r"\p{Noncharacter_Code_Point}", "\ufffe", T),
    (r"\p{Default_Ignorable_Code_Point}", "\xad", T),
    (r"\p{Pattern_White_Space}", "\u200e", T),
    (r"\p{Join_Control}", "\u200d", T),
    (r"\p{Emoji_Presentation}", "1", F),
    (r"\p{Extended_Pictographic}", "©", T),
    (r"\p{Emoji_Modifier}", "\U0001f3fb", T),
    (r"\p{Emoji_Component}", "#", T),
    (r"\p{gcb=Extend}", "\u0301", T),
    (r"\p{Grapheme_Cluster_Break=CR}", "\r", T),
    (r"\p{wb=ALetter}", "a", T),
    (r"\p{wb=Numeric}", "1", T),
    (r"\p{sb=Upper}", "A", T),
    (r"[\pL]", "é", T),
    (r"[\P{L}]", "1", T),
    (r"\p{isc}", None, "UnicodePropertyNotFound"),
    ("\\p{L\t}", None, "UnicodePropertyNotFound"),
    (r"\p{Is}", None, "UnicodePropertyNotFound"),
    (r"\p{}", None, "UnicodePropertyNotFound"),
    (r"\p{alnum}", None, "UnicodePropertyNotFound"),
    (r"\p{word}", None, "UnicodePropertyNotFound"),
    (r"\p{xdigit}", None, "UnicodePropertyNotFound"),
    (r"\p{Block}", None, "UnicodePropertyNotFound"),
    (r"\p{Foo}", None, "UnicodePropertyNotFound"),
    (r"\p{in=6.1}", None, "UnicodePropertyNotFound"),
    (r"\p{L&}", None, "UnicodePropertyNotFound"),
    (r"\p{^L}", None, "UnicodePropertyNotFound"),
    (r"\p{Block=Basic_Latin}", None, "UnicodePropertyValueNotFound"),
    (r"\p{Line_Break=AL}", None, "UnicodePropertyValueNotFound"),
    (r"\p{gc=Cs}", None, "UnicodePropertyValueNotFound"),
    (r"\p{sc=Foo}", None, "UnicodePropertyValueNotFound"),
    (r"\p{sc=Zzzz}", None, "UnicodePropertyValueNotFound"),
    (r"\p{Unknown}", None, "UnicodePropertyValueNotFound"),
    ("\\p\\", None, "UnicodeClassInvalid"),
    (r"(?-u)\p{L}", None, "UnicodeNotAllowed"),
    # later than our tables (Unicode 15.0)
    (r"\p{ID_Compat_Math_Start}", None, "UnicodePropertyNotFound"),
    (r"\p{Modifier_Combining_Mark}", None, "UnicodePropertyNotFound"),
    (r"\p{Garay}", None, "UnicodePropertyNotFound"),
    (r"\p{sc=Garay}", None, "UnicodePropertyValueNotFound"),
    (r"\p{Age=16.0}", None, "UnicodePropertyValueNotFound"),
]

# --- bracket classes: nesting, set operations, POSIX names

CLASSES = [
    (r"[a&&b]", "a", F),
    (r"[a&&b]|c", "c", T),
    (r"[a--a]*", "", T),
    (r"[^\x00-\x{10FFFF}]", "a", F),
    (r"[^\x00-\x{10FFFF}]|x", "x", T),
    (r"[^\p{Any}]*", "", T),
    (r"[\p{Any}--\p{Any}]", "a", F),
    (r"[a&&]", "a", F),
    (r"[&&]", "&", F),
    (r"[a[^b]]", "c", T),
    (r"[a[^b]]", "b", F),
    (r"[^a[b]]", "b", F),
    (r"[^a[b]]", "c", T),
    (r"[a-z&&[^aeiou]]+", "bcd", T),
    (r"[a-z&&[^aeiou]]+", "a]", F),
    (r"[a-g~~b-h]", "a", T),
    (r"[a-g~~b-h]", "h", T),
    (r"[\w&&\d]", "\u0663", T),
    (r"[\w&&\d]", "a", F),
    (r"[\w--\d]", "a", T),
    (r"[\w--\d]", "1", F),
    (r"[a&b]", "&", T),
    (r"[a~b]", "~", T),
    (r"[a&&&b]", "&", F),
    (r"[a&&b&&c]", "a", F),
    (r"[a-c--b--c]", "a", T),
    # set operations bind equally, from the left; `^` applies last
    (r"[abc--b&&ab]", "a", T),
    (r"[abc--b&&ab]", "b", F),
    (r"[abc--b&&ab]", "c", F),
    (r"[ab&&b--b]", "b", F),
    (r"[^ab&&b]", "a", T),
    (r"[^ab&&b]", "b", F),
    (r"[^a&&b]", "a", T),
    (r"[a--]", "a", T),
    (r"[--a]", "-", T),
    (r"[--a]", "a", T),
    (r"[-a]", "-", T),
    (r"[a-]", "-", T),
    (r"[a-b-c]", "-", T),
    (r"[a-b-c]", "c", T),
    (r"[]a]", "]", T),
    (r"[^]a]", "]", F),
    (r"[]]", "]", T),
    (r"[^-]", "-", F),
    (r"[^a]", "\n", T),
    (r"[\n]", "\n", T),
    (r"[\x41]", "A", T),
    (r"[\-]", "-", T),
    (r"[\]]", "]", T),
    (r"[\[]", "[", T),
    (r"[\t-\r]", "\x0b", T),
    (r"[\x{41}-\x{43}]", "B", T),
    (r"[\u{1F600}-\u{1F64F}]", "\U0001f610", T),
    # ranges across the lengths of UTF-8 forms and around the surrogates
    (r"[\x{7F}-\x{80}]", "\x80", T),
    (r"[\x{7FF}-\x{800}]", "\u0800", T),
    (r"[\x{7FF}-\x{800}]", "\u07ff", T),
    (r"[\x{FFFF}-\x{10000}]", "\U00010000", T),
    (r"[\x{D7FF}-\x{E000}]", "\ue000", T),
    (r"[\x{D7FF}-\x{E000}]", "\ud7ff", T),
    (r"[^\x{80}-\x{10FFFF}]", "\x7f", T),
    (r"[^\x{80}-\x{10FFFF}]", "\x80", F),
    (r"[^a]", "\U0010ffff", T),
    (r"[\]-a]", "^", T),
    (r"[^]-a]", "b", T),
    (r"[\p{Greek}&&\pL]", "α", T),
    (r"[\p{Greek}&&\pL]", "\u0374", F),
    (r"[[:alpha:]&&[:upper:]]", "A", T),
    (r"[[:alpha:]&&[:upper:]]", "a", F),
    (r"[é-ë]", "ê", T),
    (r"[\d]", "\u0663", T),
    (r"[^\d]", "\u0663", F),
    (r"[^\D]", "\u0663", T),
    (r"[[:alpha:]]", "a", T),
    (r"[[:alpha:]]", "é", F),
    (r"[[:^alpha:]]", "1", T),
    (r"[[:^alpha:]]", "é", T),
    (r"[[:word:]]", "_", T),
    (r"[[:alnum:]]", "_", F),
    (r"[[:digit:]]", "\u0663", F),
    (r"[[:space:]]", "\x0b", T),
    (r"[[:xdigit:]]", "f", T),
    (r"[[:xdigit:]]", "g", F),
    (r"[[:punct:]]", "!", T),
    (r"[[:blank:]]", "\t", T),
    (r"[[:blank:]]", "\n", F),
    (r"[[:ascii:]]", "\x7f", T),
    (r"[[:cntrl:]]", "\x7f", T),
    (r"[[:graph:]]", " ", F),
    (r"[[:print:]]", " ", T),
    (r"[[:lower:]]", "é", F),
    (r"[[:upper:]]", "Z", T),
    (r"[[:alpha:][:digit:]]", "5", T),
    (r"[[:alpha:]-z]", "-", T),
    (r"[[:foo:]]", ":", T),
    (r"[[:foo:]]", "x", F),
    (r"[:alpha:]", "l", T),
    (r"[:alpha:]", ":", T),
    (r"[]", None, "ClassUnclosed"),
    (r"[^]", None, "ClassUnclosed"),
    (r"[a", None, "ClassUnclosed"),
    (r"[z-a]", None, "ClassRangeInvalid"),
    (r"[a-\d]", None, "ClassRangeLiteral"),
    (r"[\d-z]", None, "ClassRangeLiteral"),
    (r"[a-\]]", None, "ClassRangeInvalid"),
    (r"[\b]", None, "ClassEscapeInvalid"),
    (r"[\B]", None, "ClassEscapeInvalid"),
    (r"[\A]", None, "ClassEscapeInvalid"),
    (r"[\z]", None, "ClassEscapeInvalid"),
    (r"[\<]", None, "ClassEscapeInvalid"),
    (r"[\>]", None, "ClassEscapeInvalid"),
]

# --- case folding

FOLDING = [
    (r"(?i)abc", "ABC", T),
    (r"(?i)K", "\u212a", T),
    (r"(?i)\u212A", "k", T),
    (r"(?i)s", "\u017f", T),
    (r"(?i)S", "\u017f", T),
    (r"(?i)\u017F", "S", T),
    (r"(?i)\u1E9E", "ß", T),
    (r"(?i)ss", "ß", F),
    (r"(?i)σ", "ς", T),
    (r"(?i)ς", "Σ", T),
    (r"(?i)Σ", "σ", T),
    (r"(?i)θ", "ϑ", T),
    (r"(?i)θ", "ϴ", T),
    (r"(?i)ϑ", "Θ", T),
    (r"(?i)µ", "Μ", T),
    (r"(?i)μ", "µ", T),
    (r"(?i)ǅ", "Ǆ", T),
    (r"(?i)ǅ", "ǆ", T),
    (r"(?i)ǆ", "ǅ", T),
    (r"(?i)Ω", "\u2126", T),
    (r"(?i)å", "\u212b", T),
    (r"(?i)é", "É", T),
    (r"(?i)[Ａ-Ｚ]", "ａ", T),
    (r"(?i)\x{10400}", "\U00010428", T),
    (r"(?i)\u{13A0}", "\uab70", T),
    (r"(?i)\u{1F600}", "\U0001f600", T),
    (r"(?i)[^\u{1F600}]", "\U0001f601", T),
    (r"(?i)i", "\u0131", F),
    (r"(?i)I", "\u0131", F),
    (r"(?i)\u0130", "i", F),
    (r"(?i)\u0130", "\u0130", T),
    (r"(?i)\u0131", "I", F),
    (r"(?i)\u0131", "\u0131", T),
    (r"(?i)[a-z]", "\u212a", T),
    (r"(?i)[k]", "\u212a", T),
    (r"(?i)[k-k]", "\u212a", T),
    (r"(?i)[\u{212A}-\u{212B}]", "k", T),
    (r"(?i)[\u{212A}-\u{212B}]", "å", T),
    (r"(?i)[à-ä]", "Ä", T),
    (r"(?i)[^a]", "A", F),
    (r"(?i)[^a]", "b", T),
    (r"(?i)[a-y&&k]", "\u212a", T),
    (r"(?i)[k--K]", "k", F),
    (r"(?i)[^\x00-\x{10FFFF}]", "a", F),
    (r"(?i)[\x{0}-\x{10FFFF}]", "\U0010ffff", T),
    (r"(?i:|a)", "A", T),
    (r"(?i)(?:ab|cd|ef)+", "ABcdEF" * 100, T),
    (r"(?i)\p{Ll}", "A", T),
    (r"(?i)\p{Lu}", "a", T),
    (r"(?i)[^\p{Ll}]", "A", F),
    (r"(?i)\p{Greek}", "a", F),
    (r"(?i)\p{Greek}", "µ", T),
    (r"(?i)\p{Lt}", "ǆ", T),
    (r"\p{Lt}", "ǆ", F),
    # nested classes and operands fold before they are negated or combined
    (r"(?i)[[^a]&&A]", "A", F),
    (r"(?i)[^[^a]]", "A", T),
    (r"(?i)[[:upper:]--[:lower:]]", "a", F),
    (r"(?i)[^[:lower:]]", "a", F),
    (r"(?i)[[:^lower:]]", "a", F),
    (r"(?i)[^\p{Lu}]", "a", F),
    (r"(?i)\P{Ll}", "A", F),
    (r"(?i)[[:lower:]]", "A", T),
    (r"(?i)[[:upper:]]", "a", T),
    (r"(?i)[[:alpha:]]", "\u212a", T),
    (r"(?i)\w", "\u212a", T),
    (r"(?i-u)k", "K", T),
    (r"(?i-u)s", "\u017f", F),
    (r"(?-u)(?i)[[:upper:]]", "a", T),
    (r"(?i-u:k)", "\u212a", F),
    (r"(?i)(?-u:k)|s", "\u017f", T),
]

# --- word boundaries and other assertions

ASSERTIONS = [
    (r"\b", "", F),
    (r"\B", "", T),
    (r"\ba\b", "a", T),
    (r"a\b", "a", T),
    (r"\bé", "é", T),
    (r"é\b", "é", T),
    (r"\bß\b", "ß", T),
    (r"\b٣\b", "\u0663", T),
    (r"\b\u0301", "\u0301", T),
    (r"a\b\u0301", "a\u0301", F),
    (r"a\bé", "aé", F),
    (r"a\Bé", "aé", T),
    (r"\w\b\w", "aé", F),
    (r"\w\b\W", "é!", T),
    (r"a\b.", "a-", T),
    (r"é\b-", "é-", T),
    (r"\b-", "-", F),
    (r"\B-", "-", T),
    (r"-\B", "-", T),
    (r"a\B\u200D", "a\u200d", T),
    (r"\<a", "a", T),
    (r"a\<", "a", F),
    (r"\>a", "a", F),
    (r"a\>", "a", T),
    (r"\<", "", F),
    (r"\>", "", F),
    (r"\<-", "-", F),
    (r"-\>", "-", F),
    (r"\<é\>", "é", T),
    (r"\<\u0301", "\u0301", T),
    (r"a\<é", "aé", F),
    (r"a\>-\<b", "a-b", T),
    (r"\b{start}a\b{end}", "a", T),
    (r"\b{start}\b{start}a", "a", T),
    (r"a\b{end}\b{start}-", "a-", F),
    (r"é\b{end}", "é", T),
    (r"\b{start}", "", F),
    (r"\b{end}", "", F),
    (r"\b{start-half}", "", T),
    (r"\b{end-half}", "", T),
    (r"\b{start-half}\b{end-half}", "", T),
    (r"\b{start-half}a", "a", T),
    (r"a\b{start-half}", "a", F),
    (r"-\b{start-half}", "-", T),
    (r"a\b{end-half}", "a", T),
    (r"\b{end-half}a", "a", F),
    (r"\b{end-half}-", "-", T),
    (r"\b{2}a", "a", T),
    (r"a\b{2,}", "a", T),
    (r"\b+a", "a", T),
    (r"\b{start}*a", "a", T),
    (r"(?-u)\bé", "é", F),
    (r"(?-u)a\bé", "aé", T),
    (r"(?-u:\b)é", "é", F),
    (r"(?-u)\Bé", "é", T),
    (r"(?-u)\<é", "é", F),
    (r"(?-u)a\>é", "aé", T),
    (r"\b{START}a", None, "SpecialWordBoundaryUnrecognized"),
    (r"\b{start", None, "SpecialWordBoundaryUnclosed"),
    (r"\b{", None, "SpecialWordOrRepetitionUnexpectedEof"),
    (r"\b{}", None, "RepetitionCountDecimalEmpty"),
    (r"\b{ start }a", None, "RepetitionCountDecimalEmpty"),
    (r"(?x)\b{ start }a", "a", T),
]

# --- text and line anchors, multi-line and CRLF modes

ANCHORS = [
    (r"^a$", "a", T),
    (r"a$", "a\n", F),
    (r"^", "", T),
    (r"$", "", T),
    (r"a^", "a", F),
    (r"\Aa\z", "a", T),
    (r"\A\z", "", T),
    (r"\z\A", "", T),
    (r"a|b", "ab", F),
    (r"a|b", "b", T),
    (r"a$\n^b", "a\nb", F),
    (r"(?m)^a$", "a", T),
    (r"(?m)a$\n^b", "a\nb", T),
    (r"(?m)a\n^", "a\n", T),
    (r"(?m)a$", "a\n", F),
    (r"(?m)a$\n", "a\n", T),
    (r"(?m)^\n$", "\n", T),
    (r"(?m)$^", "", T),
    (r"(?m)^$\n^$", "\n", T),
    (r"(?m)a^", "a", F),
    (r"(?m)\Aa\n\A", "a\n", F),
    (r"(?m)a\r$", "a\r", T),
    (r"(?m)a$\r", "a\r", F),
    (r"(?m)a\r^b", "a\rb", F),
    (r"(?mR)a$\r", "a\r", T),
    (r"(?mR)\r^", "\r", T),
    (r"(?mR)a\r^", "a\r", T),
    (r"(?mR)a$\n^b", "a\nb", T),
    (r"(?mR)a\r\n^$", "a\r\n", T),
    (r"(?mR)a\r^\nb", "a\r\nb", F),
    (r"(?mR)\r$\n", "\r\n", F),
    (r"(?mR)\r^\n", "\r\n", F),
    (r"(?mR)^$", "\r", F),
    (r"(?R)^a$", "a", T),
    (r"(?R)a$\r", "a\r", F),
]

# --- groups, names and flags

GROUPS = [
    (r"()", "", T),
    (r"(|a)", "", T),
    (r"a|", "", T),
    (r"|", "", T),
    (r"(?:)", "", T),
    (r"(?i:)", "", T),
    (r"(?P<n>)", "", T),
    (r"(?P<n>a)", "a", T),
    (r"(?P<é>x)", "x", T),
    (r"(?P<_>x)", "x", T),
    (r"(?P<a٣>x)", "x", T),
    (r"(?P<aⅧ>x)", "x", T),
    (r"(?P<a²>x)", "x", T),
    (r"(?R)", "", T),
    (r"(?P<>a)", None, "GroupNameEmpty"),
    (r"(?<>a)", None, "GroupNameEmpty"),
    (r"(?P<n>a)(?P<n>b)", None, "GroupNameDuplicate"),
    (r"(?<n>a)(?P<n>b)", None, "GroupNameDuplicate"),
    (r"(?P<a-b>x)", None, "GroupNameInvalid"),
    (r"(?P<a b>x)", None, "GroupNameInvalid"),
    (r"(?P<٣>x)", None, "GroupNameInvalid"),
    (r"(?P<.a>x)", None, "GroupNameInvalid"),
    (r"(?P<[a]>x)", None, "GroupNameInvalid"),
    (r"(?P<a‿>x)", None, "GroupNameInvalid"),
    (r"(?P<a\u0301>x)", None, "GroupNameInvalid"),
    (r"(?P<n", None, "GroupNameUnexpectedEof"),
    (r"(?<n", None, "GroupNameUnexpectedEof"),
    (r"(a", None, "GroupUnclosed"),
    (r"(?P<a>x", None, "GroupUnclosed"),
    (r"(?", None, "GroupUnclosed"),
    (r"a)", None, "GroupUnopened"),
    # balanced only when pasted into an anchoring group
    (r"a)|(?:b", None, "GroupUnopened"),
    (r"(?!a)", None, "UnsupportedLookAround"),
    (r"(?<=a)", None, "UnsupportedLookAround"),
    (r"(?<!a)", None, "UnsupportedLookAround"),
    (r"(?>a)", None, "FlagUnrecognized"),
    (r"(?#c)", None, "FlagUnrecognized"),
    (r"(?|a)", None, "FlagUnrecognized"),
    (r"(?(1)a)", None, "FlagUnrecognized"),
    (r"(?1)", None, "FlagUnrecognized"),
    (r"(?'n'a)", None, "FlagUnrecognized"),
    (r"(?P=n)", None, "FlagUnrecognized"),
    (r"(?P>n)", None, "FlagUnrecognized"),
    (r"(?z)", None, "FlagUnrecognized"),
    (r"(? i)a", None, "FlagUnrecognized"),
    (r"(?ii)", None, "FlagDuplicate"),
    (r"(?xx)a", None, "FlagDuplicate"),
    (r"(?x-x)a", None, "FlagDuplicate"),
    (r"(?i-)a", None, "FlagDanglingNegation"),
    (r"(?-)", None, "FlagDanglingNegation"),
    (r"(?i--m)", None, "FlagRepeatedNegation"),
    (r"(?i-m-s)a", None, "FlagRepeatedNegation"),
    (r"(?i", None, "FlagUnexpectedEof"),
]

FLAGS = [
    (r"(?imsUuxR)a", "A", T),
    (r"(?i)(?i)a", "A", T),
    (r"(?-i)A", "A", T),
    (r"(?-i)A", "a", F),
    (r"a(?i)b", "aB", T),
    (r"a(?i)b", "AB", F),
    (r"(?i:a)b", "Ab", T),
    (r"(?i:a)b", "AB", F),
    (r"((?i)a)b", "AB", F),
    (r"(?i)a(?-i)b", "Ab", T),
    (r"(?i)a(?-i)b", "AB", F),
    (r"(?i)(?-i:a)b", "aB", T),
    (r"(?i)(?-i:a)b", "AB", F),
    # a flag holds over the later branches of its group, and only there
    (r"(?i)a|b", "B", T),
    (r"a(?i)b|c", "C", T),
    (r"a(?i)b|c", "aB", T),
    (r"(a(?i)b|c)", "C", T),
    (r"(?:a(?i)b|c)d", "Cd", T),
    (r"(?:a(?i)b|c)d", "CD", F),
    (r"(?U)", "", T),
    (r"(?U)a+?", "aaa", T),
    (r"(?U)a{2,3}", "aaa", T),
    (r"(?u)é", "é", T),
    (r"(?-u)é", "é", T),
    (r"(?-u)\x{E9}", "é", T),
    (r"(?-u)\u{E9}", "é", T),
    (r"(?-u)\U000000E9", "é", T),
    (r"(?-u)\x7F", "\x7f", T),
    (r"(?-u)\w", "é", F),
    (r"(?-u)\d", "\u0663", F),
    (r"(?-u)\s", "\xa0", F),
    (r"(?-u)\s", "\x0b", T),
    (r"(?-u)(?u)\w", "é", T),
    (r"(?-u:\w)\w", "aé", T),
    (r"(?-u)\B", "", T),
    (r"(?-u)[é]", None, "UnicodeNotAllowed"),
    (r"(?-u)\xE9", None, "InvalidUtf8"),
    (r"(?-u)\xFF", None, "InvalidUtf8"),
    (r"(?-u)\D", None, "InvalidUtf8"),
    (r"(?-u)\W", None, "InvalidUtf8"),
    (r"(?-u)\S", None, "InvalidUtf8"),
    (r"(?-u)[^a]", None, "InvalidUtf8"),
    (r"(?s-u).", None, "InvalidUtf8"),
]

# --- free spacing (x)

FREE_SPACING = [
    ("(?x)a # comment\nb", "ab", T),
    (r"(?x)a#c", "a", T),
    # a comment may swallow a closing parenthesis
    (r"(?x)a#)", "a", T),
    ("(?x)(a#)\n)", "a", T),
    ("(?x)(#c\n?:a)", "a", T),
    (r"(?x)a\#b", "a#b", T),
    (r"(?x)[\#]", "#", T),
    ("(?x)a{2#c\n}", "aa", T),
    ("(?x)a{2#c\n,3}", "aaa", T),
    ("(?x)\\x{4#c\n1}", "A", T),
    ("(?x)\\p{Gr#\n eek}", "α", T),
    ("(?x)[[:alpha:]#c\n]", "a", T),
    ("(?x)a#c\n|b", "b", T),
    (r"(?x)a b", "a b", F),
    (r"(?x)a\ b", "a b", T),
    (r"(?x)\ ", " ", T),
    ("(?x)a\tb", "ab", T),
    ("(?x)a\u2028b", "ab", T),
    ("(?x)a\x85b", "ab", T),
    ("(?x)a\u200bb", "ab", F),
    (r"(?x)a *", "aaa", T),
    (r"(?x)a |b", "b", T),
    (r"(?x) [ a ] + ", "aa", T),
    (r"(?x)( a)", "a", T),
    (r"(?x)( ?: a)", "a", T),
    (r"(?x)( ?i)a", "A", T),
    (r"(?x)(?: a b )c", "abc", T),
    (r"(?x: a b )c", "abc", T),
    (r"(?x)a(?-x) b", "a b", T),
    (r"(?x)(?-x:a b)", "a b", T),
    (r"(?x)(?P<n>a b)", "ab", T),
    (r"(?x)a{ 2 }", "aa", T),
    (r"(?x)a{ 2 , 3 }", "aaa", T),
    (r"(?x)a{2, 3}", "aa", T),
    (r"(?x)\x{ 41 }", "A", T),
    (r"(?x)\p{ L }", "a", T),
    (r"(?x)\b{start} a", "a", T),
    (r"(?x)[^ a]", " ", T),
    (r"(?x)[^ a]", "b", T),
    (r"(?x)[a\ b]", " ", T),
    (r"(?x)[a - c]", "b", T),
    ("(?x)[a # c\n]", "a", T),
    ("(?x)[a # c\n]", "c", F),
    ("(?x)[a # c\n]", "#", F),
    (r"(?x)[a & & b]", "&", T),
    (r"(?x)[a&&b]", "a", F),
    (r"(?x)[ [a] ]", "a", T),
    # no free spacing inside a POSIX name: this is a nested class
    (r"(?x)[[: alpha:]]", "l", T),
    (r"(?x)[[: alpha:]]", " ", F),
    (r"(?x)[a-\ ]", None, "ClassRangeInvalid"),
    (r"(?x)[#]", None, "ClassUnclosed"),
    ("(?x)(?P<n#\n>a)", None, "GroupNameInvalid"),
    ("(?x)(?#c\n)", None, "FlagUnrecognized"),
    (r"(?x)(?P< n >a)", None, "GroupNameInvalid"),
    (r"(?x)(?i x)a", None, "FlagUnrecognized"),
]

# --- repetition

AB = "".join(random.Random(13).choice("ab") for _ in range(3000))

REPETITION = [
    (r"a{2}{3}", "a" * 6, T),
    (r"a{2}{3}", "a" * 5, F),
    (r"a{2,}", "aa", T),
    (r"a{2,}", "a", F),
    (r"a{2,3}", "aaaa", F),
    (r"a{0}", "", T),
    (r"a{0}", "a", F),
    (r"a{0,0}", "", T),
    (r"a{1}{0}", "", T),
    (r"(?:){5}", "", T),
    (r"(?:ab){2}", "abab", T),
    (r"(a|bc){2,3}", "bcabc", T),
    # the whole text decides, not the first alternative that matches
    (r"a|ab", "ab", T),
    (r"(?:a|ab)c", "abc", T),
    (r"(a|ab)(c|bcd)(d*)", "abcd", T),
    (r"a*?b", "aab", T),
    (r"[ab]*a[ab]{10}", "b" * 30 + "a" + "b" * 10, T),
    (r"[ab]*a[ab]{10}", "b" * 30 + "a" + "b" * 9, F),
    (r"(?s).*", "a\nb", T),
    (r".*", "a\nb", F),
    # a counted or optional item beside alternatives holding the same item
    (r"a{2}|a", "aa", T),
    (r"a{2}|a", "a", T),
    (r"a{2}|a{3}", "aa", T),
    (r"a{2,3}|a", "aaa", T),
    (r"a{1,2}|a", "aa", T),
    (r"aa?|a", "aa", T),
    (r"b|a{2}|a", "aa", T),
    (r"(a{2})|a", "aa", T),
    (r"x(?:a{2}|a)y", "xaay", T),
    (r"(?:a{2}|a)x", "aax", T),
    (r"\ba{2}|a", "aa", T),
    (r"(?:ab){2}|ab", "abab", T),
    (r"[ab]{2}|[ab]", "ab", T),
    (r"\w{2}|\w", "ab", T),
    (r"é{2}|é", "éé", T),
    (r"\p{L}{2}|\p{L}", "ab", T),
    (r"(?i)k{2}|k", "K\u212a", T),
    (r"a{2}|ca", "a", F),
    (r"a{2}|ca", "ca", T),
    (r"a{2}|aa{2}", "a", F),
    (r"\d{2}|c\d", "11", T),
    (r"\d{2}|c\d", "1", F),
    (r"(?:ab){2}|c(?:ab)", "ab", F),
    (r"..|..(?:.){2}|...(?:.){2}....", "aa ", F),
    (r".?|a.", "b", T),
    (r".?|..", "b", T),
    (r"(?:.)?|a.", "b", T),
    (r"[a-z]?|a[a-z]", "b", T),
    (r"[^x]?|a[^x]", "b", T),
    (r".{0,2}|٣..", "ǆ", T),
    # answers that a backtracking matcher takes exponential time to find
    (r"(a|aa)*c", "a" * 3000, F),
    (r"(a*)*b", "a" * 3000, F),
    (r"(x+x+)+y", "x" * 2000, F),
    (r"(?:a?){30}a{30}", "a" * 30, T),
    (r"(?:(?:a|b)*c){20}", "abc" * 20, T),
    (r"[a-z]{1000}", "a" * 1000, T),
    (r"\p{L}{100}", "é" * 100, T),
    # long texts: many automaton states, assertions all along the text
    (r"[ab]*a[ab]{12}", AB[:-13] + "a" + AB[-12:], T),
    (r"[ab]*a[ab]{12}", AB[:-13] + "b" + AB[-12:], F),
    (r"(?:\b\w+\b\s?)*", "word " * 5000, T),
    (r"(?:\b\w+\b\s?)*", "word " * 5000 + "-", F),
    (r"(?m)(?:^\w+$\n)*", "line\n" * 4000, T),
    (r"(?m)(?:^\w+$\n)*", "line\n" * 4000 + " \n", F),
    (r"(?i)(?:[a-z]*k){100}", "ABC\u212a" * 100, T),
    (r"(?s).*é.{10}", "x" * 50000 + "é" + "y" * 10, T),
    (r"(?s).*é.{10}", "x" * 50000 + "é" + "y" * 11, F),
    (r"a{1,3}b{2}", "aabb", T),
    (r"a{ 2}", "aa", T),
    (r"a{2 }", "aa", T),
    (r"a{ 2 ,3}", "aa", T),
    (r"a{2,3 }", "aa", T),
    (r"a*?", "aaa", T),
    (r"a+?", "aaa", T),
    (r"a??", "", T),
    (r"a{2}?", "aa", T),
    (r"a*+", "aaa", T),
    (r"a?*", "", T),
    (r"x*", "", T),
    (r"^*", "", T),
    (r"()*", "", T),
    (r"\w{100}", "a" * 100, T),
    (r"\w{100}", "é" * 100, T),
    (r"a{x}", None, "RepetitionCountDecimalEmpty"),
    (r"a{b", None, "RepetitionCountDecimalEmpty"),
    (r"a{2, }", None, "RepetitionCountDecimalEmpty"),
    (r"a{,}", None, "RepetitionCountDecimalEmpty"),
    (r"a{}", None, "RepetitionCountDecimalEmpty"),
    (r"a{2,1}", None, "RepetitionCountInvalid"),
    (r"a{2", None, "RepetitionCountUnclosed"),
    (r"a{2,", None, "RepetitionCountUnclosed"),
    # the end of the pattern is reported before a missing first count
    (r"a{,", None, "RepetitionCountUnclosed"),
    (r"a{ ", None, "RepetitionCountUnclosed"),
    (r"a{ ,", None, "RepetitionCountUnclosed"),
    ("a{\n", None, "RepetitionCountUnclosed"),
    (r"\b{,", None, "RepetitionCountUnclosed"),
    (r"a{2x", None, "RepetitionCountUnclosed"),
    (r"a{2 ,", None, "RepetitionCountUnclosed"),
    (r"a{,x", None, "RepetitionCountDecimalEmpty"),
    (r"a{2,x}", None, "RepetitionCountDecimalEmpty"),
    (r"a{-1}", None, "RepetitionCountDecimalEmpty"),
    (r"a{4294967296}", None, "DecimalInvalid"),
    (r"*", None, "RepetitionMissing"),
    (r"+a", None, "RepetitionMissing"),
    (r"a|*", None, "RepetitionMissing"),
    (r"(*)", None, "RepetitionMissing"),
    (r"(?i)*", None, "RepetitionMissing"),
    (r"{", None, "RepetitionMissing"),
    (r"\w{210}", None, "CompiledTooBig"),
    (r"a{4294967295}", None, "CompiledTooBig"),
]

# --- nesting depth, counted on the pattern as written


def nested(depth, inner, open="(", close=")"):
    return open * depth + inner + close * depth


NESTING = [
    (nested(250, "a"), "a", T),
    (nested(250, "a", "(?:"), "a", T),
    (nested(249, "ab"), "ab", T),
    (nested(249, "[a]"), "a", T),
    (nested(248, "[ab]"), "b", T),
    (nested(248, "[a&&b]"), "a", F),
    (nested(250, "a", "[", "]"), "a", T),
    ("a" + "*" * 250, "aaa", T),
    (nested(125, "a", "(", ")*"), "aa", T),
    (nested(251, "a"), None, "NestLimitExceeded"),
    (nested(250, "ab"), None, "NestLimitExceeded"),
    (nested(249, "(a|b)"), None, "NestLimitExceeded"),
    (nested(249, "[ab]"), None, "NestLimitExceeded"),
    (nested(249, "[a&&b]"), None, "NestLimitExceeded"),
    (nested(251, "a", "[", "]"), None, "NestLimitExceeded"),
    ("a" + "*" * 251, None, "NestLimitExceeded"),
    (nested(126, "a", "(", ")*"), None, "NestLimitExceeded"),
    ("(?i)" + nested(250, "a"), None, "NestLimitExceeded"),
    (nested(249, "ab") + "c", None, "NestLimitExceeded"),
]

CASES = (
    SAMPLES + ESCAPES + DOT_AND_PERL + PROPERTIES + CLASSES + FOLDING + ASSERTIONS
    + ANCHORS + GROUPS + FLAGS + FREE_SPACING + REPETITION + NESTING
)

ERROR_TEXTS = {
    "ClassEscapeInvalid": "invalid escape sequence found in character class",
    "ClassRangeInvalid": "invalid character class range, the start must be <= the end",
    "ClassRangeLiteral": "invalid range boundary, must be a literal",
    "ClassUnclosed": "unclosed character class",
    "EscapeHexInvalid": "hexadecimal literal is not a Unicode scalar value",
    "EscapeUnexpectedEof": "incomplete escape sequence, reached end of pattern prematurely",
    "EscapeUnrecognized": "unrecognized escape sequence",
    "FlagDuplicate": "duplicate flag",
    "FlagUnrecognized": "unrecognized flag",
    "GroupNameDuplicate": "duplicate capture group name",
    "GroupNameInvalid": "invalid capture group character",
    "GroupUnclosed": "unclosed group",
    "GroupUnopened": "unopened group",
    "NestLimitExceeded": "exceed the maximum number of nested parentheses/brackets (250)",
    "RepetitionCountDecimalEmpty": "repetition quantifier expects a valid decimal",
    "RepetitionCountUnclosed": "unclosed counted repetition",
    "RepetitionMissing": "repetition operator missing expression",
    "SpecialWordBoundaryUnrecognized": (
        "unrecognized special word boundary assertion, valid choices are: start, end, start-half or end-half"
    ),
    "UnsupportedBackreference": "backreferences are not supported",
    "UnsupportedLookAround": "look-around, including look-ahead and look-behind, is not supported",
    "UnicodeNotAllowed": "Unicode not allowed here",
    "InvalidUtf8": "pattern can match invalid UTF-8",
    "UnicodePropertyNotFound": "Unicode property not found",
    "UnicodePropertyValueNotFound": "Unicode property value not found",
    "RepetitionCountInvalid": "invalid repetition count range, the start must be <= the end",
}

TOO_BIG = "Compiled regex exceeds size limit of 10485760 bytes."

# Kinds whose message is only required to keep the layout of a parse error.
OTHER_KINDS = {
    "DecimalInvalid", "EscapeHexEmpty", "EscapeHexInvalidDigit", "FlagDanglingNegation",
    "FlagRepeatedNegation", "FlagUnexpectedEof", "GroupNameEmpty", "GroupNameUnexpectedEof",
    "SpecialWordBoundaryUnclosed", "SpecialWordOrRepetitionUnexpectedEof", "UnicodeClassInvalid",
}


def matcher(pattern):
    return Validator(Annotated[str, Meta(pattern=pattern)])


def shorten(text):
    return text if len(text) < 40 else text[:12] + f"...({len(text)})"


def case_id(case):
    pattern, text, answer = case
    return f"{shorten(pattern)!r}~{shorten(text)!r}" if text is not None else f"{shorten(pattern)!r}!{answer}"


@pytest.mark.parametrize("pattern, text, answer", CASES, ids=[case_id(c) for c in CASES])
def test_pattern(pattern, text, answer):
    if isinstance(answer, bool):
        v = matcher(pattern)
        assert v.is_valid(text) is answer
        assert v.is_valid_json(json.dumps(text)) is answer
        assert v.is_valid_json(json.dumps(text, ensure_ascii=False).encode()) is answer
        return
    with pytest.raises(ValueError) as info:
        matcher(pattern)
    message = str(info.value)
    assert message.startswith('invalid regular expression "')
    if answer == "CompiledTooBig":
        assert message.endswith('": ' + TOO_BIG)
        return
    assert '": regex parse error:\n' in message
    if answer in ERROR_TEXTS:
        assert message.endswith("\nerror: " + ERROR_TEXTS[answer])
    else:
        assert answer in OTHER_KINDS
        assert "\nerror: " in message


# --- the whole error display

RULE = "~" * 79

DISPLAYS = [
    (
        r"a{2,1}",
        '"a{2,1}"',
        "regex parse error:\n    a{2,1}\n     ^^^^^\n"
        "error: invalid repetition count range, the start must be <= the end",
    ),
    (
        r"(?P<n>a)(?P<n>b)",
        '"(?P<n>a)(?P<n>b)"',
        "regex parse error:\n    (?P<n>a)(?P<n>b)\n        ^       ^\nerror: duplicate capture group name",
    ),
    (r"(?i-i)a", '"(?i-i)a"', "regex parse error:\n    (?i-i)a\n      ^ ^\nerror: duplicate flag"),
    (r"(?ii)", '"(?ii)"', "regex parse error:\n    (?ii)\n      ^^\nerror: duplicate flag"),
    (
        r"(?=a)",
        '"(?=a)"',
        "regex parse error:\n    (?=a)\n    ^^^\n"
        "error: look-around, including look-ahead and look-behind, is not supported",
    ),
    (r"\1", r'"\\1"', "regex parse error:\n    \\1\n    ^^\nerror: backreferences are not supported"),
    (r"[a", '"[a"', "regex parse error:\n    [a\n    ^\nerror: unclosed character class"),
    (r"(a", '"(a"', "regex parse error:\n    (a\n    ^\nerror: unclosed group"),
    (r"a)", '"a)"', "regex parse error:\n    a)\n     ^\nerror: unopened group"),
    (
        r"[z-a]",
        '"[z-a]"',
        "regex parse error:\n    [z-a]\n     ^^^\nerror: invalid character class range, the start must be <= the end",
    ),
    (
        r"\b{foo}",
        r'"\\b{foo}"',
        "regex parse error:\n    \\b{foo}\n       ^^^\nerror: unrecognized special word boundary assertion, "
        "valid choices are: start, end, start-half or end-half",
    ),
    (r"\x{D800}", r'"\\x{D800}"',
     "regex parse error:\n    \\x{D800}\n       ^^^^\nerror: hexadecimal literal is not a Unicode scalar value"),
    (r"a{,3}", '"a{,3}"', "regex parse error:\n    a{,3}\n      ^\nerror: repetition quantifier expects a valid decimal"),
    (r"a{", '"a{"', "regex parse error:\n    a{\n     ^\nerror: unclosed counted repetition"),
    (r"a{,", '"a{,"', "regex parse error:\n    a{,\n     ^^\nerror: unclosed counted repetition"),
    (r"a{ ,", '"a{ ,"', "regex parse error:\n    a{ ,\n     ^^^\nerror: unclosed counted repetition"),
    (r"a{2x", '"a{2x"', "regex parse error:\n    a{2x\n     ^^\nerror: unclosed counted repetition"),
    (r"\Qa\E", r'"\\Qa\\E"', "regex parse error:\n    \\Qa\\E\n    ^^\nerror: unrecognized escape sequence"),
    (r"(?)", '"(?)"', "regex parse error:\n    (?)\n     ^\nerror: repetition operator missing expression"),
    (r"[\w-z]", r'"[\\w-z]"', "regex parse error:\n    [\\w-z]\n     ^^\nerror: invalid range boundary, must be a literal"),
    (r"[\b]", r'"[\\b]"',
     "regex parse error:\n    [\\b]\n     ^^\nerror: invalid escape sequence found in character class"),
    (r"\p{Cs}", r'"\\p{Cs}"', "regex parse error:\n    \\p{Cs}\n    ^^^^^^\nerror: Unicode property value not found"),
    (r"(?-u).", '"(?-u)."', "regex parse error:\n    (?-u).\n         ^\nerror: pattern can match invalid UTF-8"),
    (r"(?-u)\xFF", r'"(?-u)\\xFF"',
     "regex parse error:\n    (?-u)\\xFF\n         ^^^^\nerror: pattern can match invalid UTF-8"),
    (r"(?-u)\pL", r'"(?-u)\\pL"', "regex parse error:\n    (?-u)\\pL\n         ^^^\nerror: Unicode not allowed here"),
    (r"(?P<1a>x)", '"(?P<1a>x)"', "regex parse error:\n    (?P<1a>x)\n        ^\nerror: invalid capture group character"),
    # columns and caret runs count code points, not bytes
    ("é(", '"é("', "regex parse error:\n    é(\n     ^\nerror: unclosed group"),
    (r"(?-u)é[é]", '"(?-u)é[é]"', "regex parse error:\n    (?-u)é[é]\n           ^\nerror: Unicode not allowed here"),
    (r"\p{Grèk}", r'"\\p{Grèk}"', "regex parse error:\n    \\p{Grèk}\n    ^^^^^^^^\nerror: Unicode property not found"),
    (r"\w{210}", r'"\\w{210}"', TOO_BIG),
    (
        nested(251, "a"),
        '"' + nested(251, "a") + '"',
        "regex parse error:\n    " + nested(251, "a") + "\n" + " " * 254 + "^^^\n"
        "error: exceed the maximum number of nested parentheses/brackets (250)",
    ),
    # multi-line patterns: numbered lines between rules
    (
        "ab\ncd{2,1}",
        r'"ab\ncd{2,1}"',
        f"regex parse error:\n{RULE}\n1: ab\n2: cd{{2,1}}\n     ^^^^^\n{RULE}\n"
        "error: invalid repetition count range, the start must be <= the end",
    ),
    (
        "a\n(?=b)",
        r'"a\n(?=b)"',
        f"regex parse error:\n{RULE}\n1: a\n2: (?=b)\n   ^^^\n{RULE}\n"
        "error: look-around, including look-ahead and look-behind, is not supported",
    ),
    (
        "[a\nb",
        r'"[a\nb"',
        f"regex parse error:\n{RULE}\n1: [a\n   ^\n2: b\n{RULE}\nerror: unclosed character class",
    ),
    (
        "ab\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl)",
        r'"ab\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl)"',
        f"regex parse error:\n{RULE}\n 1: ab\n 2: c\n 3: d\n 4: e\n 5: f\n 6: g\n 7: h\n 8: i\n 9: j\n10: k\n"
        f"11: l)\n     ^\n{RULE}\nerror: unopened group",
    ),
    # a span across lines is named instead of marked
    (
        "(?x)a{2\n,1}",
        r'"(?x)a{2\n,1}"',
        f"regex parse error:\n{RULE}\n1: (?x)a{{2\n2: ,1}}\n{RULE}\n"
        "on line 1 (column 6) through line 2 (column 3)\n"
        "error: invalid repetition count range, the start must be <= the end",
    ),
    (
        "(?x)a{2,\n\n1}",
        r'"(?x)a{2,\n\n1}"',
        f"regex parse error:\n{RULE}\n1: (?x)a{{2,\n2: \n3: 1}}\n{RULE}\n"
        "on line 1 (column 6) through line 3 (column 2)\n"
        "error: invalid repetition count range, the start must be <= the end",
    ),
]


@pytest.mark.parametrize("pattern, quoted, display", DISPLAYS, ids=[case_id((p, None, "")) for p, _, _ in DISPLAYS])
def test_error_display(pattern, quoted, display):
    with pytest.raises(ValueError) as info:
        matcher(pattern)
    assert str(info.value) == f"invalid regular expression {quoted}: {display}"


# --- agreement with Python's re on ASCII patterns and texts
#
# Common ground: ASCII literals, classes (negated, ranges, \d \w \s and their
# complements, which are Unicode here but agree on ASCII texts), `.`, groups,
# alternation and counted repetition, no line anchors. Python's \B never
# matches an empty text, so texts are non-empty where \B appears. Some texts are drawn to
# match under Python's reading, so both answers occur often.

LITERALS = list("abcxyz019_ ,")
ESCAPED = [re.escape(c) for c in ".+*?()|[]{}^$\\#"]
PERL = [r"\d", r"\D", r"\w", r"\W", r"\s", r"\S"]
ALPHABET = "abcxyzABXZ019_ ,.-\n\r\t\x0b\x1c(#"


@st.composite
def bracket_classes(draw):
    members = draw(st.lists(
        st.one_of(
            st.sampled_from(LITERALS),
            st.sampled_from([r"\]", r"\\", r"\^", r"\-", r"\[", r"\.", r"\n"]),
            st.sampled_from(PERL),
            st.tuples(st.sampled_from("abcxy019"), st.sampled_from("abcxyz19")).map(sorted).map("-".join),
        ),
        min_size=1, max_size=4,
    ))
    negated = "[^" + "".join(members) + "]"
    # from_regex cannot draw from a class empty over ASCII, such as [^\d\D]
    if draw(st.booleans()) and any(re.fullmatch(negated, chr(c), re.ASCII) for c in range(128)):
        return negated
    return "[" + "".join(members) + "]"


atoms = st.one_of(
    st.sampled_from(LITERALS),
    st.sampled_from(ESCAPED),
    st.sampled_from(PERL),
    st.just("."),
    bracket_classes(),
)

quantifiers = st.one_of(
    st.sampled_from(["*", "+", "?"]),
    st.integers(0, 3).map(lambda n: "{%d}" % n),
    st.integers(0, 3).map(lambda n: "{%d,}" % n),
    st.tuples(st.integers(0, 3), st.integers(0, 3)).map(sorted).map(lambda nm: "{%d,%d}" % tuple(nm)),
).flatmap(lambda q: st.sampled_from([q, q + "?"]))


def compose(inner):
    return st.one_of(
        st.lists(inner, min_size=2, max_size=3).map("".join),
        st.lists(inner | st.just(""), min_size=2, max_size=3).map("|".join),
        inner.map(lambda p: "(" + p + ")"),
        st.tuples(inner, quantifiers).map(lambda pq: "(?:" + pq[0] + ")" + pq[1]),
    )


# Leaves come from a small pool, so that one class often stands in several places.
patterns = st.lists(atoms | st.sampled_from([r"\b", r"\B"]), min_size=1, max_size=3).flatmap(
    lambda pool: st.recursive(st.sampled_from(pool), compose, max_leaves=10))


@settings(max_examples=400, deadline=None, derandomize=bool(os.environ.get("CI")))
@given(data=st.data(), pattern=patterns, fold=st.booleans())
def test_ascii_patterns_agree_with_python_re(data, pattern, fold):
    flags = re.ASCII | (re.IGNORECASE if fold else 0)
    members = st.from_regex(re.compile(pattern, flags), fullmatch=True, alphabet=st.characters(max_codepoint=127))
    plain = st.text(ALPHABET, max_size=6)
    if r"\B" in pattern:
        plain = plain.filter(bool)
    v = matcher("(?i)" + pattern if fold else pattern)
    try:
        drawn = data.draw(st.lists(members | plain, min_size=1, max_size=8))
    except InvalidArgument:  # a class that matches no ASCII character leaves no members to draw
        drawn = data.draw(st.lists(plain, min_size=1, max_size=8))
    for text in drawn:
        assert v.is_valid(text) is bool(re.fullmatch(pattern, text, flags)), (pattern, text)
