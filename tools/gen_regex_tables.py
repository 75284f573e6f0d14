#!/usr/bin/env python3
"""Generates src/regex/unicode_tables.h from the Unicode Character Database.

The tables the pattern dialect resolves classes from: General_Category,
Script, Script_Extensions, the binary properties the dialect names (those
the data has), Grapheme/Word/Sentence_Break, Age, simple case folding
orbits, and every property and value alias in loose form (lowercase, no
space, `_` or `-`). Sets are sorted code point ranges.

Usage: python3 tools/gen_regex_tables.py [UCD directory]
The default directory is /usr/share/unicode, where Debian's unicode-data
package puts the files (with auxiliary/, emoji/ and extracted/).
"""
import os
import sys

# Binary properties a pattern may name; one missing from the data is unknown.
BINARY = """ASCII_Hex_Digit Alphabetic Bidi_Control Bidi_Mirrored Case_Ignorable Cased
Changes_When_Casefolded Changes_When_Casemapped Changes_When_Lowercased Changes_When_Titlecased
Changes_When_Uppercased Dash Default_Ignorable_Code_Point Deprecated Diacritic Emoji Emoji_Component
Emoji_Modifier Emoji_Modifier_Base Emoji_Presentation Extended_Pictographic Extender Grapheme_Base
Grapheme_Extend Grapheme_Link Hex_Digit Hyphen IDS_Binary_Operator IDS_Trinary_Operator
IDS_Unary_Operator ID_Compat_Math_Continue ID_Compat_Math_Start ID_Continue ID_Start Ideographic
Join_Control Logical_Order_Exception Lowercase Math Modifier_Combining_Mark Noncharacter_Code_Point
Other_Alphabetic Other_Default_Ignorable_Code_Point Other_Grapheme_Extend Other_ID_Continue
Other_ID_Start Other_Lowercase Other_Math Other_Uppercase Pattern_Syntax Pattern_White_Space
Prepended_Concatenation_Mark Quotation_Mark Radical Regional_Indicator Sentence_Terminal Soft_Dotted
Terminal_Punctuation Unified_Ideograph Uppercase Variation_Selector White_Space XID_Continue
XID_Start""".split()

BINARY_FILES = ["PropList.txt", "DerivedCoreProperties.txt", "emoji/emoji-data.txt",
                "extracted/DerivedBinaryProperties.txt"]

GC_LEAVES = ("Lu Ll Lt Lm Lo Mn Mc Me Nd Nl No Pc Pd Ps Pe Pi Pf Po Sm Sc Sk So "
             "Zs Zl Zp Cc Cf Cs Co Cn").split()
GC_GROUPS = {"LC": "Lu Ll Lt", "L": "Lu Ll Lt Lm Lo", "M": "Mn Mc Me", "N": "Nd Nl No",
             "P": "Pc Pd Ps Pe Pi Pf Po", "S": "Sm Sc Sk So", "Z": "Zs Zl Zp",
             "C": "Cc Cf Cs Co Cn"}

# Valued properties with data, in the order of the engine's enum.
VALUED = [("gc", "GeneralCategory"), ("sc", "Script"), ("scx", "ScriptExtensions"), ("age", "Age"),
          ("GCB", "GraphemeClusterBreak"), ("WB", "WordBreak"), ("SB", "SentenceBreak")]


def normalize(name):
    return "".join(c.lower() for c in name if c not in " _-" and ord(c) < 0x80)


