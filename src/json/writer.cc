#include "json/writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "json/scan.h"

namespace vostrel {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The two lower-case hex digits of every byte value.
constexpr auto kHexPairs = [] {
  std::array<char, 512> t{};
  for (std::size_t b = 0; b < 256; ++b) {
    t[2 * b] = kHex[b >> 4];
    t[2 * b + 1] = kHex[b & 0xF];
  }
  return t;
}();

// Writes the six characters of "\u" and four lower-case hex digits at `at`.
inline void put_u_escape(char* at, unsigned unit) {
  at[0] = '\\';
  at[1] = 'u';
  std::memcpy(at + 2, &kHexPairs[2 * ((unit >> 8) & 0xFF)], 2);
  std::memcpy(at + 4, &kHexPairs[2 * (unit & 0xFF)], 2);
}

// Output gathered in a fixed buffer and appended to the string in large
// pieces: a document is mostly small pieces (punctuation, keys, escapes,
// numbers), and appending each to a std::string costs more than writing it.
// Long runs of plain text bypass the buffer.
class Sink {
 public:
  explicit Sink(std::string& out) : out_(out) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink() { flush(); }

  void put(char c) {
    if (used_ == kCapacity) flush();
    buf_[used_++] = c;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  void put(const char* p, std::size_t n) {
    if (n > kCapacity - used_) {
      flush();
      if (n >= kCapacity / 2) {
        out_.append(p, n);
        return;
      }
    }
    std::memcpy(buf_ + used_, p, n);
    used_ += n;
  }
  void put_repeated(char c, std::size_t n) {
    while (n > 0) {
      if (used_ == kCapacity) flush();
      const std::size_t k = std::min(n, kCapacity - used_);
      std::memset(buf_ + used_, c, k);
      used_ += k;
      n -= k;
    }
  }
  // Room for `n` (at most kMaxReserve) bytes; `commit` says how many were written.
  char* reserve(std::size_t n) {
    if (kCapacity - used_ < n) flush();
    return buf_ + used_;
  }
  void commit(std::size_t n) { used_ += n; }

  void flush() {
    out_.append(buf_, used_);
    used_ = 0;
  }

  static constexpr std::size_t kMaxReserve = 512;

 private:
  static constexpr std::size_t kCapacity = 16384;
  std::string& out_;
  std::size_t used_ = 0;
  char buf_[kCapacity];
};

// The longest double text: the plain layout of the smallest subnormal
// ("0." and 323 zeros and one digit) plus a sign.
constexpr std::size_t kMaxDoubleText = 330;
static_assert(kMaxDoubleText <= Sink::kMaxReserve);

// Writes `value` (finite) at `at`; returns the number of bytes written.
std::size_t format_double(char* at, double value, DoubleLayout layout) {
  char* w = at;
  // Shortest round-trip digits in scientific form, e.g. "-1.5e-07".
  char sci[40];
  auto r = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    *w++ = '-';
    ++p;
  }
  char digits[20];
  int n = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  ++p;  // 'e'
  const bool negative_exponent = *p == '-';
  ++p;  // sign
  int k = 0;
  std::from_chars(p, r.ptr, k);
  if (negative_exponent) k = -k;

