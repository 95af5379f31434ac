#include "json/reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "json/scan.h"

namespace vostrel {

std::string JsonParseError::text() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

namespace {

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, char32_t cp) {
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

// A recursive-descent reader over the bytes of the text. `index_` is the next
// unread byte. Errors are positioned either at the last byte read ("error") or
// at the byte about to be read ("peek error"), which is where a reader that
// looked at that byte stopped.
class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  bool parse(JsonValue& out, JsonParseError& err) {
    err_ = &err;
    if (!value(out)) return false;
    if (skip_ws()) return peek_fail("trailing characters");
    return true;
  }

 private:
  bool at_end() const { return index_ >= s_.size(); }
  unsigned char cur() const { return static_cast<unsigned char>(s_[index_]); }

  // Skips white space; true when a byte follows.
  bool skip_ws() {
    while (index_ < s_.size()) {
      const char c = s_[index_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return true;
      ++index_;
    }
    return false;
  }

  bool fail_at(std::size_t i, const char* message) {
    std::size_t line_start = 0;
    std::size_t line = 1;
    for (std::size_t k = 0; k < i; ++k) {
      if (s_[k] == '\n') {
        ++line;
        line_start = k + 1;
      }
    }
    err_->message = message;
    err_->line = line;
    err_->column = i - line_start;
    return false;
  }
  bool fail(const char* message) { return fail_at(index_, message); }
  bool peek_fail(const char* message) {
    return fail_at(index_ + 1 < s_.size() ? index_ + 1 : s_.size(), message);
  }

  bool value(JsonValue& out) {
    if (!skip_ws()) return peek_fail("EOF while parsing a value");
    switch (cur()) {
      case 'n':
        ++index_;
        if (!ident("ull")) return false;
        out = JsonValue();
        return true;
      case 't':
        ++index_;
        if (!ident("rue")) return false;
        out = JsonValue(true);
        return true;
      case 'f':
        ++index_;
        if (!ident("alse")) return false;
        out = JsonValue(false);
        return true;
      case '-':
        ++index_;
        return number(false, out);
      case '"': {
        ++index_;
        std::string s;
        if (!string(s)) return false;
        out = JsonValue(std::move(s));
        return true;
      }
      case '[':
        return array(out);
      case '{':
        return object(out);
      default:
        if (is_digit(cur())) return number(true, out);
        return peek_fail("expected value");
    }
  }

  bool ident(const char* rest) {
    for (const char* p = rest; *p; ++p) {
      if (at_end()) return fail("EOF while parsing a value");
      const char c = s_[index_++];
      if (c != *p) return fail("expected ident");
    }
    return true;
  }

  bool enter() {
    if (--depth_ == 0) return peek_fail("recursion limit exceeded");
    return true;
  }

  bool array(JsonValue& out) {
    if (!enter()) return false;
    ++index_;  // '['
    // Items gather on a stack shared by every level and move into an array
    // of the right size at the end, instead of regrowing each array.
    const std::size_t base = item_stack_.size();
    bool first = true;
    for (;;) {
      if (!skip_ws()) return peek_fail("EOF while parsing a list");
      if (cur() == ']') break;
      if (!first) {
        if (cur() != ',') return peek_fail("expected `,` or `]`");
        ++index_;
        if (!skip_ws()) return peek_fail("EOF while parsing a value");
        if (cur() == ']') return peek_fail("trailing comma");
      }
      first = false;
      JsonValue item;
      if (!value(item)) return false;
      item_stack_.push_back(std::move(item));
    }
    ++index_;  // ']'
    ++depth_;
    const auto from = item_stack_.begin() + static_cast<std::ptrdiff_t>(base);
    out = JsonValue(
        JsonArray(std::make_move_iterator(from), std::make_move_iterator(item_stack_.end())));
    item_stack_.erase(from, item_stack_.end());
    return true;
  }

  bool object(JsonValue& out) {
    if (!enter()) return false;
    ++index_;  // '{'
    const std::size_t base = member_stack_.size();  // as for arrays
    bool first = true;
    for (;;) {
      if (!skip_ws()) return peek_fail("EOF while parsing an object");
      if (cur() == '}') break;
      if (!first) {
        if (cur() != ',') return peek_fail("expected `,` or `}`");
        ++index_;
        if (!skip_ws()) return peek_fail("EOF while parsing a value");
      }
      first = false;
      if (cur() == '}') return peek_fail("trailing comma");
      if (cur() != '"') return peek_fail("key must be a string");
      ++index_;
      std::string key;
      if (!string(key)) return false;
      if (!skip_ws()) return peek_fail("EOF while parsing an object");
      if (cur() != ':') return peek_fail("expected `:`");
      ++index_;
      JsonValue item;
      if (!value(item)) return false;
      member_stack_.emplace_back(std::move(key), std::move(item));
    }
    ++index_;  // '}'
    ++depth_;
    JsonObject members;
    members.reserve(member_stack_.size() - base);
    const auto from = member_stack_.begin() + static_cast<std::ptrdiff_t>(base);
    // A repeated key keeps its first position and takes the last value.
    for (auto it = from; it != member_stack_.end(); ++it) {
      members.insert(std::move(it->first), std::move(it->second));
    }
    member_stack_.erase(from, member_stack_.end());
    out = JsonValue(std::move(members));
    return true;
  }

  // After the opening quote; leaves index_ after the closing one. Runs of
  // plain text are found by `scan_string` and copied in one piece. A
  // malformed UTF-8 sequence is remembered and reported once the string has
  // closed, at the byte after the closing quote, so errors that come earlier
  // in the text (a control character, a bad escape) are reported first.
  bool string(std::string& out) {
    // A local cursor: the compiler cannot keep the member in a register
    // across reads through a char pointer, which may alias it.
    const char* const data = s_.data();
    const std::size_t n = s_.size();
    std::size_t i = index_;
    std::size_t run = i;
    const std::size_t index_start = i;
    bool bad_utf8 = false;
    for (;;) {
      const json_scan::Stop stop = json_scan::scan_string(data + i, data + n);
      i = static_cast<std::size_t>(stop.at - data);
      if (stop.bad_len > 0) {
        bad_utf8 = true;
        i += stop.bad_len;
        continue;
      }
      if (i >= n) {
        out.append(data + run, i - run);
        index_ = i;
        return fail("EOF while parsing a string");
      }
      const auto c = static_cast<unsigned char>(data[i]);
      if (c == '"') {
        out.append(data + run, i - run);
        index_ = i + 1;
        if (bad_utf8) return fail("invalid unicode code point");
        return true;
      } else if (c == '\\') {
        if (run == index_start) reserve_for_escapes(out, i - run, i);
        out.append(data + run, i - run);
        index_ = i + 1;
        if (!escape(out)) return false;
        i = index_;
        run = i;
      } else if (c < 0x20) {
        index_ = i + 1;
        return fail("control character (\\u0000-\\u001F) found while parsing a string");
      } else {
        ++i;
      }
    }
  }

  // At the first escape of a string: room for the whole of it, so that the
  // pieces between escapes do not regrow the text again and again. The
  // decoded text is never longer than the raw one. `done` bytes are read,
  // the escape is at `at`; the closing quote is the first one not escaped.
  void reserve_for_escapes(std::string& out, std::size_t done, std::size_t at) const {
    const char* const data = s_.data();
    const std::size_t n = s_.size();
    std::size_t from = at + 1;
    while (from < n) {
      const void* hit = std::memchr(data + from, '"', n - from);
      if (hit == nullptr) return;  // never closes: the error comes soon enough
      const std::size_t q = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
      std::size_t backslashes = 0;
      while (q - backslashes > at && data[q - backslashes - 1] == '\\') ++backslashes;
      if (backslashes % 2 == 0) {
        out.reserve(out.size() + done + (q - at));
        return;
      }
      from = q + 1;
    }
  }

  bool escape(std::string& out) {
    if (at_end()) return fail("EOF while parsing a string");
    const char c = s_[index_++];
    switch (c) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': return unicode_escape(out);
      default: return fail("invalid escape");
    }
  }

  bool hex4(unsigned& out) {
    if (index_ + 4 > s_.size()) {
      index_ = s_.size();
      return fail("EOF while parsing a string");
    }
    unsigned n = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
      const int h = hex_value(static_cast<unsigned char>(s_[index_ + static_cast<std::size_t>(k)]));
      if (h < 0) ok = false;
      n = (n << 4) | static_cast<unsigned>(h < 0 ? 0 : h);
    }
    index_ += 4;
    if (!ok) return fail("invalid escape");
    out = n;
    return true;
  }