def records(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#")[0].strip()
            if line:
                yield [x.strip() for x in line.split(";")]


def points(field):
    if ".." in field:
        a, b = field.split("..")
        return range(int(a, 16), int(b, 16) + 1)
    return range(int(field, 16), int(field, 16) + 1)


def by_value(path, column=1):
    out = {}
    for rec in records(path):
        out.setdefault(rec[column], set()).update(points(rec[0]))
    return out


def ranges(cps):
    out = []
    for cp in sorted(cps):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        if out and out[-1][1] == cp - 1:
            out[-1][1] = cp
        else:
            out.append([cp, cp])
    return out


class Emitter:
    def __init__(self):
        self.ranges = []
        self.sets = []
        self.known = {}  # identical sets (a script and its extensions, often) are stored once

    def add(self, cps):
        rs = ranges(cps)
        key = tuple(map(tuple, rs))
        if key not in self.known:
            self.known[key] = (len(self.ranges), len(rs))
            self.ranges.extend(rs)
        self.sets.append(self.known[key])
        return len(self.sets) - 1


def main():
    ucd = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode"
    path = lambda *p: os.path.join(ucd, *p)
    em = Emitter()

    prop_aliases = {}  # long name -> all names
    for rec in records(path("PropertyAliases.txt")):
        prop_aliases[rec[1]] = rec
    value_aliases = {}  # (property short) -> list of alias lists
    for rec in records(path("PropertyValueAliases.txt")):
        value_aliases.setdefault(rec[0], []).append(rec[1:])

    binary_data = {}
    for name in BINARY_FILES:
        for rec in records(path(name)):
            if len(rec) == 2 and rec[1] in BINARY:
                binary_data.setdefault(rec[1], set()).update(points(rec[0]))
    binary_index = {}
    for name in BINARY:
        if name in binary_data:
            binary_index[name] = em.add(binary_data[name])

    # Property names: binary with data, valued with data, or known without data.
    kinds = {}
    valued_long = {long: i for i, (_, long) in enumerate(VALUED)}
    for long, names in prop_aliases.items():
        if long in binary_index:
            kind = ("Binary", binary_index[long])
        elif long.replace("_", "") in valued_long:
            kind = ("Valued", valued_long[long.replace("_", "")])
        else:
            kind = ("Other", 0)
        for n in names:
            kinds.setdefault(normalize(n), kind)

    # General_Category leaves; groups are masks over them.
    gc = by_value(path("extracted", "DerivedGeneralCategory.txt"))
    gc_index = {v: em.add(gc.get(v, set())) for v in GC_LEAVES}
    gc_values = []
    for aliases in value_aliases["gc"]:
        short = aliases[0]
        leaves = GC_GROUPS.get(short, short).split()
        mask = 0
        for leaf in leaves:
            if leaf != "Cs":
                mask |= 1 << GC_LEAVES.index(leaf)
        for a in aliases:
            gc_values.append((normalize(a), mask))

    # Script and Script_Extensions.
    sc = by_value(path("Scripts.txt"))
    long_of = {}
    for aliases in value_aliases["sc"]:
        for a in aliases:
            long_of[a] = aliases[1]
    scx_listed = {}
    for rec in records(path("ScriptExtensions.txt")):
        for short in rec[1].split():
            scx_listed.setdefault(long_of[short], set()).update(points(rec[0]))
    all_listed = set()
    for cps in scx_listed.values():
        all_listed |= cps
    script_values = []
    for aliases in value_aliases["sc"]:
        long = aliases[1]
        if long in sc:
            s = em.add(sc[long])
            x = em.add((sc[long] - all_listed) | scx_listed.get(long, set()))
        else:
            s = x = -1
        for a in aliases:
            script_values.append((normalize(a), s, x))

    # Age: one set per version; a query unions every version up to its own.
    age = by_value(path("DerivedAge.txt"))
    versions = sorted(age, key=lambda v: tuple(int(x) for x in v.split(".")))
    age_index = [em.add(age[v]) for v in versions]
    age_values = []
    for aliases in value_aliases["age"]:
        ordinal = versions.index(aliases[0]) if aliases[0] in versions else -1
        for a in aliases:
            age_values.append((normalize(a), ordinal))

    def break_values(prop, filename):
        data = by_value(path("auxiliary", filename))
        out = []
        for aliases in value_aliases[prop]:
            s = em.add(data[aliases[1]]) if aliases[1] in data else -1
            for a in aliases:
                out.append((normalize(a), s))
        return out

    gcb_values = break_values("GCB", "GraphemeBreakProperty.txt")
    wb_values = break_values("WB", "WordBreakProperty.txt")
    sb_values = break_values("SB", "SentenceBreakProperty.txt")

    # \w: Alphabetic, M, Nd, Pc, Join_Control.
    word = set(binary_data["Alphabetic"]) | binary_data["Join_Control"]
    for leaf in ("Mn", "Mc", "Me", "Nd", "Pc"):
        word |= gc.get(leaf, set())
    word_index = em.add(word)

    # Simple case folding (statuses C and S) as orbits: each member points
    # to the next larger member, the largest to the smallest.
    folds = {}
    for rec in records(path("CaseFolding.txt")):
        if rec[1] in ("C", "S"):
            folds.setdefault(int(rec[2], 16), {int(rec[2], 16)}).add(int(rec[0], 16))
    orbit_next = []
    for members in folds.values():
        m = sorted(members)
        for i, cp in enumerate(m):
            orbit_next.append((cp, m[(i + 1) % len(m)]))
    orbit_next.sort()

    with open(path("DerivedAge.txt"), encoding="utf-8") as f:
        source = f.readline().strip().lstrip("# ")

    def table(out, ctype, name, rows, fmt):
        out.append("inline constexpr %s %s[] = {\n" % (ctype, name))
        line = "   "
        for row in rows:
            item = " " + fmt(row) + ","
            if len(line) + len(item) > 110:
                out.append(line + "\n")
                line = "   "
            line += item
        out.append(line + "\n};\n\n")

    out = []
    out.append("// Generated by tools/gen_regex_tables.py from %s; do not edit.\n" % source)
    out.append("// Unicode tables of the pattern dialect: sets are runs of sorted, disjoint\n")
    out.append("// code point ranges in RANGES; names are in loose form, sorted.\n")
    out.append("#pragma once\n#include <cstdint>\n\nnamespace kestrome::regex::ucd {\n\n")
    out.append("struct Range {\n    std::uint32_t lo;\n    std::uint32_t hi;\n};\n")
    out.append("struct Set {\n    std::uint32_t first;\n    std::uint32_t count;\n};\n")
    out.append("enum class PropertyKind : std::uint8_t { Binary, Valued, Other };\n")
    out.append("// Valued properties, in the order of VALUED below.\n")
    out.append("enum class Valued : std::uint8_t { %s };\n" % ", ".join(long for _, long in VALUED))
    out.append("struct PropertyName {\n    const char* name;\n    PropertyKind kind;\n"
               "    std::int16_t index;  // set of a binary property, or a Valued\n};\n")
    out.append("struct MaskValue {\n    const char* name;\n    std::uint32_t mask;  // GC_LEAVES bits\n};\n")
    out.append("struct ScriptValue {\n    const char* name;\n    std::int16_t script;\n"
               "    std::int16_t extensions;  // -1: no data\n};\n")
    out.append("struct SetValue {\n    const char* name;\n    std::int16_t set;  // -1: no data\n};\n")
    out.append("struct OrbitStep {\n    std::uint32_t from;\n    std::uint32_t to;\n};\n\n")
    table(out, "Range", "RANGES", em.ranges, lambda r: "{0x%x, 0x%x}" % tuple(r))
    table(out, "Set", "SETS", em.sets, lambda s: "{%d, %d}" % s)
    q = lambda s: '"%s"' % s
    table(out, "PropertyName", "PROPERTY_NAMES", sorted(kinds.items()),
          lambda kv: "{%s, PropertyKind::%s, %d}" % (q(kv[0]), kv[1][0], kv[1][1]))
    table(out, "std::int16_t", "GC_LEAVES", [gc_index[v] for v in GC_LEAVES], str)
    out.append("inline constexpr std::uint32_t GC_UNASSIGNED_BIT = 1u << %d;\n" % GC_LEAVES.index("Cn"))
    out.append("inline constexpr std::uint32_t GC_DECIMAL_NUMBER_BIT = 1u << %d;\n\n" % GC_LEAVES.index("Nd"))
    table(out, "MaskValue", "GC_VALUES", sorted(set(gc_values)), lambda v: "{%s, 0x%x}" % (q(v[0]), v[1]))
    table(out, "ScriptValue", "SCRIPT_VALUES", sorted(set(script_values)),
          lambda v: "{%s, %d, %d}" % (q(v[0]), v[1], v[2]))
    table(out, "std::int16_t", "AGE_SETS", age_index, str)
    table(out, "SetValue", "AGE_VALUES", sorted(set(age_values)), lambda v: "{%s, %d}" % (q(v[0]), v[1]))
    for name, values in (("GCB_VALUES", gcb_values), ("WB_VALUES", wb_values), ("SB_VALUES", sb_values)):
        table(out, "SetValue", name, sorted(set(values)), lambda v: "{%s, %d}" % (q(v[0]), v[1]))
    out.append("inline constexpr std::int16_t WHITE_SPACE = %d;\n" % binary_index["White_Space"])
    out.append("inline constexpr std::int16_t PERL_WORD = %d;\n\n" % word_index)
    table(out, "OrbitStep", "FOLD_ORBITS", orbit_next, lambda p: "{0x%x, 0x%x}" % p)
    out.append("}  // namespace kestrome::regex::ucd\n")

    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "..", "src", "regex", "unicode_tables.h")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "w", encoding="utf-8") as f:
        f.write("".join(out))
    print("wrote %d ranges in %d sets to %s" % (len(em.ranges), len(em.sets), os.path.normpath(target)))


if __name__ == "__main__":
    main()
