"""The class machinery from Python: registry facts, argument errors, the tool
classes, comparison and hashing, and borrows."""

import weakref

import pytest

from vostrel import _core, exceptions

hooks = _core._testing
ToolCall, ToolSpec, ToolResult = _core.ToolCall, _core.ToolSpec, _core.ToolResult
BorrowProbe = hooks.BorrowProbe


def system_spec(handler, takes_actor=False, name="t"):
    """A ToolSpec as the system hands its own specs to Python."""
    (spec,) = hooks.tool_specs_through_core(
        [ToolSpec(name, "d", {"type": "object"}, handler, takes_actor)])
    return spec


def call_with(function, args, kwargs):
    return function(*args, **kwargs)


class TestClassRegistry:
    @pytest.mark.parametrize("cls, signature, doc", [
        (ToolCall, "(name, arguments=None, id=...)", "A call the model asked for."),
        (ToolSpec, "(name, description, parameters, handler, takes_actor=False)",
         "A tool an agent may call."),
        (ToolResult, "(name, content, is_error=False)", "What a tool call produced."),
    ], ids=["ToolCall", "ToolSpec", "ToolResult"])
    def test_names_signatures_and_docs(self, cls, signature, doc):
        assert cls.__module__ == "vostrel._core"
        assert cls.__qualname__ == cls.__name__
        assert cls.__text_signature__ == signature
        assert cls.__doc__ == doc

    @pytest.mark.parametrize("cls", [ToolCall, ToolSpec, ToolResult],
                             ids=lambda c: c.__name__)
    def test_final_classes_cannot_be_subclassed(self, cls):
        with pytest.raises(TypeError, match="is not an acceptable base type"):
            type("Derived", (cls,), {})

    def test_tool_handler_type(self):
        handler_type = type(system_spec(lambda a: "").handler)
        assert handler_type.__qualname__ == "ToolHandler"
        assert handler_type.__module__ == "vostrel._core"
        assert handler_type.__text_signature__ is None
        assert handler_type.__doc__.startswith(
            "A framework handler, seen from Python as an ordinary callable.\n\n")
        with pytest.raises(TypeError, match="^No constructor defined for ToolHandler$"):
            handler_type()

    def test_instances_have_no_dict_and_no_weakrefs(self):
        result = ToolResult("t", "c")
        with pytest.raises(AttributeError):
            result.extra = 1
        with pytest.raises(AttributeError):
            result.name = "other"
        with pytest.raises(TypeError):
            weakref.ref(result)

    @pytest.mark.parametrize("value", [ToolCall("x"), ToolResult("a", "b"),
                                       ToolSpec("a", "b", {}, None)],
                             ids=["ToolCall", "ToolResult", "ToolSpec"])
    def test_comparable_classes_are_unhashable(self, value):
        with pytest.raises(TypeError, match="unhashable type"):
            hash(value)

    def test_type_objects_are_shared(self):
        assert type(ToolCall("x")) is ToolCall
        assert type(hooks.tool_specs_through_core([ToolSpec("a", "b", {}, None)])[0]) is ToolSpec


ARGUMENT_ERRORS = [
    # (id, callable, args, kwargs, message)
    ("missing one", ToolCall, (), {}, "ToolCall.__new__() missing 1 required positional argument: 'name'"),
    ("missing two", ToolResult, (), {},
     "ToolResult.__new__() missing 2 required positional arguments: 'name' and 'content'"),
    ("missing four", ToolSpec, (), {},
     "ToolSpec.__new__() missing 4 required positional arguments: "
     "'name', 'description', 'parameters', and 'handler'"),
    ("missing after keyword", ToolResult, (), {"content": "c"},
     "ToolResult.__new__() missing 1 required positional argument: 'name'"),
    ("too many with defaults", ToolResult, ("a", "b", False, 1), {},
     "ToolResult.__new__() takes from 2 to 3 positional arguments but 4 were given"),
    ("too many all required", _core.bootstrap, (1, 2, 3, 4), {},
     "bootstrap() takes 3 positional arguments but 4 were given"),
    ("too many on a method", BorrowProbe("v").read, (1, 2), {},
     "BorrowProbe.read() takes 1 positional arguments but 2 were given"),
    ("multiple values", ToolResult, ("a", "b"), {"name": "c"},
     "ToolResult.__new__() got multiple values for argument 'name'"),
    ("unexpected keyword", ToolResult, ("a", "b"), {"bogus": 1},
     "ToolResult.__new__() got an unexpected keyword argument 'bogus'"),
    ("unexpected keyword on a function", _core.bootstrap, (), {"exception": 1},
     "bootstrap() got an unexpected keyword argument 'exception'"),
    ("missing keyword-only", hooks.match, (1,), {"d": 2},
     "match() missing 2 required keyword arguments: 'c' and 'e'"),
    ("missing one keyword-only", hooks.match, (1,), {"c": 2},
     "match() missing 1 required keyword argument: 'e'"),
    ("positional before keyword-only", hooks.match, (), {"c": 1, "e": 2},
     "match() missing 1 required positional argument: 'a'"),
    ("keyword-only given by position", hooks.match, (1, 2, 3), {"c": 1, "e": 2},
     "match() takes from 1 to 2 positional arguments but 3 were given"),
    ("text conversion", ToolResult, (5, "c"), {},
     "argument 'name': 'int' object cannot be converted to 'PyString'"),
    ("truth-value conversion", ToolResult, ("a", "b", 1), {},
     "argument 'is_error': 'int' object cannot be converted to 'PyBool'"),
    ("later parameter converted after earlier", ToolCall, ("x", [1], 5), {},
     "argument 'id': 'int' object cannot be converted to 'PyString'"),
    ("own conversion unwrapped", ToolCall, ("x", [1]), {},
     "'list' object cannot be converted to 'PyDict'"),
    ("unsigned 32-bit range", hooks.raise_core_error, (2**32,), {},
     "out of range integral type conversion attempted"),
]


