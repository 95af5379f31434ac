// Test hooks: reach the binding machinery from Python where no public class
// or function reaches it yet (raising core errors, converting exceptions back,
// borrows held across a callback). They exist only when the environment
// variable VOSTREL_BINDING_TEST_HOOKS is "1" at import, as the namespace
// `vostrel._core._testing`, outside `__all__`.
#include "testing/test_hooks.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "adapters/py_tool_spec_handler.h"
#include "assets/assets.h"
#include "errors/errors.h"
#include "json/reader.h"
#include "runtime/args.h"
#include "runtime/compare.h"
#include "runtime/entries.h"
#include "runtime/field_hash.h"
#include "runtime/lock.h"
#include "types/convert.h"
#include "types/json.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyCFunction fast(FastFunction function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// --- a class with a borrow flag --------------------------------------------

struct BorrowProbeClass {
  using Value = std::string;
  static constexpr bool kHasFlag = true;
  static ClassDef def;
  static bool equal(const Value& a, const Value& b) { return a == b; }
};

constexpr const char* kProbeNewParameters[] = {"value"};
constexpr ArgumentDescription kProbeNew{"__new__", "BorrowProbe", kProbeNewParameters, 1};

PyObject* probe_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[1] = {};
    if (!match_tuple_dict(kProbeNew, args, kwargs, slots)) return nullptr;
    std::string value;
    if (!extract_text(slots[0], value)) return argument_error("value");
    return into_py_object<BorrowProbeClass>(std::move(value), type);
  });
}

constexpr const char* kCallbackParameters[] = {"callback"};

// Holds an exclusive (mutate) or shared (read) borrow while `callback()` runs.
template <bool kExclusive>
PyObject* probe_hold(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr ArgumentDescription kArguments{kExclusive ? "mutate" : "read", "BorrowProbe",
                                                  kCallbackParameters, 1};
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[1] = {};
    if (!match_fastcall(kArguments, args, nargs, kwnames, slots)) return nullptr;
    auto held = Borrow<BorrowProbeClass, kExclusive>::take(self);
    if (!held) return nullptr;
    return PyObject_CallNoArgs(slots[0]);
  });
}

PyObject* probe_flag(PyObject* self, PyObject*) {
  return call_boundary([self]() -> PyObject* {
    if (!type_check<BorrowProbeClass>(self)) return nullptr;
    return PyLong_FromLongLong(instance_cast<BorrowProbeClass>(self)->flag.load());
  });
}

PyMethodDef kProbeMethods[] = {
    {"mutate", fast(probe_hold<true>), METH_FASTCALL | METH_KEYWORDS,
     "mutate($self, callback)\n--\n\nCalls callback() under an exclusive borrow."},
    {"read", fast(probe_hold<false>), METH_FASTCALL | METH_KEYWORDS,
     "read($self, callback)\n--\n\nCalls callback() under a shared borrow."},
    {"flag", probe_flag, METH_NOARGS, "flag($self)\n--\n\nThe borrow flag."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kProbeGetset[] = {
    {"value", field_getter<BorrowProbeClass, [](const std::string& v) { return new_str(v); }>,
     field_setter<BorrowProbeClass, std::string, extract_text,
                  [](std::string& v, std::string&& text) { v = std::move(text); }>,
     nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const PyType_Slot kProbeSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(probe_new)},
    {Py_tp_richcompare, reinterpret_cast<void*>(richcompare_slot<BorrowProbeClass>)},
};

// --- functions ---------------------------------------------------------------

constexpr const char* kRaiseParameters[] = {"kind", "message", "status", "url", "body", "cause"};
constexpr ArgumentDescription kRaiseArguments{"raise_core_error", nullptr, kRaiseParameters, 1};

// Raises the exception of a core error of kind `kind` (0 to 9).
PyObject* test_raise_core_error(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[6] = {};
    if (!match_fastcall(kRaiseArguments, args, nargs, kwnames, slots)) return nullptr;
    std::uint32_t kind = 0;
    CoreError error;
    if (!extract_u32(slots[0], kind)) return argument_error("kind");
    if (kind >= static_cast<std::uint32_t>(kErrorKindCount)) {
      return raise_text(PyExc_ValueError, "no such error kind");
    }
    error.kind = static_cast<ErrorKind>(kind);
    if (slots[1] != nullptr && !extract_text(slots[1], error.message)) {
      return argument_error("message");
    }
    if (slots[2] != nullptr && !extract_u16(slots[2], error.status)) return argument_error("status");
    if (slots[3] != nullptr && !extract_text(slots[3], error.url)) return argument_error("url");
    if (slots[4] != nullptr && !extract_text(slots[4], error.body)) return argument_error("body");
    if (slots[5] != nullptr && !extract_text(slots[5], error.cause)) return argument_error("cause");
    return raise_core_error(std::move(error));
  });
}

