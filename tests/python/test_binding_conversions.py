"""Conversions across the boundary: JSON values, the error mapping in both
directions, the other argument kinds, and reference leaks."""

import collections
import gc
import math
import pathlib
import sys

import pytest

from vostrel import _core, _enums, exceptions
from _subprocess import run_python

hooks = _core._testing
ToolCall, ToolSpec = _core.ToolCall, _core.ToolSpec


def round_trip(value):
    """Through a ToolCall's arguments: py_dict_to_json, then json_object_to_py."""
    return ToolCall("f", {"v": value}).arguments["v"]


class TestJsonFromPython:
    @pytest.mark.parametrize("value, kind", [
        (None, "null"), (True, "bool"), (False, "bool"), (0, "u64"), (1, "u64"), (-1, "i64"),
        (2**63 - 1, "u64"), (-2**63, "i64"), (1.0, "double"), (-0.0, "double"),
        (float("nan"), "null"), (float("inf"), "null"), (float("-inf"), "null"),
        ("s", "string"), ([1], "array"), ((1,), "array"), ({}, "object"),
    ], ids=["none", "true", "false", "zero", "one", "minus-one", "i64-max", "i64-min", "float",
            "minus-zero", "nan", "inf", "minus-inf", "str", "list", "tuple", "dict"])
    def test_kind(self, value, kind):
        assert hooks.json_kind(value) == kind

    @pytest.mark.parametrize("value", [2**63, 2**64 - 1, 2**64, -2**63 - 1],
                             ids=["2**63", "2**64-1", "2**64", "below-i64"])
    def test_integers_beyond_signed_64_bits(self, value):
        with pytest.raises(OverflowError):
            hooks.json_round_trip(value)

    def test_kinds_survive_the_round_trip(self):
        values = [True, 1, 1.0, -1, -0.0, None, "x", [1, [2.5]], {"k": False}]
        back = hooks.json_round_trip(values)
        assert back == values
        assert [type(v) for v in back] == [type(v) for v in values]
        assert math.copysign(1.0, back[4]) == -1.0

    def test_tuples_and_subclasses(self):
        Point = collections.namedtuple("Point", "x y")
        ordered = collections.OrderedDict([("b", 1), ("a", 2)])
        assert round_trip(Point(1, 2)) == [1, 2]
        assert list(round_trip(ordered)) == ["b", "a"]

    def test_list_subclass_goes_through_iteration(self):
        class Reversed(list):
            def __iter__(self):
                return iter(self[::-1])

        assert round_trip(Reversed([1, 2, 3])) == [3, 2, 1]

    @pytest.mark.parametrize("mapping, expected", [
        ({1: "a", "1": "b"}, {"1": "b"}),
        ({None: 1}, {"None": 1}),
        ({True: 1}, {"True": 1}),
        ({(1, 2): 1}, {"(1, 2)": 1}),
        ({"\ud800": 1}, {"\ufffd\ufffd\ufffd": 1}),
    ], ids=["collapsing-keys", "none-key", "bool-key", "tuple-key", "surrogate-key"])
    def test_dict_keys(self, mapping, expected):
        assert ToolCall("f", mapping).arguments == expected

    def test_key_order_is_kept(self):
        keys = [f"k{i}" for i in range(50, 0, -1)]
        assert list(ToolCall("f", dict.fromkeys(keys, 0)).arguments) == keys

    def test_surrogate_in_a_value_is_refused(self):
        with pytest.raises(UnicodeEncodeError):
            ToolCall("f", {"k": "\ud800"})

    @pytest.mark.parametrize("value", [{1, 2}, [1, {2}], {"k": b"x"}],
                             ids=["set", "set-in-list", "bytes-in-dict"])
    def test_unsupported_types(self, value):
        name = "bytes" if isinstance(value, dict) else "set"
        with pytest.raises(TypeError, match=f"^Object of type {name} is not JSON serializable$"):
            hooks.json_round_trip(value)

    def test_nesting_up_to_the_limit(self):
        value = 0
        for _ in range(127):
            value = [value]
        assert hooks.json_round_trip(value) == value
        with pytest.raises(ValueError, match="^JSON value nests deeper than 127 levels$"):
            hooks.json_round_trip([value])

    @pytest.mark.parametrize("depth", [127, 128])
    def test_limit_matches_the_core_reader(self, depth):
        value = 0
        for _ in range(depth):
            value = [value]

        def accepted(function, argument):
            try:
                function(argument)
                return True
            except ValueError:
                return False

        assert accepted(hooks.json_round_trip, value) == accepted(
            hooks.json_from_text, "[" * depth + "]" * depth)

    @pytest.mark.parametrize("make", [
        lambda: (lambda l: (l.append(l), l)[1])([]),
        lambda: (lambda d: (d.__setitem__("d", d), d)[1])({}),
        lambda: (lambda l: (l.append({"x": l}), l)[1])([]),
    ], ids=["list-in-itself", "dict-in-itself", "through-each-other"])
    def test_self_containing_containers_are_refused(self, make):
        with pytest.raises(ValueError, match="nests deeper than 127 levels"):
            hooks.json_round_trip(make())

    def test_python_recursion_limit_is_honoured(self):
        value = 0
        for _ in range(120):
            value = [value]
        limit = sys.getrecursionlimit()
        sys.setrecursionlimit(60)
        try:
            with pytest.raises(RecursionError):
                hooks.json_round_trip(value)
        finally:
            sys.setrecursionlimit(limit)

    def test_dict_changed_during_conversion_is_a_panic(self):
        target = {}

        class Shrinking:
            def __str__(self):
                target.clear()
                return "k"

        target[Shrinking()] = 1
        target["other"] = 2
        with pytest.raises(BaseException, match="^dictionary changed size during iteration$") as info:
            ToolCall("f", target)
        assert type(info.value).__name__ == "PanicException"


