"""The module entry, bootstrap, the registration order and the constants."""

import pathlib
import shutil
import subprocess
import sys

import pytest

import vostrel
from vostrel import _core, _enums, exceptions
from _subprocess import run_python

# Every name the module adds, in the order it adds them. Names of classes and
# functions that are not built yet are absent from __all__, but whatever is
# present must keep this order.
REGISTRATION_ORDER = [
    "VERSION", "bootstrap", "prompt_on_console", "http_post_json", "_convert_messages_for_claude",
    "ToolCall", "ToolSpec", "ToolResult", "ProviderResponse", "Message", "Turn", "Agent",
    "Memory", "FileMemory", "SummarizingMemory", "CuratedMemory", "SessionMemory",
    "PersonaConfig", "RoleConfig", "SkillConfig", "OrchestratorSpec", "ParticipantSpec",
    "AgentsSpec", "PhaseSpec", "LoopSpec", "ResultField", "HarnessSpec", "Permitted",
    "GameplanConfig", "ProviderCore", "ConsoleChannel", "FileChannel", "LogChannel",
    "MultiChannel", "AccessRequest", "AccessManager", "SkillActivation", "SkillRegistry",
    "Conversation", "ToolDispatcher", "PromptAssembler", "AgentRunner", "LoopState",
    "OrchestratorLoop", "Session", "SessionResult", "ToolContext", "SessionRun", "RunControl",
    "__version__", "DEFAULT_TERMINATORS", "INVALID_CALL", "SKILL_TOOL_NAME", "SCHEMA_VERSION",
    "DEFAULT_MAX_CONTEXT_TOKENS", "DEFAULT_TIMEOUT_SEC", "DEFAULT_REQUEST_TIMEOUT_SEC",
    "DEFAULT_RETRIES", "DEFAULT_BACKOFF_SEC", "DEFAULT_TEMPERATURE", "DEFAULT_TOP_P",
    "DEFAULT_CLAUDE_MAX_TOKENS", "OPENAI_BASE_URL", "OPENROUTER_BASE_URL", "CLAUDE_BASE_URL",
    "CHARS_PER_TOKEN", "COMPACT_TO_FRACTION", "SUMMARY_PREFIX", "SUMMARY_PROMPT",
    "DEFAULT_ROLE_FILE", "MEMORY_HEADER", "MEMORY_WRITE_HINT", "MEMORY_STALE_AFTER_DAYS",
    "DEFAULT_KEEP_ENTRIES", "CONSOLIDATED_PREFIX", "CONSOLIDATE_PROMPT", "DEFAULT_MEMORY_BUDGET",
    "ENTRY_SEPARATOR", "REVISE_UNSUPPORTED", "CONTEXT_HEADER", "FORCED_END_NOTE",
    "FOLLOWUP_PROMPT", "MAX_INVALID_CALLS", "MAX_REPEATED_FAILURES", "OVERFLOW_RETRY_FRACTION",
    "BUNDLE_DIRS", "RESERVED_TOOL_NAMES", "SessionSnapshot",
    "parse_memory_markers", "keyword_in_text", "parse_orchestrator_call", "parse_session_end",
    "retry", "parse_tool_calls", "format_tools_prompt", "to_openai_tool", "to_anthropic_tool",
    "tool_schemas", "parse_openai_tool_calls", "parse_anthropic_tool_calls",
    "render_assistant_turn", "render_tool_result", "validate_arguments", "ensure_strict",
    "estimate_tokens", "estimate_turns", "compact", "summary_request", "is_context_overflow",
    "memory_freshness", "context_block", "parse_harness", "validate_harness", "load_gameplan",
    "list_builtin_gameplans", "load_role", "list_builtin_roles", "resolve_role_path",
    "load_persona", "format_persona_for_prompt", "list_builtin_personas", "resolve_persona_path",
    "resolve", "load_skill", "list_builtin_skills", "format_skills_index", "apply_gate",
    "memory_block", "closing_prompt", "verdict_rethink_prompt", "parse_result_fields",
    "strip_result_block", "identity_for", "check_identity", "save_snapshot", "load_snapshot",
    "render_turn",
]

BUILT_HERE = [
    "VERSION", "bootstrap", "ToolCall", "ToolSpec", "ToolResult", "__version__",
    "DEFAULT_TERMINATORS", "RESERVED_TOOL_NAMES",
]


class TestRegistrationOrder:
    def test_full_order_has_137_names(self):
        assert len(REGISTRATION_ORDER) == 137
        assert len(set(REGISTRATION_ORDER)) == 137

    def test_all_follows_the_registration_order(self):
        positions = [REGISTRATION_ORDER.index(name) for name in _core.__all__]
        assert positions == sorted(positions)
        assert set(BUILT_HERE) <= set(_core.__all__)

    def test_every_name_in_all_is_an_attribute(self):
        for name in _core.__all__:
            assert hasattr(_core, name), name

    def test_all_starts_with_version_and_bootstrap(self):
        assert _core.__all__[:2] == ["VERSION", "bootstrap"]

    def test_constants_run_from_version_to_reserved_tool_names(self):
        start = _core.__all__.index("__version__")
        end = _core.__all__.index("RESERVED_TOOL_NAMES")
        assert _core.__all__[start:end + 1] == REGISTRATION_ORDER[49:87]

    def test_tool_handler_and_test_hooks_stay_out(self):
        assert "ToolHandler" not in _core.__all__
        assert not hasattr(_core, "ToolHandler")
        assert "_testing" not in _core.__all__