PyObject* core_error_tuple(const CoreError& error) {
  PyRef items[] = {
      PyRef::steal(new_str(error_kind_name(error.kind))), PyRef::steal(new_str(error.message)),
      PyRef::steal(PyLong_FromLong(error.status)),        PyRef::steal(new_str(error.url)),
      PyRef::steal(new_str(error.body)),                  PyRef::steal(new_str(error.cause)),
  };
  return PyTuple_Pack(6, items[0].get(), items[1].get(), items[2].get(), items[3].get(),
                      items[4].get(), items[5].get());
}

// (kind, message, status, url, body, cause) of the core error made from an
// object, or None when the object is not an exception instance.
PyObject* test_core_error_from(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    std::optional<CoreError> error = core_error_from_py_object(object);
    if (!error) Py_RETURN_NONE;
    return core_error_tuple(*error);
  });
}

// The object through py_to_json and back through json_to_py.
PyObject* test_json_round_trip(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    JsonValue value;
    if (!py_to_json(object, value)) return nullptr;
    return json_to_py(value);
  });
}

// The JSON kind py_to_json gives: "null", "bool", "u64", "i64", "double", ...
PyObject* test_json_kind(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    static constexpr const char* kNames[] = {"null", "bool", "u64", "i64",
                                             "double", "string", "array", "object"};
    JsonValue value;
    if (!py_to_json(object, value)) return nullptr;
    return new_str(kNames[static_cast<int>(value.type())]);
  });
}

// JSON text read by the core's reader, then converted to Python.
PyObject* test_json_from_text(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    std::string text;
    if (!extract_text(object, text)) return nullptr;
    return json_result_to_py(parse_json(text));
  });
}

PyObject* test_dialect_from(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    agent_runtime::ToolDialect dialect{};
    if (!dialect_from_py(object, dialect)) return nullptr;
    return new_str(agent_runtime::tool_dialect_name(dialect));
  });
}

// A member of the registered dialect enumeration, as the core hands one out.
PyObject* test_dialect_to_py(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    return PyObject_CallFunctionObjArgs(dialect_enum(), object, nullptr);
  });
}

PyObject* test_headers_from(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    HeaderList headers;
    if (!headers_from_py(object == Py_None ? nullptr : object, headers)) return nullptr;
    PyRef list = PyRef::steal(PyList_New(0));
    for (const auto& [name, value] : headers) {
      PyRef name_text = PyRef::steal(new_str(name));
      PyRef value_text = PyRef::steal(new_str(value));
      PyRef pair = PyRef::steal(PyTuple_Pack(2, name_text.get(), value_text.get()));
      if (!pair || PyList_Append(list.get(), pair.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* test_str_list_from(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    std::vector<std::string> texts;
    if (!str_list_from_py(object, texts)) return nullptr;
    return str_list_to_py_tuple(texts);
  });
}

// The specs of a ToolSpec sequence handed back the way the system hands its
// own specs to Python: every handler wrapped in a ToolHandler.
PyObject* test_tool_specs_through_core(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    std::vector<agent_runtime::ToolSpec> specs;
    if (!tool_specs_from_py_seq(object, specs)) return nullptr;
    return tool_specs_to_py(specs);
  });
}

PyObject* test_tool_specs_opt_count(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    std::optional<std::vector<agent_runtime::ToolSpec>> specs;
    if (!tool_specs_from_py_opt(object, specs)) return nullptr;
    if (!specs) Py_RETURN_NONE;
    return PyLong_FromSize_t(specs->size());
  });
}

constexpr const char* kMatchPositional[] = {"a", "b"};
constexpr KeywordOnly kMatchKeywordOnly[] = {{"c", true}, {"d", false}, {"e", true}};
constexpr ArgumentDescription kMatchArguments{"match", nullptr, kMatchPositional, 1,
                                              kMatchKeywordOnly};

// match(a, b=None, *, c, d=None, e): the filled slots as a dict.
PyObject* test_match(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[5] = {};
    if (!match_fastcall(kMatchArguments, args, nargs, kwnames, slots)) return nullptr;
    static constexpr const char* kNames[] = {"a", "b", "c", "d", "e"};
    PyRef filled = PyRef::steal(PyDict_New());
    for (int i = 0; i < 5; ++i) {
      if (slots[i] != nullptr && PyDict_SetItemString(filled.get(), kNames[i], slots[i]) < 0) {
        return nullptr;
      }
    }
    return filled.release();
  });
}

