#include "access/text_util.h"

#include <clocale>
#include <cstdio>
#include <cwctype>
#include <locale.h>

namespace vostrel::text {

int decode_utf8(std::string_view s, std::size_t pos, std::size_t& len) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  len = 1;
  if (b0 < 0x80) return b0;
  int need;
  int cp;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return -1;
  }
  for (int i = 1; i <= need; ++i) {
    if (pos + i >= s.size()) return -1;
    const unsigned char b = byte(pos + i);
    const bool ok = i == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return -1;
    cp = (cp << 6) | (b & 0x3F);
    len = i + 1;
  }
  return cp;
}

bool is_unicode_space(int cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
    case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

std::string_view trim_unicode(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t len;
    const int cp = decode_utf8(s, begin, len);
    if (cp < 0 || !is_unicode_space(cp)) break;
    begin += len;
  }
  std::size_t end = s.size();
  while (end > begin) {
    // Step back to the start of the last scalar (at most four bytes).
    std::size_t start = end - 1;
    while (start > begin && end - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
      --start;
    std::size_t len;
    const int cp = decode_utf8(s, start, len);
    if (cp < 0 || start + len != end || !is_unicode_space(cp)) break;
    end = start;
  }
  return s.substr(begin, end - begin);
}

namespace {

void append_utf8(std::string& out, int cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The C library's Unicode case table (simple mappings), independent of the
// process's own locale.
locale_t unicode_ctype() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

bool is_cased_letter(int cp) {
  locale_t loc = unicode_ctype();
  if (loc == nullptr) return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
  return static_cast<int>(towlower_l(static_cast<wint_t>(cp), loc)) != cp ||
         static_cast<int>(towupper_l(static_cast<wint_t>(cp), loc)) != cp;
}

bool is_case_ignorable(int cp) {
  return cp == '\'' || cp == '.' || cp == ':' || cp == '^' || cp == '`' || cp == 0xAD ||
         cp == 0x2019 || (cp >= 0x300 && cp <= 0x36F);
}

}  // namespace

std::string to_lower_unicode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  locale_t loc = unicode_ctype();
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len;
    const int cp = decode_utf8(s, i, len);
    if (cp < 0) {
      out.append(s.substr(i, len));
    } else if (cp < 0x80) {
      out += static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp);
    } else if (cp == 0x130) {
      // The one unconditional lower-case mapping to two scalars.
      out += "i\xCC\x87";
    } else if (cp == 0x3A3) {
      // Capital sigma is final (ς) after a cased letter and not before one,
      // looking past case-ignorable marks on both sides.
      bool after_cased = false;
      for (std::size_t j = 0; j < i;) {
        std::size_t l;
        const int c = decode_utf8(s, j, l);
        if (!is_case_ignorable(c)) after_cased = c >= 0 && is_cased_letter(c);
        j += l;
      }
      bool before_cased = false;
      for (std::size_t j = i + len; j < s.size();) {
        std::size_t l;
        const int c = decode_utf8(s, j, l);
        if (!is_case_ignorable(c)) {
          before_cased = c >= 0 && is_cased_letter(c);
          break;
        }
        j += l;
      }
      append_utf8(out, after_cased && !before_cased ? 0x3C2 : 0x3C3);
    } else {
      append_utf8(out, loc != nullptr ? static_cast<int>(towlower_l(static_cast<wint_t>(cp), loc)) : cp);
    }
    i += len;
  }
  return out;
}

bool is_utf8(std::string_view bytes) {
  for (std::size_t i = 0, len = 0; i < bytes.size(); i += len)
    if (decode_utf8(bytes, i, len) < 0) return false;
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t run = 0;  // start of the current well-formed run
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    if (decode_utf8(bytes, i, len) >= 0) {
      i += len;
      continue;
    }
    out.append(bytes.substr(run, i - run));
    out += "\xEF\xBF\xBD";
    i += len;
    run = i;
  }
  out.append(bytes.substr(run));
  return out;
}

std::string escape_terminal_controls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  char buf[16];
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len;
    const int cp = decode_utf8(s, i, len);
    if (cp < 0) {
      for (std::size_t k = 0; k < len; ++k) {
        std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(s[i + k]));
        out += buf;
      }
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      std::snprintf(buf, sizeof buf, "\\x%02x", cp);
      out += buf;
    } else if ((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
               cp == 0x200F || cp == 0x061C) {
      std::snprintf(buf, sizeof buf, "\\u%04x", cp);
      out += buf;
    } else {
      out.append(s.substr(i, len));
    }
    i += len;
  }
  return out;
}

}  // namespace vostrel::text
