"""Cost of crossing the binding, beside CPython doing the same work.

Run after `pip install .`:  python3 bench/binding_bench.py

1. A cheap call into the module (constructing a small value class, and a call
   of a core tool handler), beside a call of CPython's json module and a
   pure-Python class of the same shape.
2. A round trip of a 1 MB JSON value through Python objects: Python objects to
   the core's JSON value and back (the path every JSON-shaped argument and
   result takes), beside json.loads(json.dumps(...)).
"""

import json
import os
import statistics
import sys
import timeit

os.environ.setdefault("VOSTREL_BINDING_TEST_HOOKS", "1")

from vostrel import _core  # noqa: E402


def measure(label, statement, number, repeat=7):
    timings = timeit.repeat(statement, number=number, repeat=repeat)
    per_call = [t / number for t in timings]
    best, median = min(per_call), statistics.median(per_call)
    unit, scale = ("ns", 1e9) if best < 1e-5 else ("ms", 1e3)
    print(f"  {label:<52} best {best * scale:9.2f} {unit}   median {median * scale:9.2f} {unit}")
    return best


def make_payload(target_bytes=1_000_000):
    records = []
    i = 0
    while True:
        records.append({
            "id": i,
            "name": f"agent-{i}",
            "score": i * 0.25,
            "negative": -i,
            "active": i % 2 == 0,
            "note": None,
            "tags": ["alpha", "beta", "gamma"][: i % 4],
            "nested": {"depth": {"value": "x" * (i % 17), "ok": True}},
        })
        i += 1
        if i % 256 == 0 and len(json.dumps(records)) >= target_bytes:
            return {"records": records, "count": i}


class PlainResult:
    __slots__ = ("name", "content", "is_error")

    def __init__(self, name, content, is_error=False):
        self.name, self.content, self.is_error = name, content, is_error


def main():
    print(f"Python {sys.version.split()[0]}, vostrel._core {_core.VERSION}")

    print("\nCheap calls (per call)")
    ToolResult = _core.ToolResult
    (spec,) = _core._testing.tool_specs_through_core(
        [_core.ToolSpec("t", "d", {}, lambda arguments: "ok")])
    handler, empty = spec.handler, {}
    n = 200_000
    core_ctor = measure('vostrel: ToolResult("t", "c")', lambda: ToolResult("t", "c"), n)
    measure("vostrel: ToolHandler({}) -> Python handler -> str", lambda: handler(empty), n)
    ref_json = measure('CPython json: json.dumps("c")', lambda: json.dumps("c"), n)
    ref_class = measure('pure Python: PlainResult("t", "c")', lambda: PlainResult("t", "c"), n)
    print(f"  ToolResult construction vs json.dumps: {core_ctor / ref_json:.2f}x, "
          f"vs a Python class: {core_ctor / ref_class:.2f}x")

    payload = make_payload()
    size = len(json.dumps(payload))
    print(f"\nRound trip of a {size / 1e6:.2f} MB JSON value through Python objects (per trip)")
    ToolCall = _core.ToolCall
    wrapped = {"data": payload}
    assert ToolCall("f", wrapped).arguments == json.loads(json.dumps(wrapped))
    core_trip = measure("vostrel: ToolCall(name, value).arguments",
                        lambda: ToolCall("f", wrapped).arguments, 5)
    json_trip = measure("CPython json: json.loads(json.dumps(value))",
                        lambda: json.loads(json.dumps(wrapped)), 5)
    to_core = measure("vostrel: Python -> core only (ToolCall(name, value))",
                      lambda: ToolCall("f", wrapped), 5)
    call = ToolCall("f", wrapped)
    to_py = measure("vostrel: core -> Python only (.arguments)", lambda: call.arguments, 5)
    print(f"  core round trip / json round trip: {core_trip / json_trip:.2f}x "
          f"(Python->core {to_core / core_trip:.0%}, core->Python {to_py / core_trip:.0%})")


if __name__ == "__main__":
    main()