  bool unicode_escape(std::string& out) {
    unsigned n;
    if (!hex4(n)) return false;
    if (n >= 0xDC00 && n <= 0xDFFF) return fail("lone leading surrogate in hex escape");
    if (n < 0xD800 || n > 0xDBFF) {
      append_utf8(out, n);
      return true;
    }
    // A leading surrogate must be followed by an escaped trailing one.
    if (at_end()) return fail("EOF while parsing a string");
    if (s_[index_] != '\\') {
      ++index_;
      return fail("unexpected end of hex escape");
    }
    ++index_;
    if (at_end()) return fail("EOF while parsing a string");
    if (s_[index_] != 'u') {
      ++index_;
      return fail("unexpected end of hex escape");
    }
    ++index_;
    unsigned n2;
    if (!hex4(n2)) return false;
    if (n2 < 0xDC00 || n2 > 0xDFFF) return fail("lone leading surrogate in hex escape");
    append_utf8(out, 0x10000 + (((n - 0xD800) << 10) | (n2 - 0xDC00)));
    return true;
  }

  // After an optional '-'. Non-negative integers become u64, negative ones
  // i64; fractions, exponents, -0 and integers beyond 64 bits become doubles.
  bool number(bool positive, JsonValue& out) {
    const std::size_t start = positive ? index_ : index_ - 1;
    if (at_end()) return fail("EOF while parsing a value");
    const auto first = s_[index_++];
    bool is_float = false;
    if (first == '0') {
      if (!at_end() && is_digit(cur())) return peek_fail("invalid number");
    } else if (is_digit(static_cast<unsigned char>(first))) {
      while (!at_end() && is_digit(cur())) ++index_;
    } else {
      return fail("invalid number");
    }
    if (!at_end() && cur() == '.') {
      is_float = true;
      ++index_;
      const std::size_t digits = index_;
      while (!at_end() && is_digit(cur())) ++index_;
      if (index_ == digits) {
        return at_end() ? peek_fail("EOF while parsing a value") : peek_fail("invalid number");
      }
    }
    if (!at_end() && (cur() == 'e' || cur() == 'E')) {
      is_float = true;
      const std::size_t mantissa_end = index_;
      ++index_;
      bool negative_exponent = false;
      if (!at_end() && (cur() == '+' || cur() == '-')) negative_exponent = s_[index_++] == '-';
      if (at_end()) return fail("EOF while parsing a value");
      const auto first_digit = static_cast<unsigned char>(s_[index_++]);
      if (!is_digit(first_digit)) return fail("invalid number");
      // The exponent is gathered in 32 bits. The digit that takes it past
      // that ends the read there when the value can only be infinite; a zero
      // value or a negative exponent reads on (the value is then zero).
      std::int32_t exponent = first_digit - '0';
      while (!at_end() && is_digit(cur())) {
        const int digit = cur() - '0';
        ++index_;
        if (exponent > kMaxExponent / 10 ||
            (exponent == kMaxExponent / 10 && digit > kMaxExponent % 10)) {
          if (!negative_exponent && has_nonzero_digit(start, mantissa_end)) {
            return fail("number out of range");
          }
          while (!at_end() && is_digit(cur())) ++index_;
          break;
        }
        exponent = exponent * 10 + digit;
      }
    }
    const char* b = s_.data() + start;
    const char* e = s_.data() + index_;
    if (!is_float) {
      if (positive) {
        std::uint64_t u;
        if (auto r = std::from_chars(b, e, u); r.ec == std::errc() && r.ptr == e) {
          out = JsonValue(u);
          return true;
        }
      } else {
        std::int64_t i;
        if (auto r = std::from_chars(b, e, i); r.ec == std::errc() && r.ptr == e && i != 0) {
          out = JsonValue(i);
          return true;
        }
      }
    }
    double d = 0;
    auto r = std::from_chars(b, e, d);
    if (r.ec == std::errc::result_out_of_range) {
      // Overflow is an error; underflow reads as zero of the right sign.
      if (is_overflow(b, e)) return fail("number out of range");
      d = positive ? 0.0 : -0.0;
    } else if (std::isinf(d)) {
      return fail("number out of range");
    }
    out = JsonValue(d);
    return true;
  }

