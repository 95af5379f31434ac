// Reading asset files as text.
#ifndef VOSTREL_ASSETS_READ_TEXT_H_
#define VOSTREL_ASSETS_READ_TEXT_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "utils/result.h"

namespace vostrel::assets {

// The whole file as UTF-8 text. Any failure, invalid UTF-8 included, is an Io
// error "{source}: {reason}" with the system's error text.
Result<std::string> read_utf8_file(const std::filesystem::path& path, std::string_view source);

// The same failure as a bare reason ("No such file or directory", ...), for
// callers that word their own message.
Result<std::string> read_utf8_file_reason(const std::filesystem::path& path);

// The file name without its last extension (a name whose only dot leads stays
// whole), invalid UTF-8 replaced.
std::string file_stem_text(const std::filesystem::path& path);

// Whether `text` is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

}  // namespace vostrel::assets

#endif  // VOSTREL_ASSETS_READ_TEXT_H_
