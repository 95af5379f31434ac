// Where the built-in assets live, and how roles, personas and the other asset
// kinds are found by name or path. The assets root sits in a process-wide slot
// that bootstrap fills; every lookup reads it afresh.
#ifndef VOSTREL_ASSETS_ASSETS_H_
#define VOSTREL_ASSETS_ASSETS_H_

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "utils/result.h"

namespace vostrel::assets {

// Directories of the asset kinds under the root.
inline constexpr std::string_view kRolesDir = "roles";
inline constexpr std::string_view kPersonasDir = "personas";
inline constexpr std::string_view kGameplansDir = "gameplans";
inline constexpr std::string_view kSkillsDir = "skills";

// Replaces the root that every later lookup uses (bootstrap's third argument).
// Any thread may call it.
void set_assets_root(std::filesystem::path root);

// The root in force: the value bootstrap stored, else the VOSTREL_ASSETS
// environment variable (an empty value is an empty path), else the folder
// fixed at build time. Never cached, never checked for existence.
std::filesystem::path resolve_assets_root();

// The directory of one kind under the root in force ("roles", "skills", ...).
std::filesystem::path builtin_dir(std::string_view kind_dir);

// The display form of a path: its text with invalid UTF-8 replaced by U+FFFD.
std::string path_display(const std::filesystem::path& path);

// The paths `resolve_asset_path` tries, in order: an absolute name alone;
// otherwise the name itself, each search directory joined with it, then the
// built-in directory joined with it. The name is used unaltered.
std::vector<std::filesystem::path> asset_candidates(std::string_view name,
                                                    std::span<const std::filesystem::path> search,
                                                    const std::filesystem::path& builtin);

// The first candidate the file system can report on (links followed), or a
// NotFound error "{kind} file not found: {name}. Tried: {candidates}.".
Result<std::filesystem::path> resolve_asset_path(std::string_view kind_word, std::string_view name,
                                                 std::span<const std::filesystem::path> search,
                                                 const std::filesystem::path& builtin);

// The names (without ".md") of the `*.md` entries of `directory`, in byte
// order. An unreadable directory or entry contributes nothing.
std::vector<std::string> list_asset_names(const std::filesystem::path& directory);

// The names of the subdirectories of `skills_directory` that hold a SKILL.md,
// in listing order. Never fails.
std::vector<std::string> list_skill_dirs(const std::filesystem::path& skills_directory);

// The built-in names of each kind under the root in force, sorted.
std::vector<std::string> list_builtin_roles();
std::vector<std::string> list_builtin_personas();
std::vector<std::string> list_builtin_gameplans();
std::vector<std::string> list_builtin_skills();

// An absolute `name` unchanged; otherwise the current directory joined with it
// (the name unchanged when the current directory cannot be determined).
std::filesystem::path absolute_path(std::string_view name);

// Whether a gameplan or skill argument names a path rather than a built-in
// name: it holds a slash or backslash, or is three characters or more ending in
// ".md".
bool is_path_argument(std::string_view argument);

// Whether the file system can report on `path`, following links; errors count
// as "no", and so does a path holding a NUL byte (the system calls would end it
// there and report on another file).
bool path_exists(const std::filesystem::path& path);

// Whether `path` holds a NUL byte, which no file name can.
bool has_nul(const std::filesystem::path& path);

}  // namespace vostrel::assets

#endif  // VOSTREL_ASSETS_ASSETS_H_