  if (layout == DoubleLayout::kJson && (k < -5 || k > 15)) {
    *w++ = digits[0];
    if (n > 1) {
      *w++ = '.';
      std::memcpy(w, digits + 1, static_cast<std::size_t>(n - 1));
      w += n - 1;
    }
    *w++ = 'e';
    *w++ = k < 0 ? '-' : '+';
    w = std::to_chars(w, w + 8, k < 0 ? -k : k).ptr;
    return static_cast<std::size_t>(w - at);
  }
  if (k >= 0) {
    if (n <= k + 1) {
      std::memcpy(w, digits, static_cast<std::size_t>(n));
      w += n;
      std::memset(w, '0', static_cast<std::size_t>(k + 1 - n));
      w += k + 1 - n;
      *w++ = '.';
      *w++ = '0';
    } else {
      std::memcpy(w, digits, static_cast<std::size_t>(k + 1));
      w += k + 1;
      *w++ = '.';
      std::memcpy(w, digits + k + 1, static_cast<std::size_t>(n - k - 1));
      w += n - k - 1;
    }
  } else {
    *w++ = '0';
    *w++ = '.';
    std::memset(w, '0', static_cast<std::size_t>(-k - 1));
    w += -k - 1;
    std::memcpy(w, digits, static_cast<std::size_t>(n));
    w += n;
  }
  return static_cast<std::size_t>(w - at);
}

void put_double(Sink& sink, double value, DoubleLayout layout) {
  if (!std::isfinite(value)) {
    sink.put("null");
    return;
  }
  char* at = sink.reserve(kMaxDoubleText);
  sink.commit(format_double(at, value, layout));
}

template <typename I>
void put_integer(Sink& sink, I value) {
  char* at = sink.reserve(24);
  sink.commit(static_cast<std::size_t>(std::to_chars(at, at + 24, value).ptr - at));
}

// Escapes a stretch of mostly non-ASCII text at p as \\u escapes (surrogate
// pairs above U+FFFF, U+FFFD for malformed bytes), copying the plain ASCII
// bytes between; returns where the caller's search takes over again.
const char* put_escaped_non_ascii(Sink& sink, const char* p, const char* end) {
  int ascii = 0;
  while (p < end) {
    const auto b0 = static_cast<unsigned char>(p[0]);
    if (b0 < 0x80) {
      if (!json_scan::is_plain_ascii(b0) || ++ascii > json_scan::kAsciiStride) return p;
      *sink.reserve(1) = static_cast<char>(b0);
      sink.commit(1);
      ++p;
      continue;
    }
    ascii = 0;
    char32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF && end - p >= 2 &&
        (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80) {
      // Two-byte characters (Latin, Greek, Cyrillic ...) need no automaton.
      cp = ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(p[1]) & 0x3Fu);
      p += 2;
    } else if (b0 >= 0xE1 && b0 <= 0xEF && b0 != 0xED && end - p >= 3 &&
               (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80 &&
               (static_cast<unsigned char>(p[2]) & 0xC0) == 0x80) {
      // Three-byte characters outside the narrow forms (CJK, punctuation ...).
      cp = ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(p[1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(p[2]) & 0x3Fu);
      p += 3;
    } else {
      const json_scan::Decoded d = json_scan::decode_utf8(p, end);
      cp = d.cp;
      p += d.len;
    }
    char* at = sink.reserve(12);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put_u_escape(at, 0xD800 + static_cast<unsigned>(cp >> 10));
      put_u_escape(at + 6, 0xDC00 + static_cast<unsigned>(cp & 0x3FF));
      sink.commit(12);
    } else {
      put_u_escape(at, static_cast<unsigned>(cp));
      sink.commit(6);
    }
  }
  return p;
}

// Writes `s` as a JSON string. Malformed UTF-8 (which no JsonValue read by
// the reader holds, but text from elsewhere might) is written as U+FFFD, so
// the output always reads back.
void put_string(Sink& sink, std::string_view s, bool ascii_only) {
  sink.put('"');
  const char* p = s.data();
  const char* const end = p + s.size();
  const char* run = p;  // start of the bytes not yet written
  for (;;) {
    if (ascii_only) {
      p = json_scan::find_string_special(p, end, true);
    } else {
      const json_scan::Stop stop = json_scan::scan_string(p, end);
      p = stop.at;
      if (stop.bad_len > 0) {
        sink.put(run, static_cast<std::size_t>(p - run));
        sink.put("\xEF\xBF\xBD");
        p += stop.bad_len;
        run = p;
        continue;
      }
    }
    if (p == end) break;
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80) {
      sink.put(run, static_cast<std::size_t>(p - run));
      p = put_escaped_non_ascii(sink, p, end);
      run = p;
      continue;
    }
    sink.put(run, static_cast<std::size_t>(p - run));
    switch (c) {
      case '"': sink.put("\\\""); break;
      case '\\': sink.put("\\\\"); break;
      case '\b': sink.put("\\b"); break;
      case '\t': sink.put("\\t"); break;
      case '\n': sink.put("\\n"); break;
      case '\f': sink.put("\\f"); break;
      case '\r': sink.put("\\r"); break;
      default: {
        char* at = sink.reserve(6);
        put_u_escape(at, c);
        sink.commit(6);
        break;
      }
    }
    ++p;
    run = p;
  }
  sink.put(run, static_cast<std::size_t>(end - run));
  sink.put('"');
}