// The hash of value classes over the given texts.
PyObject* test_field_hash(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  return call_boundary([&]() -> PyObject* {
    if (nargs != 4) return raise_text(PyExc_TypeError, "field_hash() takes 4 texts");
    std::string texts[4];
    for (int i = 0; i < 4; ++i) {
      if (!extract_text(args[i], texts[i])) return nullptr;
    }
    return PyLong_FromSsize_t(field_hash({texts[0], texts[1], texts[2], texts[3]}));
  });
}

// Releases the lock and runs a worker thread that calls `callable()` under
// the callback guard, then drops its reference to `keep` without the lock (so
// the release is queued and applied when this thread takes the lock back).
// Returns (result, the worker's nesting count inside the call).
PyObject* test_call_on_thread(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  return call_boundary([&]() -> PyObject* {
    if (nargs != 2) return raise_text(PyExc_TypeError, "call_on_thread() takes 2 arguments");
    PyRef callable = PyRef::borrow(args[0]);
    PyRef keep = PyRef::borrow(args[1]);
    PyRef result;
    PyRef raised;
    bool held_inside = false;
    {
      LockReleaseGuard release;
      std::thread worker([&] {
        {
          CallbackLockGuard lock;
          held_inside = lock_held();
          result = PyRef::steal(PyObject_CallNoArgs(callable.get()));
          if (!result) raised = take_current_exception();
        }
        keep = PyRef();
      });
      worker.join();
    }
    if (raised) {
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.get())), raised.get());
      return nullptr;
    }
    PyObject* held = held_inside ? Py_True : Py_False;
    return PyTuple_Pack(2, result.get(), held);
  });
}

PyObject* test_assets_root(PyObject*, PyObject*) {
  return call_boundary([]() -> PyObject* {
    return new_str(assets::resolve_assets_root().string());
  });
}

PyObject* test_panic(PyObject*, PyObject* object) {
  return call_boundary([object]() -> PyObject* {
    std::string text;
    if (!extract_text(object, text)) return nullptr;
    panic(text);
  });
}

PyMethodDef kFunctions[] = {
    {"raise_core_error", fast(test_raise_core_error), METH_FASTCALL | METH_KEYWORDS,
     "raise_core_error(kind, message=..., status=0, url=..., body=..., cause=...)\n--\n\n"},
    {"core_error_from", test_core_error_from, METH_O, nullptr},
    {"match", fast(test_match), METH_FASTCALL | METH_KEYWORDS,
     "match(a, b=None, *, c, d=None, e)\n--\n\n"},
    {"json_round_trip", test_json_round_trip, METH_O, nullptr},
    {"json_kind", test_json_kind, METH_O, nullptr},
    {"json_from_text", test_json_from_text, METH_O, nullptr},
    {"dialect_from", test_dialect_from, METH_O, nullptr},
    {"dialect_to_py", test_dialect_to_py, METH_O, nullptr},
    {"headers_from", test_headers_from, METH_O, nullptr},
    {"str_list_from", test_str_list_from, METH_O, nullptr},
    {"tool_specs_through_core", test_tool_specs_through_core, METH_O, nullptr},
    {"tool_specs_opt_count", test_tool_specs_opt_count, METH_O, nullptr},
    {"assets_root", test_assets_root, METH_NOARGS, nullptr},
    {"call_on_thread", fast(test_call_on_thread), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"field_hash", fast(test_field_hash), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"panic", test_panic, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

ClassDef BorrowProbeClass::def{
    "BorrowProbe", "A text value behind a borrow flag, for tests.", "(value)", false,
    instance_size<BorrowProbeClass>(), dealloc_instance<BorrowProbeClass>, kProbeSlots,
    kProbeMethods, kProbeGetset,
};

int add_test_hooks(PyObject* module) {
  const char* enabled = std::getenv("VOSTREL_BINDING_TEST_HOOKS");
  if (enabled == nullptr || std::strcmp(enabled, "1") != 0) return 0;
  PyRef hooks = PyRef::steal(PyModule_New("vostrel._core._testing"));
  if (!hooks) return -1;
  if (PyModule_AddFunctions(hooks.get(), kFunctions) < 0) return -1;
  PyTypeObject* probe = type_object_fallible(BorrowProbeClass::def);
  if (probe == nullptr) return -1;
  if (PyObject_SetAttrString(hooks.get(), "BorrowProbe", reinterpret_cast<PyObject*>(probe)) < 0) {
    return -1;
  }
  return PyObject_SetAttrString(module, "_testing", hooks.get());
}

}  // namespace vostrel::py
