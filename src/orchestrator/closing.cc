#include "orchestrator/closing.h"

#include <re2/re2.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "json/reader.h"
#include "orchestrator/numbers.h"
#include "unicode/unicode.h"
#include "pyfmt/pyfmt.h"

namespace vostrel::orchestrator {

namespace {

constexpr std::string_view kClosingBase =
    "The session has ended. Provide a final, neutral summary of the discussion and any "
    "conclusions reached, in 3-5 sentences.";

constexpr std::string_view kRethinkChecklist =
    "That was a draft. Before it is recorded, check it against the transcript you have just "
    "moderated:\n"
    "- Does it represent every participant's final position, or only the loudest?\n"
    "- Did anyone change their mind? A summary that misses a reversal misses the session.\n"
    "- Is anything asserted that nobody actually said?\n\n"
    "Now write the final version. Reply with the summary alone \xE2\x80\x94 not your critique of "
    "the draft, and not both versions. If the draft was already right, say so by repeating it.";

constexpr std::string_view kRethinkFieldsNote =
    " Re-check the JSON block against your revised summary and include it, in the same format, "
    "below the summary.";

// A fenced result block: three backticks, an optional "json" tag, white space
// ending in a line feed, the object text (shortest match), white space ending
// in a line feed, three backticks. White space is the Unicode White_Space set,
// spelled out because RE2's \s is ASCII-only.
#define VOSTREL_WS                                                                          \
  "[\\t\\n\\x0B\\f\\r \\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}" \
  "\\x{205F}\\x{3000}]"
const RE2& result_block_pattern() {
  static const RE2* const pattern =
      new RE2("(?s)```(?:json)?" VOSTREL_WS "*\\n(\\{.*?\\})" VOSTREL_WS "*\\n```");
  return *pattern;
}
#undef VOSTREL_WS

// Optional sign, then digits with an optional fraction, or a fraction alone,
// then an optional exponent; or inf, infinity, nan in any case.
std::optional<double> parse_decimal_double(std::string_view text) {
  std::string_view body = text;
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (unicode::ascii_iequals(body, "inf") || unicode::ascii_iequals(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (unicode::ascii_iequals(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
  std::size_t i = 0;
  const auto digits = [&]() {
    const std::size_t start = i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i;
    return i - start;
  };
  std::size_t mantissa = digits();
  if (i < body.size() && body[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return std::nullopt;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    if (digits() == 0) return std::nullopt;
  }
  if (i != body.size()) return std::nullopt;
  // The grammar is checked; strtod reads exactly what is left (no locale
  // letters can appear here).
  const std::string copy(text);
  return std::strtod(copy.c_str(), nullptr);
}

JsonValue float_value(double d) {
  if (!std::isfinite(d)) return JsonValue();
  return JsonValue(d);
}

JsonValue zero_value(ResultType type) {
  switch (type) {
    case ResultType::kStr: return JsonValue(std::string());
    case ResultType::kInt: return JsonValue(std::int64_t{0});
    case ResultType::kFloat: return JsonValue(0.0);
    case ResultType::kBool: return JsonValue(false);
    case ResultType::kList: return JsonValue::array();
    case ResultType::kDict: return JsonValue::object();
  }
  return JsonValue();
}

JsonValue coerce(const JsonValue& v, ResultType type) {
  switch (type) {
    case ResultType::kStr:
      if (v.is_string()) return v;
      if (v.is_bool()) return JsonValue(v.as_bool() ? "true" : "false");
      return JsonValue(py_json_dumps(v));
    case ResultType::kInt:
      if (v.is_string()) {
        return JsonValue(parse_decimal_i64(unicode::trim(v.as_string())).value_or(0));
      }
      if (v.is_u64()) {
        return JsonValue(static_cast<std::int64_t>(
            std::min<std::uint64_t>(v.as_u64(), std::numeric_limits<std::int64_t>::max())));
      }
      if (v.is_i64()) return v;
      if (v.is_double()) return JsonValue(saturating_i64(v.as_double()));
      return JsonValue(std::int64_t{0});
    case ResultType::kFloat:
      if (v.is_string()) {
        return float_value(parse_decimal_double(unicode::trim(v.as_string())).value_or(0.0));
      }
      if (v.is_number()) return float_value(*v.to_double());
      return JsonValue(0.0);
    case ResultType::kBool:
      if (v.is_string()) {
        const std::string lowered = unicode::ascii_lowercase(unicode::trim(v.as_string()));
        return JsonValue(lowered == "1" || lowered == "yes" || lowered == "true");
      }
      // Python's str() of a number is "1" only for the integer 1.
      if (v.is_u64()) return JsonValue(v.as_u64() == 1);
      if (v.is_bool()) return v;
      return JsonValue(false);
    case ResultType::kList:
      if (v.is_array()) return v;
      return JsonValue(JsonArray{v});
    case ResultType::kDict:
      if (v.is_object()) return v;
      return JsonValue::object();
  }
  return JsonValue();
}

// The object the fields are read from: the first result block's object, else
// the text from the last "{" to the last "}", whichever first reads as an
// object; else empty.
JsonObject result_source(std::string_view reply) {
  // Every block starts with three backticks: the pattern only needs to run
  // from the first of them.
  const std::size_t fence = reply.find("```");
  re2::StringPiece captured;
  if (fence != std::string_view::npos &&
      RE2::PartialMatch(re2::StringPiece(reply.data() + fence, reply.size() - fence),
                        result_block_pattern(), &captured)) {
    Result<JsonValue> parsed = parse_json(std::string_view(captured.data(), captured.size()));
    if (parsed.ok() && parsed->is_object()) return std::move(parsed->as_object());
  }
  const std::size_t open = reply.rfind('{');
  const std::size_t close = reply.rfind('}');
  if (open != std::string_view::npos && close != std::string_view::npos && open < close) {
    Result<JsonValue> parsed = parse_json(reply.substr(open, close - open + 1));
    if (parsed.ok() && parsed->is_object()) return std::move(parsed->as_object());
  }
  return JsonObject();
}

}  // namespace

std::optional<ResultType> result_type_from_name(std::string_view type_name) {
  if (type_name == "str" || type_name == "string") return ResultType::kStr;
  if (type_name == "int" || type_name == "integer") return ResultType::kInt;
  if (type_name == "float" || type_name == "number") return ResultType::kFloat;
  if (type_name == "bool" || type_name == "boolean") return ResultType::kBool;
  if (type_name == "list") return ResultType::kList;
  if (type_name == "dict") return ResultType::kDict;
  return std::nullopt;
}

std::string closing_summary_prompt(const std::vector<harness::ResultField>& fields) {
  std::string out(kClosingBase);
  if (fields.empty()) return out;
  out +=
      "\n\nThen, after the summary, append a fenced JSON block with exactly these fields:\n\n"
      "```json\n{\n";
  for (const harness::ResultField& field : fields) {
    out += "  \"";
    out += field.name;
    out += "\": <";
    out += field.type_name;
    out += ">";
    if (!field.description.empty()) {
      out += "   // ";
      out += field.description;
    }
    out += "\n";
  }
  out += "}\n```";
  return out;
}

std::string closing_rethink_prompt(std::string_view draft, std::size_t field_count) {
  std::string out = "Your draft summary:\n\n";
  out += draft;
  out += "\n\n";
  out += kRethinkChecklist;
  if (field_count > 0) out += kRethinkFieldsNote;
  return out;
}

JsonObject extract_result_fields(std::string_view reply,
                                 const std::vector<harness::ResultField>& fields) {
  JsonObject out;
  if (fields.empty()) return out;
  const JsonObject source = result_source(reply);
  for (const harness::ResultField& field : fields) {
    const ResultType type = result_type_from_name(field.type_name).value_or(ResultType::kStr);
    const JsonValue* found = source.find(field.name);
    out.insert(field.name, found == nullptr || found->is_null() ? zero_value(type)
                                                                : coerce(*found, type));
  }
  return out;
}

std::string strip_result_fence(std::string_view reply) {
  const std::size_t fence = reply.find("```");
  if (fence == std::string_view::npos) return std::string(unicode::trim(reply));
  // One copy of the reply: the text between the blocks is appended as the
  // blocks are found, and the trim happens in place. Blocks are never empty,
  // so every search starts past the last one.
  const re2::StringPiece input(reply.data(), reply.size());
  std::string out;
  out.reserve(reply.size());
  std::size_t kept = 0;
  re2::StringPiece block;
  while (result_block_pattern().Match(input, fence > kept ? fence : kept, input.size(),
                                      RE2::UNANCHORED, &block, 1)) {
    const std::size_t start = static_cast<std::size_t>(block.data() - reply.data());
    out.append(reply, kept, start - kept);
    kept = start + block.size();
  }
  out.append(reply, kept);
  const std::string_view trimmed = unicode::trim(out);
  const std::size_t lead = static_cast<std::size_t>(trimmed.data() - out.data());
  out.resize(lead + trimmed.size());
  out.erase(0, lead);
  return out;
}

}  // namespace vostrel::orchestrator
