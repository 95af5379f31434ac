#!/usr/bin/env python3
"""Generates src/unicode/tables.cc (the character tables behind
src/unicode/unicode.h) and tests/cpp/unicode/data/ (what CPython itself says
about the same characters, for the tests).

Sources, all of one Unicode version (the script stops when they differ):
  * CPython's unicodedata and str.lower()/str.upper(): general categories and
    the full (one-to-many) case mappings;
  * Perl's Unicode::UCD (perl-modules): the Alphabetic, Cased and
    Case_Ignorable properties, which unicodedata does not expose;
  * the White_Space list below, checked against Perl's.

Run from the repository root:  python3 tools/gen_unicode_tables.py
"""
import pathlib
import subprocess
import sys
import unicodedata
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLES = ROOT / "src/unicode/tables.cc"
DATA = ROOT / "tests/cpp/unicode/data"

MAX_CP = 0x10FFFF
# The White_Space property, as trimming uses it.
WHITE_SPACE = [(0x09, 0x0D), (0x20, 0x20), (0x85, 0x85), (0xA0, 0xA0), (0x1680, 0x1680),
               (0x2000, 0x200A), (0x2028, 0x2029), (0x202F, 0x202F), (0x205F, 0x205F),
               (0x3000, 0x3000)]
NUMERIC_CATEGORIES = {"Nd", "Nl", "No"}
BLOCK = 4096  # code points per checksum line in the test data


def scalars():
    return (cp for cp in range(MAX_CP + 1) if not 0xD800 <= cp <= 0xDFFF)


def perl_properties(names):
    script = (
        "use Unicode::UCD qw(prop_invlist);"
        "print Unicode::UCD::UnicodeVersion(), \"\\n\";"
        "for my $p (@ARGV) { print join(',', prop_invlist($p)), \"\\n\" }"
    )
    out = subprocess.run(["perl", "-e", script, *names], check=True, capture_output=True,
                         text=True).stdout.splitlines()
    version, lists = out[0], out[1:]
    if version != unicodedata.unidata_version:
        sys.exit(f"Perl has Unicode {version}, CPython {unicodedata.unidata_version}")
    props = {}
    for name, line in zip(names, lists):
        bounds = [int(x) for x in line.split(",")] + [MAX_CP + 1]
        props[name] = [(bounds[i], bounds[i + 1] - 1) for i in range(0, len(bounds) - 1, 2)]
    return props


def ranges_of(predicate):
    out = []
    for cp in scalars():
        if predicate(cp):
            if out and out[-1][1] == cp - 1:
                out[-1] = (out[-1][0], cp)
            else:
                out.append((cp, cp))
    return out


def member(ranges):
    points = set()
    for a, b in ranges:
        points.update(range(a, b + 1))
    return points


def c_ranges(name, ranges):
    rows = ",\n".join("    {0x%04X, 0x%04X}" % r for r in ranges)
    return (f"constexpr Range k{name}Ranges[] = {{\n{rows},\n}};\n"
            f"const std::span<const Range> k{name}(k{name}Ranges);\n")


CASE_BLOCK = 128  # code points per block of the two-stage case tables
EXPANDS = -(2**31)  # a delta that sends the lookup to the expansions


