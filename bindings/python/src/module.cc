// The extension module vostrel._core: its entry, its body and bootstrap.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "assets/assets.h"
#include "errors/errors.h"
#include "funcs/constants.h"
#include "runtime/args.h"
#include "runtime/boundary.h"
#include "runtime/classes.h"
#include "runtime/module_add.h"
#include "runtime/ref.h"
#include "runtime/text.h"
#include "services/python_services.h"
#include "testing/test_hooks.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

// --- bootstrap -------------------------------------------------------------

constexpr const char* kBootstrapParameters[] = {"exceptions", "dialect", "assets_root"};
constexpr ArgumentDescription kBootstrapArguments{"bootstrap", nullptr, kBootstrapParameters, 3};

// The package's exception classes, read from `exceptions` in this order.
constexpr const char* kExceptionNames[] = {
    "SessionError",        "GameplanLoadError",    "AccessDeniedError",
    "ProviderError",       "ProviderHTTPError",    "ProviderNetworkError",
    "ProviderEmptyResponseError",
};

PyObject* bootstrap(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[3] = {};
    if (!match_fastcall(kBootstrapArguments, args, nargs, kwnames, slots)) return nullptr;
    std::string root;
    if (!extract_text(slots[2], root)) return argument_error("assets_root");

    // All seven are read before anything is stored, so a missing one changes
    // nothing.
    PyRef read[7];
    for (int i = 0; i < 7; ++i) {
      read[i] = PyRef::steal(PyObject_GetAttrString(slots[0], kExceptionNames[i]));
      if (!read[i]) return nullptr;
    }
    offer_exception_classes(ExceptionClasses{read[0].release(), read[1].release(),
                                             read[2].release(), read[3].release(),
                                             read[4].release(), read[5].release(),
                                             read[6].release()});
    offer_dialect_enum(PyRef::borrow(slots[1]).release());
    assets::set_assets_root(std::filesystem::path(std::move(root)));
    install_python_services();
    Py_RETURN_NONE;
  });
}

PyMethodDef kBootstrapDef = {
    "bootstrap", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(bootstrap)),
    METH_FASTCALL | METH_KEYWORDS,
    "bootstrap(exceptions, dialect, assets_root)\n--\n\n"
    "Hand the Python-side declarations down, and point the framework at the\n"
    "assets that ship beside them.\n\n"
    "Called once by `vostrel/__init__.py`, which is the only place that knows\n"
    "where the package was installed."};

// --- module body -------------------------------------------------------------

// The functions the body adds, in their fixed order; the three after bootstrap
// take their places here when they land: prompt_on_console, http_post_json,
// _convert_messages_for_claude.
PyMethodDef* const kBodyFunctions[] = {
    &kBootstrapDef,
};

// The classes the body adds, in their fixed order. Each later class takes its
// place with one line: ProviderResponse, Message, Turn, Agent, Memory,
// FileMemory, SummarizingMemory, CuratedMemory, SessionMemory, PersonaConfig,
// RoleConfig, SkillConfig, OrchestratorSpec, ParticipantSpec, AgentsSpec,
// PhaseSpec, LoopSpec, ResultField, HarnessSpec, Permitted, GameplanConfig,
// ProviderCore, ConsoleChannel, FileChannel, LogChannel, MultiChannel,
// AccessRequest, AccessManager, SkillActivation, SkillRegistry, Conversation,
// ToolDispatcher, PromptAssembler, AgentRunner, LoopState, OrchestratorLoop,
// Session, SessionResult, ToolContext, SessionRun, RunControl.
ClassDef* const kBodyClasses[] = {
    &ToolCallClass::def,
    &ToolSpecClass::def,
    &ToolResultClass::def,
};

int module_body(PyObject* module) {
  PyRef version = PyRef::steal(new_str("0.1.2"));
  if (module_add(module, "VERSION", version.get()) < 0) return -1;
  for (PyMethodDef* function : kBodyFunctions) {
    if (module_add_function(module, function) < 0) return -1;
  }
  for (ClassDef* def : kBodyClasses) {
    if (add_class(module, *def) < 0) return -1;
  }
  if (add_module_constants(module) < 0) return -1;
  return add_test_hooks(module);
}

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT, "_core", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The interpreter that first imported the module; the module keeps process-wide
// state (type objects, cells), so no other interpreter may use it.
std::atomic<std::int64_t> g_interpreter_id{-1};
std::atomic<PyObject*> g_module{nullptr};

PyObject* module_entry() {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) {
    if (!PyErr_Occurred()) {
      raise_text(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  std::int64_t expected = -1;
  if (!g_interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
    return raise_text(PyExc_ImportError,
                      "vostrel._core does not support sub-interpreters: it keeps process-wide "
                      "state (its classes, the registered exceptions and services), so only the "
                      "first interpreter that imported it may use it; see the vostrel "
                      "documentation on embedding for why");
  }
  if (PyObject* cached = g_module.load(std::memory_order_acquire)) {
    Py_INCREF(cached);
    return cached;
  }
  PyRef module = PyRef::steal(PyModule_Create2(&kModuleDef, PYTHON_ABI_VERSION));
  if (!module) return nullptr;
  if (module_body(module.get()) < 0) return nullptr;
  // The cell keeps one reference for the life of the process.
  g_module.store(PyRef(module).release(), std::memory_order_release);
  return module.release();
}

}  // namespace
}  // namespace vostrel::py

PyMODINIT_FUNC PyInit__core(void) {
  return vostrel::py::call_boundary([] { return vostrel::py::module_entry(); });
}
