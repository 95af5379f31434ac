#include "funcs/constants.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "runtime/boundary.h"
#include "runtime/module_add.h"
#include "runtime/ref.h"
#include "runtime/text.h"

namespace vostrel::py {
namespace {

using Texts = std::span<const std::string_view>;

constexpr std::string_view kDefaultTerminators[] = {"CONSENSUS_REACHED", "END_SESSION"};
constexpr std::string_view kBundleDirs[] = {"scripts", "references"};
constexpr std::string_view kReservedToolNames[] = {"Skill"};

struct Constant {
  const char* name;
  std::variant<std::string_view, std::int64_t, double, Texts> value;
};

// Published for Python code; nothing in the module reads them back, so
// rebinding one changes no behaviour.
const Constant kConstants[] = {
    {"DEFAULT_TERMINATORS", Texts(kDefaultTerminators)},
    {"INVALID_CALL", std::string_view("__invalid_tool_calls__")},
    {"SKILL_TOOL_NAME", std::string_view("Skill")},
    {"SCHEMA_VERSION", std::int64_t{2}},
    {"DEFAULT_MAX_CONTEXT_TOKENS", std::int64_t{256000}},
    {"DEFAULT_TIMEOUT_SEC", 60.0},
    {"DEFAULT_REQUEST_TIMEOUT_SEC", std::int64_t{60}},
    {"DEFAULT_RETRIES", std::int64_t{2}},
    {"DEFAULT_BACKOFF_SEC", 2.0},
    {"DEFAULT_TEMPERATURE", 1.0},
    {"DEFAULT_TOP_P", 1.0},
    {"DEFAULT_CLAUDE_MAX_TOKENS", std::int64_t{4096}},
    {"OPENAI_BASE_URL", std::string_view("https://api.openai.com/v1")},
    {"OPENROUTER_BASE_URL", std::string_view("https://openrouter.ai/api/v1")},
    {"CLAUDE_BASE_URL", std::string_view("https://api.anthropic.com/v1")},
    {"CHARS_PER_TOKEN", std::int64_t{4}},
    {"COMPACT_TO_FRACTION", 0.5},
    {"SUMMARY_PREFIX", std::string_view("Summary of earlier discussion:")},
    {"SUMMARY_PROMPT",
     std::string_view(
         "The discussion below is being dropped from the working context to stay within a token "
         "budget. Write a compact summary that preserves what later turns will need: the "
         "positions each speaker took, the reasons they gave, what was agreed, and what is still "
         "open. Attribute positions by name. Write only the summary.")},
    {"DEFAULT_ROLE_FILE", std::string_view("participant.md")},
    {"MEMORY_HEADER",
     std::string_view("\n\n## Memory\nNotes the participants of this session have written down, "
                      "quoted between the markers below.")},
    {"MEMORY_WRITE_HINT",
     std::string_view(" You can add notes with the `write_memory` tool, or by including lines "
                      "starting with `@MEMORY:` in your response.")},
    {"MEMORY_STALE_AFTER_DAYS", std::int64_t{1}},
    {"DEFAULT_KEEP_ENTRIES", std::int64_t{20}},
    {"CONSOLIDATED_PREFIX", std::string_view("Consolidated from earlier notes:")},
    {"CONSOLIDATE_PROMPT",
     std::string_view(
         "The notes below are one body of a session's memory, and they have grown past what is "
         "worth carrying in a prompt. Rewrite them as a single compact set of standing facts: "
         "keep what a later session would need in order to act correctly \u2014 decisions taken, "
         "constraints, names, figures, and what is still open \u2014 and drop what only described "
         "the moment it was written. Attribute a fact to whoever established it. Write only the "
         "notes.")},
    {"DEFAULT_MEMORY_BUDGET", std::int64_t{2200}},
    {"ENTRY_SEPARATOR", std::string_view("\u00a7")},
    {"REVISE_UNSUPPORTED",
     std::string_view("this session's memory keeps notes as they were written; an entry cannot "
                      "be revised or removed")},
    {"CONTEXT_HEADER",
     std::string_view("\n\n## Context\nStanding information about this session, supplied by the "
                      "program running it.")},
    {"FORCED_END_NOTE",
     std::string_view("Orchestrator output unparseable after retries. Forcing END_SESSION.")},
    {"FOLLOWUP_PROMPT", std::string_view("Tool results are available above. Continue.")},
    {"MAX_INVALID_CALLS", std::int64_t{3}},
    {"MAX_REPEATED_FAILURES", std::int64_t{3}},
    {"OVERFLOW_RETRY_FRACTION", 0.5},
    {"BUNDLE_DIRS", Texts(kBundleDirs)},
    {"RESERVED_TOOL_NAMES", Texts(kReservedToolNames)},
};

// The module functions added after the constants and SessionSnapshot, in
// their fixed order. Each later function takes its place here with one line:
// parse_memory_markers, keyword_in_text, parse_orchestrator_call,
// parse_session_end, retry, parse_tool_calls, format_tools_prompt,
// to_openai_tool, to_anthropic_tool, tool_schemas, parse_openai_tool_calls,
// parse_anthropic_tool_calls, render_assistant_turn, render_tool_result,
// validate_arguments, ensure_strict, estimate_tokens, estimate_turns, compact,
// summary_request, is_context_overflow, memory_freshness, context_block,
// parse_harness, validate_harness, load_gameplan, list_builtin_gameplans,
// load_role, list_builtin_roles, resolve_role_path, load_persona,
// format_persona_for_prompt, list_builtin_personas, resolve_persona_path,
// resolve, load_skill, list_builtin_skills, format_skills_index, apply_gate,
// memory_block, closing_prompt, verdict_rethink_prompt, parse_result_fields,
// strip_result_block, identity_for, check_identity, save_snapshot,
// load_snapshot, render_turn.
PyMethodDef* const kModuleFunctions[] = {
    nullptr,  // keeps the array non-empty until the first function lands
};

PyObject* must(PyObject* object) {
  if (object != nullptr) return object;
  PyErr_Print();
  panic("could not create a module constant");
}

PyObject* constant_value(const Constant& constant) {
  struct Maker {
    PyObject* operator()(std::string_view text) const { return new_str(text); }
    PyObject* operator()(std::int64_t number) const { return must(PyLong_FromLongLong(number)); }
    PyObject* operator()(double number) const { return must(PyFloat_FromDouble(number)); }
    PyObject* operator()(Texts texts) const {
      PyRef tuple = PyRef::steal(must(PyTuple_New(static_cast<Py_ssize_t>(texts.size()))));
      Py_ssize_t i = 0;
      for (std::string_view text : texts) PyTuple_SetItem(tuple.get(), i++, new_str(text));
      return tuple.release();
    }
  };
  return std::visit(Maker{}, constant.value);
}

}  // namespace

int add_module_constants(PyObject* module) {
  PyRef version = PyRef::steal(new_str("0.1.2"));
  if (module_add(module, "__version__", version.get()) < 0) return -1;
  for (const Constant& constant : kConstants) {
    PyRef value = PyRef::steal(constant_value(constant));
    if (module_add(module, constant.name, value.get()) < 0) return -1;
  }
  // SessionSnapshot is added here, once it exists.
  for (PyMethodDef* function : kModuleFunctions) {
    if (function != nullptr && module_add_function(module, function) < 0) return -1;
  }
  return 0;
}

}  // namespace vostrel::py