def c_case_map(name, single, multi):
    """A two-stage table of deltas (mapped minus original code point): an index
    of blocks by cp // CASE_BLOCK, and the distinct blocks; block 0 is all zero."""
    deltas = {cp: to - cp for cp, to in single}
    deltas.update({cp: EXPANDS for cp, _ in multi})
    limit = (max(deltas) // CASE_BLOCK + 1) * CASE_BLOCK
    blocks = [tuple([0] * CASE_BLOCK)]
    index = []
    for start in range(0, limit, CASE_BLOCK):
        block = tuple(deltas.get(cp, 0) for cp in range(start, start + CASE_BLOCK))
        if block not in blocks:
            blocks.append(block)
        index.append(blocks.index(block))
    assert len(blocks) <= 256
    index_rows = "\n".join(
        "    " + ", ".join(str(i) for i in index[k:k + 24]) + "," for k in range(0, len(index), 24))
    delta_rows = "\n".join(
        "    " + ", ".join("INT32_MIN" if d == EXPANDS else str(d) for d in b[k:k + 16]) + ","
        for b in blocks for k in range(0, CASE_BLOCK, 16))
    items = ",\n".join(
        "    {0x%04X, {%s}}" % (cp, ", ".join("0x%04X" % ord(c) for c in text)) for cp, text in multi)
    return (f"constexpr std::uint8_t k{name}Index[] = {{\n{index_rows}\n}};\n"
            f"constexpr std::int32_t k{name}Deltas[] = {{\n{delta_rows}\n}};\n"
            f"constexpr Expansion k{name}Expansions[] = {{\n{items},\n}};\n"
            f"const CaseMap k{name}{{0x{limit:X}, k{name}Index, k{name}Deltas, k{name}Expansions}};\n")


def case_tables(method):
    single, multi = [], []
    for cp in scalars():
        mapped = getattr(chr(cp), method)()
        if mapped == chr(cp):
            continue
        if len(mapped) == 1:
            single.append((cp, ord(mapped)))
        else:
            assert len(mapped) <= 3, (cp, mapped)
            multi.append((cp, mapped))
    return single, multi


def main():
    props = perl_properties(["Alphabetic", "Cased", "Case_Ignorable", "White_Space"])
    if props["White_Space"] != WHITE_SPACE:
        sys.exit(f"White_Space differs from this Unicode version: {props['White_Space']}")
    alphabetic = member(props["Alphabetic"])
    alphanumeric = ranges_of(
        lambda cp: cp in alphabetic or unicodedata.category(chr(cp)) in NUMERIC_CATEGORIES)
    lower_single, lower_multi = case_tables("lower")
    upper_single, upper_multi = case_tables("upper")

    version = unicodedata.unidata_version
    TABLES.write_text(
        f"// Generated by tools/gen_unicode_tables.py from Unicode {version}. Do not edit.\n"
        "#include \"unicode/tables.h\"\n\n"
        "#include <cstdint>\n\n"
        "namespace vostrel::unicode::tables {\n\n"
        f"const std::string_view kUnicodeVersion = \"{version}\";\n\n"
        + c_ranges("WhiteSpace", WHITE_SPACE) + "\n"
        + "// Alphabetic, or general category Nd, Nl or No.\n"
        + c_ranges("Alphanumeric", alphanumeric) + "\n"
        + c_ranges("Cased", props["Cased"]) + "\n"
        + c_ranges("CaseIgnorable", props["Case_Ignorable"]) + "\n"
        + "// Full case mappings (str.lower() and str.upper() of each character).\n"
        + c_case_map("Lower", lower_single, lower_multi) + "\n"
        + c_case_map("Upper", upper_single, upper_multi) + "\n"
        + "}  // namespace vostrel::unicode::tables\n")

    # Test data: per block of code points, a digest of what CPython (and the
    # properties above) say of each character, in the form the test recomputes.
    ws = member(WHITE_SPACE)
    alnum = member(alphanumeric)
    # A record is: lower(c), NUL, upper(c), NUL, one byte of flags (1 White_Space,
    # 2 alphanumeric), all in UTF-8; a line holds the CRC-32 of a block's records.
    lines = [f"# Unicode {version}: first code point of a block, CRC-32 of its records"]
    for start in range(0, MAX_CP + 1, BLOCK):
        crc = 0
        for cp in range(start, start + BLOCK):
            if 0xD800 <= cp <= 0xDFFF:
                continue
            c = chr(cp)
            flags = (1 if cp in ws else 0) | (2 if cp in alnum else 0)
            crc = zlib.crc32(c.lower().encode() + b"\0" + c.upper().encode() + b"\0" + bytes([flags]), crc)
        lines.append(f"{start:06x} {crc:08x}")
    DATA.mkdir(parents=True, exist_ok=True)
    (DATA / "block_digests.txt").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
