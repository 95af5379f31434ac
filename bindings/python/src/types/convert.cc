#include "types/convert.h"

#include "errors/errors.h"
#include "json/writer.h"
#include "runtime/args.h"
#include "runtime/boundary.h"
#include "runtime/ref.h"
#include "runtime/text.h"
#include "types/json.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

bool append_tool_spec(PyObject* item, std::vector<agent_runtime::ToolSpec>& out) {
  auto spec = borrow_ref<ToolSpecClass>(item);
  if (!spec) return false;
  out.push_back((*spec)->spec);
  return true;
}

bool tool_specs_from_iterable(PyObject* object, std::vector<agent_runtime::ToolSpec>& out) {
  std::vector<agent_runtime::ToolSpec> specs;
  if (!for_each_item(object, [&specs](PyObject* item) { return append_tool_spec(item, specs); })) {
    return false;
  }
  out = std::move(specs);
  return true;
}

}  // namespace

PyObject* path_to_py(std::string_view text) {
  PyRef module = PyRef::steal(PyImport_ImportModule("pathlib"));
  if (!module) return nullptr;
  PyRef path_class = PyRef::steal(PyObject_GetAttrString(module.get(), "Path"));
  if (!path_class) return nullptr;
  PyRef argument = PyRef::steal(new_str(text));
  return PyObject_CallFunctionObjArgs(path_class.get(), argument.get(), nullptr);
}

bool str_list_from_py(PyObject* object, std::vector<std::string>& out) {
  std::vector<std::string> texts;
  bool ok = for_each_item(object, [&texts](PyObject* item) {
    return py_str_lossy(item, texts.emplace_back());
  });
  if (!ok) return false;
  out = std::move(texts);
  return true;
}

PyObject* str_list_to_py_tuple(const std::optional<std::vector<std::string>>& texts) {
  if (!texts) Py_RETURN_NONE;
  // Owned until filled, so a failure to make one of the items releases it.
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(texts->size())));
  if (!tuple) {
    PyErr_Clear();
    panic("failed to create a Python tuple");
  }
  for (std::size_t i = 0; i < texts->size(); ++i) {
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), new_str((*texts)[i]));
  }
  return tuple.release();
}

bool headers_from_py(PyObject* object, HeaderList& out) {
  out.clear();
  if (object == nullptr || object == Py_None) return true;
  if (!PyDict_Check(object)) {
    raise_conversion_error(object, kDictKind);
    return false;
  }
  JsonObject headers;
  if (!py_dict_to_json(object, headers)) return false;
  for (const auto& [name, value] : headers) {
    const std::string* text = value.get_string();
    out.emplace_back(name, text != nullptr ? *text : to_json(value));
  }
  return true;
}

bool dialect_from_py(PyObject* object, agent_runtime::ToolDialect& out) {
  std::string text;
  PyRef value = PyRef::steal(PyObject_GetAttrString(object, "value"));
  if (value) {
    if (!py_str_lossy(value.get(), text)) return false;
  } else {
    PyErr_Clear();
    if (!py_str_lossy(object, text)) return false;
  }
  std::optional<agent_runtime::ToolDialect> dialect = agent_runtime::tool_dialect_from_name(text);
  if (!dialect) {
    raise_core_error(CoreError::value("Unknown tool dialect " + text));
    return false;
  }
  out = *dialect;
  return true;
}

bool tool_specs_from_py_opt(PyObject* object,
                            std::optional<std::vector<agent_runtime::ToolSpec>>& out) {
  if (object == nullptr || object == Py_None) {
    out.reset();
    return true;
  }
  std::vector<agent_runtime::ToolSpec> specs;
  if (!tool_specs_from_iterable(object, specs)) return false;
  out = std::move(specs);
  return true;
}

bool tool_specs_from_py_seq(PyObject* object, std::vector<agent_runtime::ToolSpec>& out) {
  if (!check_sequence_not_str(object)) return false;
  return tool_specs_from_iterable(object, out);
}

PyObject* tool_specs_to_py(const std::vector<agent_runtime::ToolSpec>& specs) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(specs.size())));
  if (!list) {
    PyErr_Clear();
    panic("failed to create a Python list");
  }
  for (std::size_t i = 0; i < specs.size(); ++i) {
    PyObject* item = tool_spec_to_py(specs[i]);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace vostrel::py
