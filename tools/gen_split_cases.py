#!/usr/bin/env python3
"""Writes the expected words of the command splitter, as Python's shlex.split
(POSIX mode, comments on) gives them, for the inputs where both follow the
POSIX shell rules: tests/cpp/exec/data/split_cases.json.

Inputs where the shell rules and shlex differ (a carriage return, a backslash
before a newline, "$" or "`" inside double quotes, a lone trailing backslash,
"#" inside a word) are tested by hand in the C++ tests instead.

Run from the repository root: python3 tools/gen_split_cases.py
"""
import json
import pathlib
import shlex

INPUTS = [
    "",
    "   ",
    "ls",
    "ls -la /tmp",
    "  leading and   trailing  ",
    "tab\tseparated\twords",
    "line\nbreaks\nseparate",
    "'single quoted words' stay together",
    "'it''s' joined",
    'say "hello world"',
    'a"b c"d',
    "a'b c'd",
    "''",
    '""',
    "x '' y",
    'x "" y',
    "'' ''",
    "'\\n is literal in single quotes'",
    '"a \\" quote"',
    '"a \\\\ backslash"',
    '"other \\x escapes keep the backslash"',
    "outside\\ space",
    "outside\\\\backslash",
    "\\'quote\\'",
    '\\"dq\\"',
    "escaped\\#hash",
    "# whole line comment",
    "ls # trailing comment",
    "ls #comment\necho next",
    "echo 'a # not a comment'",
    'echo "a # not a comment"',
    "sh -c 'echo oops >&2; exit 3'",
    "git commit -m \"fix: it's done\"",
    "grep -E '^(a|b)$' file.txt",
    "echo 'mixed'\"quotes\"plain",
    "unicode: caf\u00e9 \u65e5\u672c",
    "'unterminated",
    '"unterminated',
    "ok 'then unterminated",
    '"nested \' single" ok',
    "'nested \" double' ok",
]


def expected(text):
    try:
        return {"input": text, "words": shlex.split(text, comments=True, posix=True)}
    except ValueError as error:
        # shlex says "No closing quotation"; the splitter's own text differs.
        assert "closing quotation" in str(error), error
        return {"input": text, "error": "missing closing quote"}


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    out = root / "tests" / "cpp" / "exec" / "data" / "split_cases.json"
    cases = [expected(text) for text in INPUTS]
    out.write_text(json.dumps(cases, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