class TestJsonToPython:
    @pytest.mark.parametrize("text, value", [
        ("18446744073709551615", 2**64 - 1),
        ("9223372036854775808", 2**63),
        ("-9223372036854775808", -2**63),
        ("1.0", 1.0),
        ("-0.0", -0.0),
        ('{"b": 1, "a": 2}', {"b": 1, "a": 2}),
    ], ids=["u64-max", "2**63", "i64-min", "float", "minus-zero", "key-order"])
    def test_values(self, text, value):
        converted = hooks.json_from_text(text)
        assert converted == value and type(converted) is type(value)
        if isinstance(value, dict):
            assert list(converted) == list(value)


    def test_reader_error_is_a_value_error(self):
        with pytest.raises(ValueError, match="^EOF while parsing a value at line 1 column 0$"):
            hooks.json_from_text("")


class TestErrorsToPython:
    @pytest.mark.parametrize("kind, cls, args", [
        (0, exceptions.ProviderError, ("m",)),
        (3, exceptions.ProviderEmptyResponseError, ("m",)),
        (4, exceptions.SessionError, ("m",)),
        (5, exceptions.GameplanLoadError, ("m",)),
        (6, exceptions.AccessDeniedError, ("m",)),
        (7, FileNotFoundError, ("m",)),
        (8, ValueError, ("m",)),
        (9, OSError, ("m",)),
    ], ids=["provider", "provider-empty", "session", "gameplan", "access", "not-found", "value",
            "io"])
    def test_message_kinds(self, kind, cls, args):
        with pytest.raises(BaseException) as info:
            hooks.raise_core_error(kind, "m")
        assert type(info.value) is cls
        assert info.value.args == args

    def test_io_error_has_no_errno(self):
        with pytest.raises(OSError) as info:
            hooks.raise_core_error(9, "disk")
        assert info.value.errno is None and str(info.value) == "disk"

    def test_http_error(self):
        with pytest.raises(exceptions.ProviderHTTPError) as info:
            hooks.raise_core_error(1, status=429, url="u", body="b")
        error = info.value
        assert (error.status_code, error.url, error.body) == (429, "u", "b")
        assert error.args == (429, "u", "b")
        assert str(error) == "HTTP 429 from u: b"

    def test_network_error(self):
        with pytest.raises(exceptions.ProviderNetworkError) as info:
            hooks.raise_core_error(2, url="u", cause="refused")
        assert (info.value.url, info.value.cause) == ("u", "refused")
        assert isinstance(info.value, exceptions.ProviderError)

    def test_what_the_package_classes_return_is_raised(self):
        # The classes are called with the error's fields; an instance they return
        # is raised, a class is raised bare, anything else or a failing call is
        # what the caller sees instead.
        result = run_python("""
            spec.loader.exec_module(core)

            class Holder:
                pass

            class NeedsNothing(Exception):
                def __init__(self):
                    pass

            def made(*args):
                return IndexError("made", *args)

            Holder.SessionError = lambda *args: KeyError
            Holder.GameplanLoadError = lambda *args: 5
            Holder.AccessDeniedError = NeedsNothing
            for name in ("ProviderError", "ProviderHTTPError", "ProviderNetworkError",
                         "ProviderEmptyResponseError"):
                setattr(Holder, name, made)
            core.bootstrap(Holder, None, "")
            for kind in range(10):
                try:
                    core._testing.raise_core_error(kind, "m", status=7, url="u", body="b", cause="c")
                except BaseException as error:
                    print(kind, type(error).__name__, error.args)
        """, unbootstrapped=True)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [
            "0 IndexError ('made', 'm')",
            "1 IndexError ('made', 7, 'u', 'b')",
            "2 IndexError ('made', 'u', 'c')",
            "3 IndexError ('made', 'm')",
            "4 KeyError ()",
            "5 TypeError ('exceptions must derive from BaseException',)",
            "6 TypeError ('NeedsNothing.__init__() takes 1 positional argument but 2 were given',)",
            "7 FileNotFoundError ('m',)",
            "8 ValueError ('m',)",
            "9 OSError ('m',)",
        ]


