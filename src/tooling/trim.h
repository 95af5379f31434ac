// Trimming of Unicode white space (the White_Space property) for the tool-call
// readers. Kept local to this module until a shared Unicode helper exists.
#ifndef VOSTREL_TOOLING_TRIM_H_
#define VOSTREL_TOOLING_TRIM_H_

#include <string_view>

namespace vostrel::tooling {

// `text` without White_Space characters at either end (U+0009..U+000D, U+0020,
// U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F,
// U+3000). Bytes that are not valid UTF-8 are never white space. The result
// views `text`.
std::string_view trim_white_space(std::string_view text);

}  // namespace vostrel::tooling

#endif  // VOSTREL_TOOLING_TRIM_H_