class TestModuleEntry:
    def test_module_identity(self):
        assert _core.__name__ == "vostrel._core"
        assert _core.__doc__ == ""
        assert _core.VERSION == "0.1.2" and _core.__version__ == "0.1.2"

    def test_reimport_gives_the_same_module_and_runs_the_body_once(self):
        result = run_python("""
            import importlib, sys
            import vostrel._core as first
            names = list(first.__all__)
            del sys.modules["vostrel._core"]
            again = importlib.import_module("vostrel._core")
            print(again is first, again.__all__ == names)
        """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["True", "True"]

    def test_bootstrap_signature_and_doc(self):
        assert _core.bootstrap.__text_signature__ == "(exceptions, dialect, assets_root)"
        assert _core.bootstrap.__doc__.startswith(
            "Hand the Python-side declarations down, and point the framework at the\n")
        assert _core.bootstrap.__module__ == "vostrel._core"
        assert _core.bootstrap.__self__ is _core

    @pytest.mark.skipif(not sys.platform.startswith("linux") or shutil.which("nm") is None,
                        reason="reads the ELF dynamic symbol table with nm")
    def test_only_the_module_entry_is_exported(self):
        listing = subprocess.run(["nm", "-D", "--defined-only", _core.__file__],
                                 capture_output=True, text=True, check=True).stdout
        assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit__core"]

    def test_second_interpreter_is_refused(self):
        result = run_python("""
            import vostrel
            try:
                import _xxsubinterpreters as interpreters
            except ImportError:
                print("SKIP")
                raise SystemExit
            interp = interpreters.create()
            try:
                interpreters.run_string(interp, "import vostrel._core")
            except interpreters.RunFailedError as error:
                print("REFUSED", error)
            else:
                print("ACCEPTED")
            interpreters.destroy(interp)
            print(vostrel._core.ToolResult("t", "still works"))
        """)
        assert result.returncode == 0, result.stderr
        if result.stdout.startswith("SKIP"):
            pytest.skip("this Python has no sub-interpreter module")
        assert "REFUSED <class 'ImportError'>: vostrel._core does not support sub-interpreters" in (
            result.stdout)
        assert "ToolResult(name='t', content='still works', is_error=False)" in result.stdout


class TestBootstrap:
    def test_returns_none_and_accepts_keywords(self, tmp_path):
        before = _core._testing.assets_root()
        try:
            assert _core.bootstrap(exceptions=exceptions, dialect=_enums.ToolDialect,
                                   assets_root=str(tmp_path)) is None
            assert _core._testing.assets_root() == str(tmp_path)
            _core.bootstrap(exceptions, _enums.ToolDialect, "")
            assert _core._testing.assets_root() == ""
        finally:
            _core.bootstrap(exceptions, _enums.ToolDialect, before)

    def test_package_points_at_its_installed_assets(self):
        expected = pathlib.Path(vostrel.__file__).resolve().parent / "assets"
        assert pathlib.Path(_core._testing.assets_root()) == expected
        assert (expected / "roles" / "participant.md").is_file()

    def test_path_as_assets_root_is_refused(self, tmp_path):
        before = _core._testing.assets_root()
        with pytest.raises(TypeError, match=r"^argument 'assets_root': 'PosixPath' object "
                                            r"cannot be converted to 'PyString'$"):
            _core.bootstrap(exceptions, _enums.ToolDialect, tmp_path)
        assert _core._testing.assets_root() == before

    def test_missing_exception_class_changes_nothing(self):
        class Partial:
            pass

        for name in exceptions.__all__[:-1]:
            setattr(Partial, name, getattr(exceptions, name))
        before = _core._testing.assets_root()
        with pytest.raises(AttributeError, match="ProviderEmptyResponseError"):
            _core.bootstrap(Partial, _enums.ToolDialect, "/elsewhere")
        assert _core._testing.assets_root() == before

    def test_first_classes_and_dialect_stay_registered(self):
        class OtherSessionError(Exception):
            pass

        class Other:
            pass

        for name in exceptions.__all__:
            setattr(Other, name, getattr(exceptions, name))
        Other.SessionError = OtherSessionError
        before = _core._testing.assets_root()
        try:
            _core.bootstrap(Other, lambda name: "other " + name, "/other")
            with pytest.raises(exceptions.SessionError):
                _core._testing.raise_core_error(4, "still the first set")
            assert _core._testing.dialect_to_py("openai") is _enums.ToolDialect.OPENAI
            assert _core._testing.assets_root() == "/other"
        finally:
            _core.bootstrap(exceptions, _enums.ToolDialect, before)

    def test_before_bootstrap_errors_are_panics(self):
        result = run_python("""
            spec.loader.exec_module(core)
            for attempt in (lambda: core._testing.raise_core_error(8, "x"),
                            lambda: core._testing.core_error_from(ValueError("x")),
                            lambda: core._testing.dialect_from("OpenAI"),
                            lambda: core._testing.dialect_to_py("text")):
                try:
                    attempt()
                except Exception as error:
                    print("EXCEPTION", type(error).__name__, error)
                except BaseException as error:
                    print("PANIC", type(error).__name__, type(error).__mro__[1].__name__, error)
            print("DIALECT", core._testing.dialect_from("anthropic"))
        """, unbootstrapped=True)
        assert result.returncode == 0, result.stderr
        lines = result.stdout.splitlines()
        registration = "vostrel.exceptions has not been registered with vostrel._core"
        assert lines == [
            f"PANIC PanicException BaseException {registration}",
            f"PANIC PanicException BaseException {registration}",
            f"PANIC PanicException BaseException {registration}",
            "PANIC PanicException BaseException "
            "vostrel._enums has not been registered with vostrel._core",
            "DIALECT anthropic",
        ]


TEXT_LENGTHS = {
    "SUMMARY_PROMPT": 310, "MEMORY_HEADER": 103, "MEMORY_WRITE_HINT": 113,
    "CONSOLIDATE_PROMPT": 426, "REVISE_UNSUPPORTED": 93, "CONTEXT_HEADER": 89,
    "FORCED_END_NOTE": 67, "ENTRY_SEPARATOR": 1,
}


class TestConstants:
    @pytest.mark.parametrize("name, value", [
        ("DEFAULT_TERMINATORS", ("CONSENSUS_REACHED", "END_SESSION")),
        ("INVALID_CALL", "__invalid_tool_calls__"),
        ("SKILL_TOOL_NAME", "Skill"),
        ("SCHEMA_VERSION", 2),
        ("DEFAULT_MAX_CONTEXT_TOKENS", 256000),
        ("DEFAULT_TIMEOUT_SEC", 60.0),
        ("DEFAULT_REQUEST_TIMEOUT_SEC", 60),
        ("DEFAULT_RETRIES", 2),
        ("DEFAULT_BACKOFF_SEC", 2.0),
        ("DEFAULT_TEMPERATURE", 1.0),
        ("DEFAULT_TOP_P", 1.0),
        ("DEFAULT_CLAUDE_MAX_TOKENS", 4096),
        ("CHARS_PER_TOKEN", 4),
        ("COMPACT_TO_FRACTION", 0.5),
        ("SUMMARY_PREFIX", "Summary of earlier discussion:"),
        ("DEFAULT_ROLE_FILE", "participant.md"),
        ("MEMORY_STALE_AFTER_DAYS", 1),
        ("DEFAULT_KEEP_ENTRIES", 20),
        ("CONSOLIDATED_PREFIX", "Consolidated from earlier notes:"),
        ("DEFAULT_MEMORY_BUDGET", 2200),
        ("ENTRY_SEPARATOR", "\u00a7"),
        ("FOLLOWUP_PROMPT", "Tool results are available above. Continue."),
        ("MAX_INVALID_CALLS", 3),
        ("MAX_REPEATED_FAILURES", 3),
        ("OVERFLOW_RETRY_FRACTION", 0.5),
        ("BUNDLE_DIRS", ("scripts", "references")),
        ("RESERVED_TOOL_NAMES", ("Skill",)),
    ], ids=lambda v: v if isinstance(v, str) and v.isupper() else "")
    def test_value_and_type(self, name, value):
        actual = getattr(_core, name)
        assert actual == value
        assert type(actual) is type(value)

    @pytest.mark.parametrize("name, length", TEXT_LENGTHS.items(), ids=list(TEXT_LENGTHS))
    def test_text_length(self, name, length):
        assert len(getattr(_core, name)) == length

    def test_text_shapes(self):
        assert _core.MEMORY_HEADER.startswith("\n\n## Memory\n")
        assert _core.CONTEXT_HEADER.startswith("\n\n## Context\n")
        assert _core.MEMORY_WRITE_HINT.startswith(" You can add notes")
        assert len(_core.CONSOLIDATE_PROMPT.encode()) == 430
        assert _core.REVISE_UNSUPPORTED[0].islower() and not _core.REVISE_UNSUPPORTED.endswith(".")

    @pytest.mark.parametrize("name, path", [
        ("OPENAI_BASE_URL", "/v1"), ("OPENROUTER_BASE_URL", "/api/v1"), ("CLAUDE_BASE_URL", "/v1"),
    ])
    def test_base_urls(self, name, path):
        url = getattr(_core, name)
        assert url.startswith("https://") and url.endswith(path) and not url.endswith("/")
