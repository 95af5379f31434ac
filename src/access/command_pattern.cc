#include "access/command_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace vostrel {

namespace {

// Limits that stop a pattern written to backtrack for ever (or through all
// memory) long before anyone would notice the wait.
constexpr uint32_t kMatchLimit = 1'000'000;
constexpr uint32_t kDepthLimit = 10'000;
constexpr uint32_t kHeapLimitKiB = 64 * 1024;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

// Never a null pointer, which older PCRE2 releases refuse even for empty text.
PCRE2_SPTR as_pcre(std::string_view text) {
  return reinterpret_cast<PCRE2_SPTR>(text.empty() ? "" : text.data());
}

}  // namespace

struct CommandPattern::Impl {
  std::unique_ptr<pcre2_code, CodeDeleter> code;
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context;
};

CommandPattern::CommandPattern(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CommandPattern::~CommandPattern() = default;

std::shared_ptr<const CommandPattern> CommandPattern::compile(std::string_view pattern) {
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  // Commands are UTF-8 text: match scalars, not bytes, with Unicode classes.
  pcre2_code* code = pcre2_compile(as_pcre(pattern), pattern.size(),
                                   PCRE2_UTF | PCRE2_UCP, &error_code, &error_offset, nullptr);
  if (code == nullptr) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->code.reset(code);
  impl->context.reset(pcre2_match_context_create(nullptr));
  if (impl->context == nullptr) return nullptr;
  pcre2_set_match_limit(impl->context.get(), kMatchLimit);
  pcre2_set_depth_limit(impl->context.get(), kDepthLimit);
  pcre2_set_heap_limit(impl->context.get(), kHeapLimitKiB);
  return std::shared_ptr<const CommandPattern>(new CommandPattern(std::move(impl)));
}

bool CommandPattern::search(std::string_view text) const {
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(impl_->code.get(), nullptr));
  if (data == nullptr) return false;
  const int rc = pcre2_match(impl_->code.get(), as_pcre(text), text.size(), 0, 0,
                             data.get(), impl_->context.get());
  return rc >= 0;
}

}  // namespace vostrel
