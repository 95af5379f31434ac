#include "utils/text.h"

#include <cstdint>

namespace vostrel {
namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the bytes
// there are ill-formed; `max_valid` receives the length of the longest prefix
// that could still start a valid sequence (at least 1).
std::size_t utf8_sequence(std::string_view text, std::size_t i, char32_t& cp, std::size_t& max_valid) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c0 = b(i);
  max_valid = 1;
  if (c0 < 0x80) {
    cp = c0;
    return 1;
  }
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c0 >= 0xC2 && c0 <= 0xDF) {
    len = 2;
    cp = c0 & 0x1F;
  } else if (c0 >= 0xE0 && c0 <= 0xEF) {
    len = 3;
    cp = c0 & 0x0F;
    if (c0 == 0xE0) lo = 0xA0;
    if (c0 == 0xED) hi = 0x9F;
  } else if (c0 >= 0xF0 && c0 <= 0xF4) {
    len = 4;
    cp = c0 & 0x07;
    if (c0 == 0xF0) lo = 0x90;
    if (c0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= text.size()) return 0;
    const unsigned char ck = b(i + k);
    const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
    if (ck < l || ck > h) return 0;
    cp = (cp << 6) | (ck & 0x3F);
    max_valid = k + 1;
  }
  return len;
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    char32_t cp;
    std::size_t max_valid;
    const std::size_t n = utf8_sequence(bytes, i, cp, max_valid);
    if (n != 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out.append("\xEF\xBF\xBD");
      i += max_valid;
    }
  }
  return out;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace vostrel