class TestArgumentErrors:
    @pytest.mark.parametrize("function, args, kwargs, message",
                             [case[1:] for case in ARGUMENT_ERRORS],
                             ids=[case[0] for case in ARGUMENT_ERRORS])
    def test_message(self, function, args, kwargs, message):
        with pytest.raises((TypeError, OverflowError)) as info:
            call_with(function, args, kwargs)
        assert str(info.value) == message

    def test_only_type_errors_are_wrapped(self):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            hooks.raise_core_error(-1)
        with pytest.raises(UnicodeEncodeError):
            ToolResult("\ud800", "c")

    def test_keywords_fill_every_kind_of_slot(self):
        assert hooks.match(1, c=3, e=5) == {"a": 1, "c": 3, "e": 5}
        assert hooks.match(b=2, a=1, e=5, d=4, c=3) == {"a": 1, "b": 2, "c": 3, "d": 4, "e": 5}



class TestToolCall:
    def test_defaults_and_repr(self):
        call = ToolCall("x")
        assert (call.name, call.arguments, call.id) == ("x", {}, "")
        assert repr(call) == "ToolCall(name='x', arguments={}, id='')"

    def test_repr_shows_arguments_in_python_form(self):
        call = ToolCall("read_file", {"path": "a.txt", "n": 2}, "call_1")
        assert repr(call) == (
            "ToolCall(name='read_file', arguments={'path': 'a.txt', 'n': 2}, id='call_1')")

    def test_arguments_keep_order_and_are_copies(self):
        call = ToolCall("f", {"b": 1, "a": 2})
        arguments = call.arguments
        assert list(arguments) == ["b", "a"]
        arguments["c"] = 3
        assert call.arguments == {"b": 1, "a": 2}

    def test_none_arguments_mean_empty(self):
        assert ToolCall("f", None).arguments == {}


class TestToolResult:
    def test_fields_and_repr(self):
        result = ToolResult("t", "out")
        assert (result.name, result.content, result.is_error) == ("t", "out", False)
        assert repr(result) == "ToolResult(name='t', content='out', is_error=False)"
        assert repr(ToolResult("t", "it's", True)) == (
            "ToolResult(name='t', content=\"it's\", is_error=True)")


class TestToolSpec:
    def test_handler_is_kept_as_given(self):
        spec = ToolSpec("t", "d", [1, "x"], 42)
        assert spec.handler == 42 and spec.handler is spec.handler
        assert spec.parameters == [1, "x"]
        assert repr(spec) == "ToolSpec(name='t', takes_actor=False)"

    def test_parameters_errors_propagate_unwrapped(self):
        with pytest.raises(TypeError, match="^Object of type set is not JSON serializable$"):
            ToolSpec("t", "d", {1}, None)

    def test_system_copies_wrap_the_handler(self):
        seen = []
        spec = system_spec(lambda arguments: seen.append(arguments) or "done")
        assert type(spec.handler).__name__ == "ToolHandler"
        assert callable(spec.handler)
        assert spec.handler({"b": 1, "a": [2]}) == "done"
        assert seen == [{"b": 1, "a": [2]}] and list(seen[0]) == ["b", "a"]
        assert spec == ToolSpec("t", "d", {"type": "object"}, None)


