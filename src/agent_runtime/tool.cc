#include "agent_runtime/tool.h"

#include <array>

namespace vostrel::agent_runtime {

namespace {
constexpr std::array<std::string_view, 3> kDialectNames = {"text", "openai", "anthropic"};
}  // namespace

std::string_view tool_dialect_name(ToolDialect dialect) {
  return kDialectNames[static_cast<std::size_t>(dialect)];
}

std::optional<ToolDialect> tool_dialect_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kDialectNames.size(); ++i) {
    if (kDialectNames[i] == name) return static_cast<ToolDialect>(i);
  }
  return std::nullopt;
}

}  // namespace vostrel::agent_runtime