  static constexpr std::int32_t kMaxExponent = std::numeric_limits<std::int32_t>::max();

  // Whether the digits in [from, to) of the text include one from 1 to 9.
  bool has_nonzero_digit(std::size_t from, std::size_t to) const {
    for (std::size_t k = from; k < to; ++k) {
      if (s_[k] >= '1' && s_[k] <= '9') return true;
    }
    return false;
  }

  // Whether a number that from_chars refused as out of range is too large
  // (rather than too small): its decimal exponent is positive.
  static bool is_overflow(const char* b, const char* e) {
    // Decide from the magnitude: a value >= 1 that is out of range overflowed.
    std::string_view t(b, static_cast<std::size_t>(e - b));
    if (!t.empty() && t.front() == '-') t.remove_prefix(1);
    const std::size_t epos = t.find_first_of("eE");
    std::string_view mant = t.substr(0, epos);
    long long exp = 0;
    if (epos != std::string_view::npos) {
      std::string_view ex = t.substr(epos + 1);
      bool neg = false;
      if (!ex.empty() && (ex.front() == '+' || ex.front() == '-')) {
        neg = ex.front() == '-';
        ex.remove_prefix(1);
      }
      for (char c : ex) {
        exp = exp * 10 + (c - '0');
        if (exp > 1000000) break;
      }
      if (neg) exp = -exp;
    }
    // Position of the first significant digit relative to the decimal point.
    const std::size_t dot = mant.find('.');
    const std::string_view int_part = mant.substr(0, dot);
    long long lead = -1;
    std::size_t nz = int_part.find_first_not_of('0');
    if (nz != std::string_view::npos) {
      lead = static_cast<long long>(int_part.size() - nz) - 1;
    } else if (dot != std::string_view::npos) {
      const std::string_view frac = mant.substr(dot + 1);
      std::size_t fz = frac.find_first_not_of('0');
      lead = fz == std::string_view::npos ? -1000000 : -static_cast<long long>(fz) - 1;
    }
    return lead + exp > 0;
  }

  std::string_view s_;
  std::size_t index_ = 0;
  std::vector<JsonValue> item_stack_;
  std::vector<JsonMember> member_stack_;
  int depth_ = kJsonMaxDepth + 1;
  JsonParseError* err_ = nullptr;
};

}  // namespace

bool parse_json(std::string_view text, JsonValue& out, JsonParseError& error) {
  return Reader(text).parse(out, error);
}

Result<JsonValue> parse_json(std::string_view text) {
  JsonValue v;
  JsonParseError err;
  if (!parse_json(text, v, err)) return CoreError::value(err.text());
  return v;
}

}  // namespace vostrel
