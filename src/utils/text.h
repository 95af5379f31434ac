// Small text helpers shared by the readers of configuration files.
#ifndef VOSTREL_UTILS_TEXT_H_
#define VOSTREL_UTILS_TEXT_H_

#include <string>
#include <string_view>

namespace vostrel {

// `bytes` as UTF-8 text: each maximal ill-formed subsequence becomes U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// Every occurrence of `from` in `text` replaced by `to`, scanning left to right;
// a replacement is not searched again. An empty `from` changes nothing.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

}  // namespace vostrel

#endif  // VOSTREL_UTILS_TEXT_H_