class TestToolHandler:
    @pytest.mark.parametrize("returned, text", [
        ("plain", "plain"),
        (["a", 1, None], "a, 1, None"),
        (("x",), "x"),
        ([], ""),
        ((), ""),
        ([["a", "b"], "c"], "['a', 'b'], c"),
        ({"k": 1}, "{'k': 1}"),
        (None, "None"),
        (3.0, "3.0"),
    ], ids=["str", "list", "one-tuple", "empty-list", "empty-tuple", "nested", "dict", "none",
            "float"])
    def test_result_text(self, returned, text):
        assert system_spec(lambda arguments: returned).handler({}) == text

    def test_str_subclass_gives_its_own_content(self):
        class Shown(str):
            def __str__(self):
                return "other"

        assert system_spec(lambda arguments: Shown("own")).handler({}) == "own"

    def test_actor_is_passed_only_when_asked(self):
        received = []
        plain = system_spec(lambda *args: received.append(args) or "")
        with_actor = system_spec(lambda *args: received.append(args) or "", takes_actor=True)
        plain.handler({"a": 1}, "alice")
        with_actor.handler({"a": 1}, actor="bob")
        with_actor.handler({})
        assert received == [({"a": 1},), ({"a": 1}, "bob"), ({}, "")]

    @pytest.mark.parametrize("args, kwargs, message", [
        (([],), {}, "argument 'arguments': 'list' object cannot be converted to 'PyDict'"),
        (({},), {"actor": None},
         "argument 'actor': 'NoneType' object cannot be converted to 'PyString'"),
        ((), {}, "ToolHandler.__call__() missing 1 required positional argument: 'arguments'"),
    ], ids=["list-arguments", "none-actor", "missing"])
    def test_argument_errors(self, args, kwargs, message):
        handler = system_spec(lambda arguments: "").handler
        with pytest.raises(TypeError) as info:
            handler(*args, **kwargs)
        assert str(info.value) == message

    @pytest.mark.parametrize("raised, expected, text", [
        (ValueError("bad input"), ValueError, "bad input"),
        (PermissionError("denied"), exceptions.SessionError, "denied"),
        (KeyError("k"), exceptions.SessionError, "'k'"),
        (FileNotFoundError("gone"), FileNotFoundError, "gone"),
        (exceptions.AccessDeniedError("no"), exceptions.AccessDeniedError, "no"),
        (KeyboardInterrupt(), exceptions.SessionError, ""),
    ], ids=["value", "permission", "key", "not-found", "access", "keyboard-interrupt"])
    def test_exceptions_come_back_by_kind(self, raised, expected, text):
        def handler(arguments):
            raise raised

        with pytest.raises(expected) as info:
            system_spec(handler).handler({})
        assert type(info.value) is expected
        assert str(info.value) == text

    def test_lone_surrogate_result_fails_strictly(self):
        with pytest.raises(ValueError, match="surrogates not allowed"):
            system_spec(lambda arguments: "\ud800").handler({})

    def test_not_callable_handler_fails_at_call(self):
        with pytest.raises(exceptions.SessionError, match="'int' object is not callable"):
            system_spec(42).handler({})

    def test_panic_from_python_comes_back_as_panic(self):
        def handler(arguments):
            hooks.panic("boom")

        with pytest.raises(BaseException) as info:
            system_spec(handler).handler({})
        assert type(info.value).__name__ == "PanicException"
        assert not isinstance(info.value, Exception)
        assert str(info.value) == "boom"


class TestComparison:
    @pytest.mark.parametrize("left, right, equal", [
        (ToolCall("f", {"a": 1, "b": 2}), ToolCall("f", {"b": 2, "a": 1}), True),
        (ToolCall("f", {"a": 1}), ToolCall("f", {"a": 1.0}), False),
        (ToolCall("f", {"a": True}), ToolCall("f", {"a": 1}), False),
        (ToolCall("f", {"a": [1, 2]}), ToolCall("f", {"a": [2, 1]}), False),
        (ToolCall("f", {"a": 0.0}), ToolCall("f", {"a": -0.0}), True),
        (ToolCall("f", {"a": {"x": 1, "y": 2}}), ToolCall("f", {"a": {"y": 2, "x": 1}}), True),
        (ToolCall("f", id="1"), ToolCall("f", id="2"), False),
        (ToolResult("t", "c"), ToolResult("t", "c"), True),
        (ToolResult("t", "c"), ToolResult("t", "c", True), False),
        (ToolSpec("t", "d", {}, 1), ToolSpec("t", "d", {}, 2), True),
        (ToolSpec("t", "d", {}, 1, True), ToolSpec("t", "d", {}, 1), False),
        (ToolSpec("t", "d", [1], 1), ToolSpec("t", "d", [1.0], 1), False),
        (ToolResult("t", "c"), 5, False),
        (ToolResult("t", "c"), "t", False),
        (ToolResult("t", "c"), ToolCall("t"), False),
    ], ids=["key-order", "int-vs-float", "bool-vs-int", "list-order", "signed-zero",
            "nested-key-order", "id", "result-equal", "result-error-flag",
            "spec-handler-ignored", "spec-takes-actor", "spec-parameters", "vs-int", "vs-str",
            "vs-other-class"])
    def test_equality(self, left, right, equal):
        assert (left == right) is equal
        assert (right == left) is equal
        assert (left != right) is (not equal)

    def test_instance_equals_itself(self):
        for value in (ToolCall("x"), ToolResult("a", "b"), BorrowProbe("v")):
            assert value == value and not (value != value)

    def test_other_operand_equality_is_not_consulted(self):
        class Loud:
            def __eq__(self, other):
                raise AssertionError("consulted")

        assert (ToolResult("t", "c") == Loud()) is False

    def test_orderings_are_refused(self):
        with pytest.raises(TypeError, match="'<' not supported"):
            ToolResult("a", "b") < ToolResult("a", "c")
        with pytest.raises(TypeError):
            sorted([ToolCall("b"), ToolCall("a")])


