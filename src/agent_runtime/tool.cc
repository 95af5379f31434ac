#include "agent_runtime/tool.h"

#include <iterator>

namespace vostrel::agent_runtime {

std::string_view tool_dialect_name(ToolDialect dialect) {
  return kToolDialectNames[static_cast<std::size_t>(dialect)];
}

std::optional<ToolDialect> tool_dialect_from_name(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kToolDialectNames); ++i) {
    if (kToolDialectNames[i] == name) return static_cast<ToolDialect>(i);
  }
  return std::nullopt;
}

}  // namespace vostrel::agent_runtime