def from_py(exception):
    return hooks.core_error_from(exception)


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class ProviderAndAccess(exceptions.ProviderError, exceptions.AccessDeniedError):
    pass


class GameplanAndValue(exceptions.GameplanLoadError, ValueError):
    pass


def http_error(**attributes):
    error = exceptions.ProviderHTTPError(503, "u", "b")
    for name, value in attributes.items():
        if value is delattr:
            delattr(error, name)
        else:
            setattr(error, name, value)
    return error


class TestErrorsFromPython:
    @pytest.mark.parametrize("exception, expected", [
        (exceptions.ProviderHTTPError(503, "u", "b"), ("ProviderHttp", "", 503, "u", "b", "")),
        (http_error(status_code=None), ("ProviderHttp", "", 0, "u", "b", "")),
        (http_error(status_code="503"), ("ProviderHttp", "", 0, "u", "b", "")),
        (http_error(status_code=-1), ("ProviderHttp", "", 0, "u", "b", "")),
        (http_error(status_code=70000), ("ProviderHttp", "", 0, "u", "b", "")),
        (http_error(url=delattr), ("ProviderHttp", "", 503, "", "b", "")),
        (http_error(body=None), ("ProviderHttp", "", 503, "u", "None", "")),
        (exceptions.ProviderNetworkError("u", "c"), ("ProviderNetwork", "", 0, "u", "", "c")),
        (exceptions.ProviderEmptyResponseError("e"), ("ProviderEmpty", "e", 0, "", "", "")),
        (exceptions.ProviderError("p"), ("Provider", "p", 0, "", "", "")),
        (exceptions.AccessDeniedError("a"), ("AccessDenied", "a", 0, "", "", "")),
        (exceptions.GameplanLoadError("g"), ("GameplanLoad", "g", 0, "", "", "")),
        (exceptions.SessionError("s"), ("Session", "s", 0, "", "", "")),
        (FileNotFoundError("f"), ("NotFound", "f", 0, "", "", "")),
        (ValueError("v"), ("Value", "v", 0, "", "", "")),
        (UnicodeDecodeError("utf-8", b"\xff", 0, 1, "bad"),
         ("Value", "'utf-8' codec can't decode byte 0xff in position 0: bad", 0, "", "", "")),
        (PermissionError("denied"), ("Session", "denied", 0, "", "", "")),
        (OSError("io"), ("Session", "io", 0, "", "", "")),
        (KeyError("k"), ("Session", "'k'", 0, "", "", "")),
        (Unprintable(), ("Session", "", 0, "", "", "")),
        (ValueError("\ud800"), ("Value", "\ufffd\ufffd\ufffd", 0, "", "", "")),
        (ProviderAndAccess("x"), ("Provider", "x", 0, "", "", "")),
        (GameplanAndValue("x"), ("GameplanLoad", "x", 0, "", "", "")),
    ], ids=["http", "status-none", "status-text", "status-negative", "status-too-large",
            "url-deleted", "body-none", "network", "empty", "provider", "access", "gameplan",
            "session", "not-found", "value", "unicode-decode", "permission", "os-error", "key",
            "unprintable", "surrogate-message", "provider-and-access", "gameplan-and-value"])
    def test_kind_and_fields(self, exception, expected):
        assert from_py(exception) == expected

    @pytest.mark.parametrize("value", [None, "text", ValueError],
                             ids=["none", "str", "exception-class"])
    def test_non_exceptions_give_no_error(self, value):
        assert from_py(value) is None

    def test_round_trip_keeps_kind_and_text(self):
        def handler(arguments):
            raise exceptions.ProviderHTTPError(502, "https://x", "upstream")

        (spec,) = hooks.tool_specs_through_core([ToolSpec("t", "d", {}, handler)])
        with pytest.raises(exceptions.ProviderHTTPError) as info:
            spec.handler({})
        assert (info.value.status_code, info.value.url, info.value.body) == (
            502, "https://x", "upstream")