class TestInterpreterLock:
    def test_callback_from_a_worker_thread(self):
        import threading

        caller = threading.get_ident()
        result, held = hooks.call_on_thread(threading.get_ident, None)
        assert result != caller and held is True

    def test_reference_dropped_without_the_lock_is_released_later(self):
        import sys

        kept = object()
        before = sys.getrefcount(kept)
        for _ in range(100):
            hooks.call_on_thread(lambda: None, kept)
        assert sys.getrefcount(kept) == before

    def test_exception_in_the_callback_reaches_the_caller(self):
        def fail():
            raise KeyError("from the worker")

        with pytest.raises(KeyError, match="from the worker"):
            hooks.call_on_thread(fail, None)

    def test_python_handler_called_from_a_worker_thread(self):
        spec = system_spec(lambda arguments: f"got {arguments['n']}")
        result, _ = hooks.call_on_thread(lambda: spec.handler({"n": 3}), None)
        assert result == "got 3"


class TestFieldHash:
    def test_value_is_fixed_across_processes(self):
        assert hooks.field_hash("command", "run", "ls", "") == 194122212564153475

    def test_field_boundaries_count(self):
        assert hooks.field_hash("ab", "c", "x", "") != hooks.field_hash("a", "bc", "x", "")
        assert hooks.field_hash("", "", "", "") != hooks.field_hash("", "", "", "\xff")


class TestSetters:
    def test_set_and_delete(self):
        probe = BorrowProbe("v")
        probe.value = "w"
        assert probe.value == "w"
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            del probe.value

    def test_value_is_converted_before_the_borrow(self):
        probe = BorrowProbe("v")
        with pytest.raises(TypeError, match="^argument 'value': 'int' object cannot be converted "
                                            "to 'PyString'$"):
            probe.read(lambda: setattr(probe, "value", 5))
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            probe.read(lambda: setattr(probe, "value", "x"))
        assert probe.value == "v" and probe.flag() == 0


class TestBorrows:
    def test_shared_during_exclusive(self):
        probe = BorrowProbe("v")
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            probe.mutate(lambda: probe.value)
        assert probe.flag() == 0

    @pytest.mark.parametrize("outer", ["read", "mutate"])
    def test_exclusive_during_any(self, outer):
        probe = BorrowProbe("v")
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            getattr(probe, outer)(lambda: probe.mutate(lambda: None))
        assert probe.flag() == 0

    def test_shared_borrows_nest(self):
        probe = BorrowProbe("v")
        assert probe.read(lambda: probe.read(probe.flag)) == 2
        assert probe.flag() == 0

    def test_argument_matching_comes_before_the_borrow(self):
        probe = BorrowProbe("v")
        with pytest.raises(TypeError, match="missing 1 required positional argument"):
            probe.mutate(lambda: probe.mutate())
        assert probe.flag() == 0

    def test_comparison_with_exclusively_borrowed_operand_is_unequal(self):
        probe, other = BorrowProbe("v"), BorrowProbe("v")
        assert probe == other
        seen = probe.mutate(lambda: (other == probe, probe == other, other != probe))
        assert seen == (False, False, True)
        assert probe.flag() == 0 and other.flag() == 0

    def test_flag_is_restored_after_an_exception(self):
        probe = BorrowProbe("v")

        def fail():
            raise KeyError("x")

        with pytest.raises(KeyError):
            probe.mutate(fail)
        assert probe.flag() == 0
        assert probe.read(lambda: probe.value) == "v"

    @pytest.mark.parametrize("value, expected", [
        ([None], "'NoneType' object cannot be converted to 'ToolSpec'"),
        ([ToolCall("x")], "'ToolCall' object cannot be converted to 'ToolSpec'"),
    ], ids=["none", "tool-call"])
    def test_wrong_class_is_a_type_error(self, value, expected):
        with pytest.raises(TypeError) as info:
            hooks.tool_specs_through_core(value)
        assert str(info.value) == expected
