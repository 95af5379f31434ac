#!/usr/bin/env python3
"""Writes tests/cpp/yaml/data/scalar_cases.json: how PyYAML (YAML 1.1) types
plain and tagged scalars, mapped to what the core's loader must produce.

The core follows PyYAML's resolvers with three deliberate differences, applied
here so the file states the core's expectation:
  * infinity and not-a-number cannot be JSON values: the written text stays a string;
  * integers must fit a signed 64-bit magnitude, else the text stays a string;
  * there is no timestamp resolver: dates stay strings.

Run from the repository root: python3 tools/gen_yaml_scalar_cases.py
"""
import datetime
import json
import math
import pathlib

import yaml

CASES = [
    # integers
    "0755", "0x1F", "0x_1F", "0b101", "0b", "1_000", "1_", "-0", "+0", "+12", "-12", "00", "0_",
    "08", "0o17", "0b102", "1__0", "_1", "1:30", "-1:30", "190:20:30", "3:25:45", "1:60",
    "9223372036854775807", "9223372036854775808", "-9223372036854775808",
    "12345678901234567890",
    # floats
    "1.5", "-1.5", "+1.5", "1.", "0.1", ".5", "-.5", "1e5", "1e+5", "1.0e5", "1.0e+5", "1.0E-3",
    "123.456e-7", "1_0.5", "._", "1:30.5", "-0.0", ".inf", "-.inf", "+.INF", ".NaN", ".nan",
    "1.0e+999", "1.0e-999",
    # out of range without an exponent, or against its exponent's sign
    "0." + "0" * 400 + "1", "-0." + "0" * 400 + "1", "1" + "0" * 400 + ".0e-5", "0." + "0" * 400 + "1e+5",
    # booleans
    "yes", "Yes", "YES", "no", "No", "NO", "true", "True", "TRUE", "false", "False", "FALSE",
    "on", "On", "ON", "off", "Off", "OFF", "y", "n", "tRue", "yES",
    # null
    "", "~", "null", "Null", "NULL", "nULL",
    # strings and quoting
    "hello", "2001-12-14", "'yes'", '"0755"', "'~'", '"1.5"',
    # tags the core understands
    "!!str 123", '!!int "42"', "!!int 0x10", "!!bool yes", "!!null anything", "!!float 1.5",
    "!!str yes",
]


def expected(value, text):
    if isinstance(value, bool) or value is None or isinstance(value, str):
        return value
    if isinstance(value, int):
        return value if abs(value) <= 2**63 - 1 else text
    if isinstance(value, float):
        return value if math.isfinite(value) else text
    if isinstance(value, (datetime.date, datetime.datetime)):
        return text
    raise TypeError(f"unexpected value {value!r} for {text!r}")


def main():
    out = []
    for text in CASES:
        value = yaml.safe_load(text)
        out.append({"yaml": text, "expected": expected(value, text)})
    path = pathlib.Path("tests/cpp/yaml/data/scalar_cases.json")
    path.write_text(json.dumps(out, indent=1) + "\n")
    print(f"wrote {len(out)} cases to {path}")


if __name__ == "__main__":
    main()
