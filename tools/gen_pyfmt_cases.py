#!/usr/bin/env python3
"""Writes tests/cpp/pyfmt/data/cases.json: inputs for the Python-compatible
formatters with the outputs CPython itself gives for them.

CPython is the oracle for everything it agrees on: string escaping, quote
choice, separators, key order, the shortest round-trip digits of a double.
The formatters differ from CPython on purpose in three places, and this script
applies exactly those differences to CPython's own output:

  * doubles: json.dumps lays digits out plain for decimal exponents -5..15 and
    writes exponents without padding ("0.00001", "1e-6"); inside a container
    str() is always plain ("10000000000000000.0"). The digits come from repr().
  * json.dumps leaves DEL (U+007F) unescaped.
  * repr() escapes only the quote, the backslash, tab, line feed and carriage
    return; characters CPython would write as \\x.., \\u.. or \\U.. are copied.

Run from the repository root:  python3 tools/gen_pyfmt_cases.py
"""
import decimal
import json
import pathlib
import sys

OUT = pathlib.Path(__file__).resolve().parent.parent / "tests/cpp/pyfmt/data/cases.json"


def float_digits(f):
    """Shortest round-trip digits of |f| from CPython's repr, and the decimal
    exponent k of the first digit (f = d.ddd * 10**k)."""
    d = decimal.Decimal(repr(abs(f))).normalize()
    sign, digits, exp = d.as_tuple()
    digits = "".join(map(str, digits))
    if digits == "0":
        return "0", 0
    return digits, len(digits) - 1 + exp


def float_layout(f, plain_always):
    sign = "-" if str(f).startswith("-") else ""
    digits, k = float_digits(f)
    if not plain_always and (k < -5 or k > 15):
        mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
        return f"{sign}{mantissa}e{'-' if k < 0 else '+'}{abs(k)}"
    if k >= 0:
        if len(digits) <= k + 1:
            return sign + digits + "0" * (k + 1 - len(digits)) + ".0"
        return sign + digits[: k + 1] + "." + digits[k + 1 :]
    return sign + "0." + "0" * (-k - 1) + digits


def expected_dumps(value):
    # Floats go through json.dumps as placeholder strings, then take their layout.
    floats = []

    def swap(v):
        if isinstance(v, float):
            floats.append(v)
            return f"\x01F{len(floats) - 1}\x01"
        if isinstance(v, list):
            return [swap(x) for x in v]
        if isinstance(v, dict):
            return {k: swap(x) for k, x in v.items()}
        return v

    text = json.dumps(swap(value))
    for i, f in enumerate(floats):
        text = text.replace(f'"\\u0001F{i}\\u0001"', float_layout(f, False), 1)
    return text.replace("\\u007f", "\x7f")


def expected_repr(text):
    # Characters CPython escapes beyond the five are swapped for printable
    # placeholders absent from the text, so CPython still chooses the quote.
    specials = sorted({c for c in text if not c.isprintable() and c not in "\t\n\r"})
    free = (chr(c) for c in range(0x4E00, 0x9FFF) if chr(c) not in text)
    swap = {c: next(free) for c in specials}
    quoted = repr(text.translate({ord(c): p for c, p in swap.items()}))
    for c, p in swap.items():
        quoted = quoted.replace(p, c)
    return quoted


class _Repr:
    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        return self is other


def expected_str(value):
    def wrap(v):
        if isinstance(v, float):
            return _Repr(float_layout(v, True))
        if isinstance(v, str):
            return _Repr(expected_repr(v))
        if isinstance(v, list):
            return [wrap(x) for x in v]
        if isinstance(v, dict):
            return {wrap(k): wrap(x) for k, x in v.items()}
        return v

    return repr(wrap(value))


CONTROLS = "".join(chr(c) for c in range(0x20))

STRINGS = [
    "", "abc", "\t\x7f\u00e9", "\U0001F600", '"quoted" \\ back', "/slash", CONTROLS,
    "\u2028\u2029", "\ufeff", "\u0085\u00a0\u200b\u3000", "it's", 'say "hi"', "it's \"both\"",
    "\u65e5\u672c\u8a9e", "\U0010FFFF", "\ud7ff\ue000\uffff", "a\nb\\c", "\x00\x1b",
    "\x80\x9f", "e\u0301", "\r\n\t", "'", "''\"", '""', "\\", "\x1b[0m", "caf\u00e9 \U0001F600!",
    "\U0001F468\u200d\U0001F469", "\ud800\udc00".encode("utf-16", "surrogatepass").decode("utf-16"),
]

FLOATS = [
    0.0, -0.0, 1.0, 0.1, 2.5, 3.0, 100.0, 1e-5, 1e-6, 1.5e-7, 9.99999e-6, 1.2345e-5,
    1e15, 1e16, 9999999999999998.0, 123456789012345680.0, 5e-324, 1.7976931348623157e308,
    -1.5e-7, 2.2250738585072014e-308, 1e21, 1e22, 0.30000000000000004, 1 / 3, -123.456,
    1e100, 4.35, 123456.789e3, 0.000123, -1e-5, 1.0000000000000002, 2**53 + 0.0,
]

VALUES = (
    [None, True, False, 0, 1, -5, 2**64 - 1, -(2**63), 2**63, -1]
    + FLOATS
    + STRINGS
    + [
        [], [1, 2.5, None, True], ["a", 1, None], [True, None, "x"], [[[]]], [[], {}],
        {}, {"a": [1, 2.5, None, True], "b": "\u00e9"}, {"b": 1, "a": 2}, {"k": "it's"},
        {"\u00e9": {"x": [1e16, -0.0, 1e-7]}}, {'say "hi"': "it's", "": ""},
        {"nested": [{"a": None}, [1, [2, [3]]], "\U0001F600"]},
    ]
)


def main():
    values = [
        {"value": v, "dumps": expected_dumps(v), "str": expected_str(v)} for v in VALUES
    ]
    texts = [{"text": s, "repr": expected_repr(s)} for s in STRINGS]
    doc = {"python": sys.version.split()[0], "values": values, "texts": texts}
    OUT.parent.mkdir(parents=True, exist_ok=True)
    OUT.write_text(json.dumps(doc, indent=1) + "\n", encoding="ascii")


if __name__ == "__main__":
    main()