class Writer {
 public:
  Writer(std::string& out, const JsonStyle& style) : sink_(out), style_(style) {}

  void value(const JsonValue& v, int depth) {
    switch (v.type()) {
      case JsonType::kNull: sink_.put("null"); break;
      case JsonType::kBool: sink_.put(v.as_bool() ? std::string_view("true") : "false"); break;
      case JsonType::kUInt: put_integer(sink_, v.as_u64()); break;
      case JsonType::kInt: put_integer(sink_, v.as_i64()); break;
      case JsonType::kDouble: put_double(sink_, v.as_double(), DoubleLayout::kJson); break;
      case JsonType::kString: put_string(sink_, v.as_string(), style_.ascii_only); break;
      case JsonType::kArray: {
        const auto& a = v.as_array();
        sink_.put('[');
        if (a.empty()) {
          sink_.put(']');
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
        sink_.put('{');
        if (o.empty()) {
          sink_.put('}');
          break;
        }
        bool first = true;
        for (const auto& [key, item] : o) {
          separator(first, depth + 1);
          put_string(sink_, key, style_.ascii_only);
          sink_.put(style_.key_separator);
          value(item, depth + 1);
        }
        close(depth, '}');
        break;
      }
    }
  }

 private:
  void separator(bool& first, int depth) {
    if (!first) sink_.put(style_.item_separator);
    first = false;
    if (style_.indent > 0) {
      sink_.put('\n');
      sink_.put_repeated(' ', static_cast<std::size_t>(depth * style_.indent));
    }
  }

  void close(int depth, char c) {
    if (style_.indent > 0) {
      sink_.put('\n');
      sink_.put_repeated(' ', static_cast<std::size_t>(depth * style_.indent));
    }
    sink_.put(c);
  }

  Sink sink_;
  const JsonStyle& style_;
};

// A cheap lower bound of a value's written size (its texts and one byte per
// node), so a document's buffer is sized once instead of growing step by step.
std::size_t size_hint(const JsonValue& v) {
  switch (v.type()) {
    case JsonType::kString: return v.as_string().size() + 2;
    case JsonType::kArray: {
      std::size_t n = 2;
      for (const auto& item : v.as_array()) n += size_hint(item) + 1;
      return n;
    }
    case JsonType::kObject: {
      std::size_t n = 2;
      for (const auto& [key, item] : v.as_object()) n += key.size() + 4 + size_hint(item);
      return n;
    }
    default: return 4;
  }
}

std::string write_document(const JsonValue& value, const JsonStyle& style) {
  std::string out;
  out.reserve(64);
  write_json(out, value, style);
  return out;
}

}  // namespace

void write_json_string(std::string& out, std::string_view text, bool ascii_only) {
  out.reserve(out.size() + text.size() + 2);
  Sink sink(out);
  put_string(sink, text, ascii_only);
}

void append_double(std::string& out, double value, DoubleLayout layout) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buf[kMaxDoubleText];
  out.append(buf, format_double(buf, value, layout));
}

void write_json(std::string& out, const JsonValue& value, const JsonStyle& style) {
  if (value.is_array() || value.is_object()) out.reserve(out.size() + size_hint(value));
  Writer(out, style).value(value, 0);
}

std::string to_json(const JsonValue& value) { return write_document(value, kCompactStyle); }

std::string to_json_pretty(const JsonValue& value) { return write_document(value, kPrettyStyle); }

}  // namespace vostrel
