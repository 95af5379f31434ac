#include "json/writer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "json/scan.h"

namespace vostrel {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Writes the six characters of "\\u" and four lower-case hex digits at `at`.
void put_u_escape(char* at, unsigned unit) {
  at[0] = '\\';
  at[1] = 'u';
  at[2] = kHex[(unit >> 12) & 0xF];
  at[3] = kHex[(unit >> 8) & 0xF];
  at[4] = kHex[(unit >> 4) & 0xF];
  at[5] = kHex[unit & 0xF];
}

void append_u_escape(std::string& out, unsigned unit) {
  char buf[6];
  put_u_escape(buf, unit);
  out.append(buf, 6);
}

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input decodes as U+FFFD.
char32_t decode_utf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int len = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  char32_t cp = b0 < 0xE0 ? (b0 & 0x1F) : b0 < 0xF0 ? (b0 & 0x0F) : (b0 & 0x07);
  if (b0 < 0xC2 || b0 > 0xF4 || i + static_cast<std::size_t>(len) > s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += static_cast<std::size_t>(len);
  return cp;
}

class Writer {
 public:
  Writer(std::string& out, const JsonStyle& style) : out_(out), style_(style) {}

  void value(const JsonValue& v, int depth) {
    switch (v.type()) {
      case JsonType::kNull: out_ += "null"; break;
      case JsonType::kBool: out_ += v.as_bool() ? "true" : "false"; break;
      case JsonType::kUInt: append_integer(v.as_u64()); break;
      case JsonType::kInt: append_integer(v.as_i64()); break;
      case JsonType::kDouble: append_double(out_, v.as_double(), DoubleLayout::kJson); break;
      case JsonType::kString: write_json_string(out_, v.as_string(), style_.ascii_only); break;
      case JsonType::kArray: {
        const auto& a = v.as_array();
        out_ += '[';
        if (a.empty()) {
          out_ += ']';
          break;
        }
        bool first = true;
        for (const auto& item : a) {
          separator(first, depth + 1);
          value(item, depth + 1);
        }
        close(depth, ']');
        break;
      }
      case JsonType::kObject: {
        const auto& o = v.as_object();
        out_ += '{';
        if (o.empty()) {
          out_ += '}';
          break;
        }
        bool first = true;
        for (const auto& [key, item] : o) {
          separator(first, depth + 1);
          write_json_string(out_, key, style_.ascii_only);
          out_ += style_.key_separator;
          value(item, depth + 1);
        }
        close(depth, '}');
        break;
      }
    }
  }

 private:
  template <typename I>
  void append_integer(I i) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, i);
    out_.append(buf, r.ptr);
  }

  void separator(bool& first, int depth) {
    if (!first) out_ += style_.item_separator;
    first = false;
    if (style_.indent > 0) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(depth * style_.indent), ' ');
    }
  }

  void close(int depth, char c) {
    if (style_.indent > 0) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(depth * style_.indent), ' ');
    }
    out_ += c;
  }

  std::string& out_;
  const JsonStyle& style_;
};

}  // namespace

void write_json_string(std::string& out, std::string_view s, bool ascii_only) {
  out.reserve(out.size() + s.size() + 2);
  out += '"';
  const char* const data = s.data();
  const char* const end = data + s.size();
  const char* p = data;
  for (;;) {
    const char* special = json_scan::find_string_special(p, end, ascii_only);
    out.append(p, static_cast<std::size_t>(special - p));
    p = special;
    if (p == end) break;
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80) {
      // A run of non-ASCII characters, escaped into a local buffer that is
      // flushed in large pieces.
      char buf[256];
      std::size_t used = 0;
      std::size_t i = static_cast<std::size_t>(p - data);
      while (i < s.size() && static_cast<unsigned char>(data[i]) >= 0x80) {
        if (used > sizeof buf - 12) {
          out.append(buf, used);
          used = 0;
        }
        char32_t cp = decode_utf8(s, i);
        if (cp >= 0x10000) {
          cp -= 0x10000;
          put_u_escape(buf + used, 0xD800 + static_cast<unsigned>(cp >> 10));
          put_u_escape(buf + used + 6, 0xDC00 + static_cast<unsigned>(cp & 0x3FF));
          used += 12;
        } else {
          put_u_escape(buf + used, static_cast<unsigned>(cp));
          used += 6;
        }
      }
      out.append(buf, used);
      p = data + i;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default: append_u_escape(out, c); break;
    }
    ++p;
  }
  out += '"';
}

void append_double(std::string& out, double value, DoubleLayout layout) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // Shortest round-trip digits in scientific form, e.g. "-1.5e-07".
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  const std::size_t e = sci.find('e');
  std::string digits;
  digits.reserve(20);
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits += c;
  }
  const int k = std::atoi(std::string(sci.substr(e + 1)).c_str());
  const int n = static_cast<int>(digits.size());

  if (layout == DoubleLayout::kJson && (k < -5 || k > 15)) {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out.append(digits, 1, std::string::npos);
    }
    out += k < 0 ? "e-" : "e+";
    out += std::to_string(k < 0 ? -k : k);
    return;
  }
  if (k >= 0) {
    if (n <= k + 1) {
      out += digits;
      out.append(static_cast<std::size_t>(k + 1 - n), '0');
      out += ".0";
    } else {
      out.append(digits, 0, static_cast<std::size_t>(k + 1));
      out += '.';
      out.append(digits, static_cast<std::size_t>(k + 1), std::string::npos);
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-k - 1), '0');
    out += digits;
  }
}

void write_json(std::string& out, const JsonValue& value, const JsonStyle& style) {
  Writer(out, style).value(value, 0);
}

std::string to_json(const JsonValue& value) {
  std::string out;
  out.reserve(64);
  write_json(out, value, kCompactStyle);
  return out;
}

std::string to_json_pretty(const JsonValue& value) {
  std::string out;
  out.reserve(64);
  write_json(out, value, kPrettyStyle);
  return out;
}

}  // namespace vostrel
