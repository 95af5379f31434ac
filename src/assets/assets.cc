#include "assets/assets.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "utils/service_slot.h"
#include "utils/text.h"

#ifndef VOSTREL_DEFAULT_ASSETS_DIR
#define VOSTREL_DEFAULT_ASSETS_DIR "assets"
#endif

namespace vostrel::assets {
namespace fs = std::filesystem;

namespace {

using RootSlot = ServiceSlot<std::optional<fs::path>>;

RootSlot& root_slot() {
  static RootSlot* slot = new RootSlot(std::nullopt);  // never destroyed: lookups may run at exit
  return *slot;
}

std::string file_name_text(const fs::directory_entry& entry) {
  return utf8_lossy(entry.path().filename().native());
}

}  // namespace

void set_assets_root(fs::path root) {
  root_slot().replace(std::move(root));
}

fs::path resolve_assets_root() {
  if (std::optional<fs::path> root = root_slot().get()) return std::move(*root);
  if (const char* env = std::getenv("VOSTREL_ASSETS")) return fs::path(env);
  return fs::path(VOSTREL_DEFAULT_ASSETS_DIR);
}

fs::path builtin_dir(std::string_view kind_dir) { return resolve_assets_root() / kind_dir; }

std::string path_display(const fs::path& path) { return utf8_lossy(path.native()); }

bool is_path_argument(std::string_view argument) {
  return argument.find('/') != std::string_view::npos ||
         argument.find('\\') != std::string_view::npos ||
         (argument.size() >= 3 && argument.ends_with(".md"));
}

bool has_nul(const fs::path& path) { return path.native().find('\0') != std::string::npos; }

bool path_exists(const fs::path& path) {
  if (has_nul(path)) return false;
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<fs::path> asset_candidates(std::string_view name, std::span<const fs::path> search,
                                       const fs::path& builtin) {
  if (!name.empty() && name.front() == '/') return {fs::path(name)};
  std::vector<fs::path> out;
  out.reserve(search.size() + 2);
  out.emplace_back(name);
  for (const fs::path& dir : search) out.push_back(dir / name);
  out.push_back(builtin / name);
  return out;
}

Result<fs::path> resolve_asset_path(std::string_view kind_word, std::string_view name,
                                    std::span<const fs::path> search, const fs::path& builtin) {
  std::vector<fs::path> candidates = asset_candidates(name, search, builtin);
  for (fs::path& candidate : candidates) {
    if (path_exists(candidate)) return std::move(candidate);
  }
  std::string tried;
  for (const fs::path& candidate : candidates) {
    if (!tried.empty()) tried += ", ";
    tried += path_display(candidate);
  }
  std::string message(kind_word);
  message += " file not found: ";
  message += name;
  message += ". Tried: ";
  message += tried;
  message += '.';
  return CoreError::not_found(std::move(message));
}

std::vector<std::string> list_asset_names(const fs::path& directory) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string file = it->path().filename().native();
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot == 0 || file.compare(dot + 1, std::string::npos, "md") != 0)
      continue;
    names.push_back(utf8_lossy(std::string_view(file).substr(0, dot)));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> list_skill_dirs(const fs::path& skills_directory) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(skills_directory, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (path_exists(it->path() / "SKILL.md")) names.push_back(file_name_text(*it));
  }
  return names;
}

std::vector<std::string> list_builtin_roles() { return list_asset_names(builtin_dir(kRolesDir)); }
std::vector<std::string> list_builtin_personas() {
  return list_asset_names(builtin_dir(kPersonasDir));
}
std::vector<std::string> list_builtin_gameplans() {
  return list_asset_names(builtin_dir(kGameplansDir));
}
std::vector<std::string> list_builtin_skills() {
  std::vector<std::string> names = list_skill_dirs(builtin_dir(kSkillsDir));
  std::sort(names.begin(), names.end());
  return names;
}

fs::path absolute_path(std::string_view name) {
  if (!name.empty() && name.front() == '/') return fs::path(name);
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  if (ec) return fs::path(name);
  if (name.empty()) return cwd;
  return cwd / name;
}

}  // namespace vostrel::assets