class TestArgumentConversions:
    @pytest.mark.parametrize("value, expected", [
        ("openai", "openai"),
        (_enums.ToolDialect.ANTHROPIC, "anthropic"),
        (type("Plain", (), {"__str__": lambda self: "text"})(), "text"),
    ], ids=["str", "enum-member", "str-of-object"])
    def test_dialect_from_py(self, value, expected):
        assert hooks.dialect_from(value) == expected

    def test_unknown_dialect(self):
        with pytest.raises(ValueError, match="^Unknown tool dialect OpenAI$"):
            hooks.dialect_from("OpenAI")

    def test_dialect_to_py_uses_the_registered_enum(self):
        assert hooks.dialect_to_py("text") is _enums.ToolDialect.TEXT

    def test_headers(self):
        assert hooks.headers_from({"X-N": 1, "X-B": True, "X-S": "v", "X-L": [1, 2],
                                   "X-0": None}) == [
            ("X-N", "1"), ("X-B", "true"), ("X-S", "v"), ("X-L", "[1,2]"), ("X-0", "null")]
        assert hooks.headers_from(None) == []
        with pytest.raises(TypeError, match="^'list' object cannot be converted to 'PyDict'$"):
            hooks.headers_from([("a", "b")])

    def test_str_lists(self):
        assert hooks.str_list_from("ab") == ("a", "b")
        assert hooks.str_list_from([pathlib.Path("/x/y"), 3]) == ("/x/y", "3")
        assert hooks.str_list_from({"k": 1}) == ("k",)
        with pytest.raises(TypeError, match="not iterable"):
            hooks.str_list_from(5)

    def test_tool_spec_lists(self):
        spec = ToolSpec("t", "d", {}, None)
        assert hooks.tool_specs_opt_count(None) is None
        assert hooks.tool_specs_opt_count([]) == 0
        assert hooks.tool_specs_opt_count((spec, spec)) == 2
        with pytest.raises(TypeError, match="^Can't extract `str` to `Vec`$"):
            hooks.tool_specs_through_core("ab")
        with pytest.raises(TypeError, match="^'set' object cannot be converted to 'Sequence'$"):
            hooks.tool_specs_through_core(set())


class TestReferences:
    def test_conversions_keep_no_references(self):
        key, value = "some-key", object.__new__(type("Marker", (), {"__str__": lambda s: "m"}))
        payload = {key: ["text", 1.5, {"nested": key}], "n": 1}
        before = (sys.getrefcount(key), sys.getrefcount(payload))
        for _ in range(2000):
            ToolCall("f", payload).arguments
            hooks.json_round_trip(payload)
            hooks.str_list_from([value])
        gc.collect()
        assert (sys.getrefcount(key), sys.getrefcount(payload)) == before

    def test_handler_is_released_with_its_specs(self):
        class Handler:
            def __call__(self, arguments):
                return "ok"

        handler = Handler()
        before = sys.getrefcount(handler)
        for _ in range(500):
            spec = ToolSpec("t", "d", {}, handler)
            (copy,) = hooks.tool_specs_through_core([spec])
            copy.handler({"a": 1})
            del spec, copy
        gc.collect()
        assert sys.getrefcount(handler) == before

    def test_raising_keeps_no_references(self):
        cls = exceptions.ProviderHTTPError
        before = sys.getrefcount(cls)
        for _ in range(500):
            try:
                hooks.raise_core_error(1, status=500, url="u", body="b")
            except cls:
                pass
            hooks.core_error_from(cls(1, "u", "b"))
        gc.collect()
        assert sys.getrefcount(cls) == before
