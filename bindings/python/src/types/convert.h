// Conversions of recurring kinds of value across the boundary: paths, lists of
// texts, HTTP headers, the tool dialect and lists of tool specs. Lock held;
// errors are set as Python exceptions and returned unwrapped.
#ifndef VOSTREL_BINDING_TYPES_CONVERT_H_
#define VOSTREL_BINDING_TYPES_CONVERT_H_

#include <Python.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agent_runtime/tool.h"

namespace vostrel::py {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// pathlib.Path(text), importing pathlib on every call.
PyObject* path_to_py(std::string_view text);
// str() of each item of any iterable, by the lossy rule.
bool str_list_from_py(PyObject* object, std::vector<std::string>& out);
// A tuple of str, or None when absent.
PyObject* str_list_to_py_tuple(const std::optional<std::vector<std::string>>& texts);
// Absent or None: no headers; a dict: (key, value) pairs, string values as
// they are and others as compact JSON; else the conversion TypeError.
bool headers_from_py(PyObject* object, HeaderList& out);
// "text", "openai" or "anthropic", from the object's `value` or its str().
bool dialect_from_py(PyObject* object, agent_runtime::ToolDialect& out);
// Absent or None: no list; else each item of the iterable must be a ToolSpec.
bool tool_specs_from_py_opt(PyObject* object,
                            std::optional<std::vector<agent_runtime::ToolSpec>>& out);
// A sequence (not a str) of ToolSpec instances.
bool tool_specs_from_py_seq(PyObject* object, std::vector<agent_runtime::ToolSpec>& out);
// A new list of new ToolSpec instances, each handler wrapped as a ToolHandler.
PyObject* tool_specs_to_py(const std::vector<agent_runtime::ToolSpec>& specs);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_TYPES_CONVERT_H_
