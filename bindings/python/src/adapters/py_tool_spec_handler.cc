#include "adapters/py_tool_spec_handler.h"

#include "errors/errors.h"
#include "runtime/lock.h"
#include "runtime/text.h"
#include "types/json.h"

namespace vostrel::py {
namespace {

// The handler's result as text; false with the Python error set.
bool result_text(PyObject* result, std::string& out) {
  if (PyUnicode_Check(result)) return py_text_strict(result, out);
  if (PyList_Check(result) || PyTuple_Check(result)) {
    std::string joined;
    bool first = true;
    bool ok = for_each_item(result, [&joined, &first](PyObject* item) {
      std::string text;
      if (!py_str_lossy(item, text)) return false;
      if (!first) joined += ", ";
      joined += text;
      first = false;
      return true;
    });
    if (!ok) return false;
    out = std::move(joined);
    return true;
  }
  return py_str_lossy(result, out);
}

}  // namespace

Result<std::string> PyToolSpecHandler::call(const JsonObject& arguments, std::string_view actor) {
  CallbackLockGuard lock;
  PyRef dict = PyRef::steal(json_object_to_py(arguments));
  PyRef result;
  if (takes_actor_) {
    PyRef actor_text = PyRef::steal(new_str(actor));
    result = PyRef::steal(
        PyObject_CallFunctionObjArgs(handler_.get(), dict.get(), actor_text.get(), nullptr));
  } else {
    result = PyRef::steal(PyObject_CallFunctionObjArgs(handler_.get(), dict.get(), nullptr));
  }
  std::string text;
  if (!result || !result_text(result.get(), text)) return core_error_from_pending();
  return text;
}

}  // namespace vostrel::py
