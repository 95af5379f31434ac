// The YAML-to-JSON loader: libyaml turns the text into events, everything from
// the events to the JsonValue is ours.
#include <yaml.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <strings.h>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pyfmt/pyfmt.h"
#include "re2/re2.h"
#include "yaml/yaml.h"

namespace vostrel::yaml {
namespace {

constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

enum class EventKind : std::uint8_t {
  kStreamStart,
  kStreamEnd,
  kDocumentStart,
  kDocumentEnd,
  kAlias,
  kScalar,
  kSequenceStart,
  kSequenceEnd,
  kMappingStart,
  kMappingEnd,
};

// One parser event with its anchor numbered: definitions count 1, 2, 3 ... in
// stream order, an alias carries the number of the latest definition of its name.
struct Event {
  EventKind kind;
  bool plain = false;      // scalar of plain style
  bool tagged = false;     // scalar with an explicit tag
  std::uint32_t anchor = 0;
  std::string tag;         // full tag when tagged
  std::string text;        // scalar text
};

std::string_view event_debug_name(EventKind kind) {
  switch (kind) {
    case EventKind::kStreamStart: return "StreamStart";
    case EventKind::kStreamEnd: return "StreamEnd";
    case EventKind::kDocumentStart: return "DocumentStart";
    case EventKind::kDocumentEnd: return "DocumentEnd";
    case EventKind::kAlias: return "Alias";
    case EventKind::kScalar: return "Scalar";
    case EventKind::kSequenceStart: return "SequenceStart";
    case EventKind::kSequenceEnd: return "SequenceEnd";
    case EventKind::kMappingStart: return "MappingStart";
    case EventKind::kMappingEnd: return "MappingEnd";
  }
  return "Unknown";
}

struct ParserDeleter {
  void operator()(yaml_parser_t* p) const {
    yaml_parser_delete(p);
    delete p;
  }
};
struct EventGuard {
  yaml_event_t event;
  bool live = false;
  ~EventGuard() {
    if (live) yaml_event_delete(&event);
  }
};

std::string position_text(std::string_view what, std::size_t byte, std::size_t line,
                          std::size_t column) {
  std::string out(what);
  out += " at byte ";
  out += std::to_string(byte);
  out += " line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

// Line and column (from 1) of a byte offset, for failures libyaml reports by
// offset only (bad encodings).
std::pair<std::size_t, std::size_t> line_column_of(std::string_view text, std::size_t byte) {
  byte = std::min(byte, text.size());
  std::size_t line = 1, start = 0;
  for (std::size_t i = 0; i < byte; ++i) {
    if (text[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  return {line, byte - start + 1};
}

std::string too_deep_message() {
  return "YAML nests deeper than " + std::to_string(kYamlMaxDepth) + " levels; flatten the document";
}

std::string_view c_text(const yaml_char_t* s) {
  return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

// Collects every event up to the stream end, or the parser's failure text.
bool collect_events(std::string_view text, std::vector<Event>& events, std::string& error) {
  std::unique_ptr<yaml_parser_t, ParserDeleter> parser(new yaml_parser_t);
  if (!yaml_parser_initialize(parser.get())) {
    delete parser.release();
    error = "could not initialise the YAML parser";
    return false;
  }
  // libyaml refuses a null input pointer, which an empty view may carry.
  static const char kEmpty[] = "";
  const char* data = text.empty() ? kEmpty : text.data();
  yaml_parser_set_input_string(parser.get(), reinterpret_cast<const unsigned char*>(data),
                               text.size());
  // Nesting is capped while parsing, not only while building: libyaml's scanner
  // slows down quadratically with the depth of flow collections.
  int depth = 0;
  std::unordered_map<std::string, std::uint32_t> anchors;
  std::uint32_t next_anchor = 1;
  const auto define = [&](const yaml_char_t* name) -> std::uint32_t {
    if (name == nullptr) return 0;
    const std::uint32_t number = next_anchor++;
    anchors[std::string(c_text(name))] = number;
    return number;
  };
  while (true) {
    EventGuard guard;
    if (!yaml_parser_parse(parser.get(), &guard.event)) {
      const yaml_parser_t& p = *parser;
      const char* problem = p.problem ? p.problem : "invalid YAML";
      if (p.error == YAML_READER_ERROR) {
        const auto [line, column] = line_column_of(text, p.problem_offset);
        error = position_text(problem, p.problem_offset, line, column);
      } else {
        error = position_text(problem, p.problem_mark.index, p.problem_mark.line + 1,
                              p.problem_mark.column + 1);
      }
      return false;
    }
    guard.live = true;
    const yaml_event_t& e = guard.event;
    Event ev{};
    switch (e.type) {
      case YAML_STREAM_START_EVENT: ev.kind = EventKind::kStreamStart; break;
      case YAML_STREAM_END_EVENT: return true;
      case YAML_DOCUMENT_START_EVENT: ev.kind = EventKind::kDocumentStart; break;
      case YAML_DOCUMENT_END_EVENT: ev.kind = EventKind::kDocumentEnd; break;
      case YAML_ALIAS_EVENT: {
        ev.kind = EventKind::kAlias;
        const std::string name(c_text(e.data.alias.anchor));
        const auto it = anchors.find(name);
        if (it == anchors.end()) {
          error = position_text("found undefined alias '" + name + "'", e.start_mark.index,
                                e.start_mark.line + 1, e.start_mark.column + 1);
          return false;
        }
        ev.anchor = it->second;
        break;
      }
      case YAML_SCALAR_EVENT:
        ev.kind = EventKind::kScalar;
        ev.anchor = define(e.data.scalar.anchor);
        ev.plain = e.data.scalar.style == YAML_PLAIN_SCALAR_STYLE;
        if (e.data.scalar.tag != nullptr) {
          ev.tagged = true;
          ev.tag = c_text(e.data.scalar.tag);
        }
        ev.text.assign(reinterpret_cast<const char*>(e.data.scalar.value), e.data.scalar.length);
        break;
      case YAML_SEQUENCE_START_EVENT:
        ev.kind = EventKind::kSequenceStart;
        ev.anchor = define(e.data.sequence_start.anchor);
        if (++depth > kYamlMaxDepth) {
          error = too_deep_message();
          return false;
        }
        break;
      case YAML_SEQUENCE_END_EVENT:
        ev.kind = EventKind::kSequenceEnd;
        --depth;
        break;
      case YAML_MAPPING_START_EVENT:
        ev.kind = EventKind::kMappingStart;
        ev.anchor = define(e.data.mapping_start.anchor);
        if (++depth > kYamlMaxDepth) {
          error = too_deep_message();
          return false;
        }
        break;
      case YAML_MAPPING_END_EVENT:
        ev.kind = EventKind::kMappingEnd;
        --depth;
        break;
      case YAML_NO_EVENT: return true;
    }
    events.push_back(std::move(ev));
  }
}

// ---- scalar resolution ----------------------------------------------------

const RE2& bool_pattern() {
  static const RE2* re = new RE2(
      "(?:yes|Yes|YES|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF)");
  return *re;
}
const RE2& int_pattern() {
  static const RE2* re = new RE2(
      "(?:[-+]?0b[0-1_]+|[-+]?0[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+|"
      "[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+)");
  return *re;
}
const RE2& float_pattern() {
  static const RE2* re = new RE2(
      "(?:[-+]?(?:[0-9][0-9_]*)\\.[0-9_]*(?:[eE][-+][0-9]+)?|\\.[0-9_]+(?:[eE][-+][0-9]+)?|"
      "[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\\.[0-9_]*|[-+]?\\.(?:inf|Inf|INF)|\\.(?:nan|NaN|NAN))");
  return *re;
}

std::optional<bool> resolve_bool(std::string_view text) {
  if (!RE2::FullMatch(text, bool_pattern())) return std::nullopt;
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "on" || lower == "yes" || lower == "true";
}

// Digits without underscores and the sign taken off.
struct Cleaned {
  std::string digits;
  bool negative = false;
};
Cleaned clean_number(std::string_view text) {
  Cleaned out;
  out.digits.reserve(text.size());
  for (char c : text)
    if (c != '_') out.digits.push_back(c);
  if (!out.digits.empty() && (out.digits[0] == '+' || out.digits[0] == '-')) {
    out.negative = out.digits[0] == '-';
    out.digits.erase(0, 1);
  }
  return out;
}

// A decimal floating-point number as the whole of `text`; out-of-range values
// come back as infinity (overflow) or zero (underflow).
std::optional<double> read_decimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ptr != text.data() + text.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    const std::size_t e = text.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
    return tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  if (ec != std::errc()) return std::nullopt;
  return value;
}

std::optional<double> read_base60(std::string_view text) {
  double value = 0;
  while (true) {
    const std::size_t colon = text.find(':');
    const std::optional<double> part = read_decimal(text.substr(0, colon));
    if (!part) return std::nullopt;
    value = value * 60 + *part;
    if (colon == std::string_view::npos) return value;
    text.remove_prefix(colon + 1);
  }
}

std::optional<std::uint64_t> read_radix(std::string_view digits, int base) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> resolve_int(std::string_view text) {
  if (!RE2::FullMatch(text, int_pattern())) return std::nullopt;
  const Cleaned c = clean_number(text);
  const std::string_view d = c.digits;
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::optional<std::uint64_t> magnitude;
  if (d.starts_with("0b")) {
    magnitude = read_radix(d.substr(2), 2);
  } else if (d.starts_with("0x")) {
    magnitude = read_radix(d.substr(2), 16);
  } else if (d.find(':') != std::string_view::npos) {
    const std::optional<double> v = read_base60(d);
    if (!v) return std::nullopt;
    magnitude = *v >= 9223372036854775807.0 ? kMax : static_cast<std::uint64_t>(*v);
  } else if (d.size() >= 2 && d[0] == '0') {
    magnitude = read_radix(d.substr(1), 8);
  } else {
    magnitude = read_radix(d, 10);
  }
  if (!magnitude || *magnitude > kMax) return std::nullopt;
  const auto v = static_cast<std::int64_t>(*magnitude);
  return c.negative ? -v : v;
}

// A float, the written text when the value is not finite, or nothing when the
// resolver does not accept the text.
std::optional<JsonValue> resolve_float(std::string_view text) {
  if (!RE2::FullMatch(text, float_pattern())) return std::nullopt;
  const Cleaned c = clean_number(text);
  const std::string_view d = c.digits;
  std::optional<double> v;
  if (d.find(':') != std::string_view::npos) {
    v = read_base60(d);
  } else if (d.size() == 4 && d[0] == '.' &&
             (strncasecmp(d.data() + 1, "inf", 3) == 0 || strncasecmp(d.data() + 1, "nan", 3) == 0)) {
    return JsonValue(std::string(text));
  } else {
    v = read_decimal(d);
  }
  if (!v) return std::nullopt;
  if (!std::isfinite(*v)) return JsonValue(std::string(text));
  return JsonValue(c.negative ? -*v : *v);
}

// Only texts starting with one of these can be anything but a string or null.
bool may_be_typed(std::string_view text) {
  const char c = text[0];
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'y' || c == 'Y' ||
         c == 'n' || c == 'N' || c == 't' || c == 'T' || c == 'f' || c == 'F' || c == 'o' ||
         c == 'O';
}

std::optional<JsonValue> resolve_plain(std::string_view text) {
  if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL")
    return JsonValue(nullptr);
  if (!may_be_typed(text)) return std::nullopt;
  if (const auto b = resolve_bool(text)) return JsonValue(*b);
  if (const auto i = resolve_int(text)) return JsonValue(*i);
  return resolve_float(text);
}

// Each event is built once, so a string scalar takes the event's text.
Result<JsonValue> resolve_scalar(Event& ev) {
  if (ev.tagged) {
    const auto refuse = [&] {
      return CoreError::value("could not determine a constructor for the tag '" + ev.tag + "'");
    };
    if (!std::string_view(ev.tag).starts_with(kCoreTagPrefix)) return refuse();
    const std::string_view suffix = std::string_view(ev.tag).substr(kCoreTagPrefix.size());
    if (suffix == "str") return JsonValue(std::move(ev.text));
    if (suffix == "null") return JsonValue(nullptr);
    if (suffix == "bool") {
      if (const auto b = resolve_bool(ev.text)) return JsonValue(*b);
      return CoreError::value("could not determine a constructor for bool '" + ev.text + "'");
    }
    if (suffix == "int") {
      if (const auto i = resolve_int(ev.text)) return JsonValue(*i);
      return CoreError::value("could not determine a constructor for int '" + ev.text + "'");
    }
    if (suffix == "float") {
      if (auto f = resolve_float(ev.text)) return std::move(*f);
      return CoreError::value("could not determine a constructor for float '" + ev.text + "'");
    }
    return refuse();
  }
  if (!ev.plain) return JsonValue(std::move(ev.text));
  if (auto v = resolve_plain(ev.text)) return std::move(*v);
  return JsonValue(std::move(ev.text));
}

// ---- building values --------------------------------------------------------

// A built value with what the limits need to know of it: `weight` counts its
// nodes and the bytes of its texts, `height` its levels of nesting.
struct Built {
  JsonValue value;
  std::uint64_t weight = 0;
  int height = 0;
};

std::string_view merge_kind_name(const JsonValue& v) {
  switch (v.type()) {
    case JsonType::kNull: return "null";
    case JsonType::kBool: return "bool";
    case JsonType::kUInt:
    case JsonType::kInt:
    case JsonType::kDouble: return "number";
    case JsonType::kString: return "string";
    case JsonType::kArray: return "sequence";
    case JsonType::kObject: return "mapping";
  }
  return "null";
}

class Builder {
 public:
  // `text_size` raises the copy budget, so that anchoring a large part of a
  // large document once stays affordable.
  Builder(std::vector<Event>& events, std::size_t pos, std::size_t text_size)
      : events_(events), pos_(pos), budget_(kYamlAliasBudget + text_size) {}

  Result<Built> node(int depth) {
    if (pos_ >= events_.size()) return CoreError::value("unexpected end of YAML stream");
    Event& ev = events_[pos_++];
    switch (ev.kind) {
      case EventKind::kAlias: return alias(ev, depth);
      case EventKind::kScalar: {
        VOSTREL_ASSIGN_OR_RETURN(JsonValue v, resolve_scalar(ev));
        const std::uint64_t weight = 1 + (v.is_string() ? v.as_string().size() : 0);
        return store(ev.anchor, Built{std::move(v), weight, 0});
      }
      case EventKind::kSequenceStart: {
        VOSTREL_TRY(enter(depth));
        VOSTREL_ASSIGN_OR_RETURN(Built b, sequence(depth + 1));
        return store(ev.anchor, std::move(b));
      }
      case EventKind::kMappingStart: {
        VOSTREL_TRY(enter(depth));
        VOSTREL_ASSIGN_OR_RETURN(Built b, mapping(depth + 1));
        return store(ev.anchor, std::move(b));
      }
      default:
        return CoreError::value("unexpected YAML event: " + std::string(event_debug_name(ev.kind)));
    }
  }

 private:
  static Status enter(int depth) {
    if (depth + 1 > kYamlMaxDepth) return too_deep();
    return ok_status();
  }
  static CoreError too_deep() { return CoreError::value(too_deep_message()); }

  Result<Built> alias(const Event& ev, int depth) {
    if (ev.anchor >= anchors_.size() || !anchors_[ev.anchor]) {
      return CoreError::value("found undefined alias for anchor " + std::to_string(ev.anchor));
    }
    const Built& stored = *anchors_[ev.anchor];
    if (depth + stored.height > kYamlMaxDepth) return too_deep();
    VOSTREL_TRY(spend(stored.weight));
    return Built{stored.value, stored.weight, stored.height};
  }

  // Anchors and aliases are the only ways a document can make the loader copy
  // values: each copy is paid for from one budget.
  Status spend(std::uint64_t weight) {
    copied_ += weight;
    if (copied_ <= budget_) return ok_status();
    return CoreError::value("YAML anchors and aliases copy more than " + std::to_string(budget_) +
                            " values and bytes; the document repeats itself too much");
  }

  Result<Built> store(std::uint32_t anchor, Built b) {
    if (anchor != 0) {
      VOSTREL_TRY(spend(b.weight));
      if (anchors_.size() <= anchor) anchors_.resize(anchor + 1);
      anchors_[anchor] = b;
    }
    return b;
  }

  Result<Built> sequence(int depth) {
    Built out{JsonValue::array(), 1, 1};
    JsonArray& items = out.value.as_array();
    while (true) {
      if (pos_ < events_.size() && events_[pos_].kind == EventKind::kSequenceEnd) {
        ++pos_;
        return out;
      }
      VOSTREL_ASSIGN_OR_RETURN(Built item, node(depth));
      out.weight += item.weight;
      out.height = std::max(out.height, item.height + 1);
      items.push_back(std::move(item.value));
    }
  }

  Result<Built> mapping(int depth) {
    Built out{JsonValue::object(), 1, 1};
    JsonObject& object = out.value.as_object();
    std::vector<JsonObject> merges;
    while (true) {
      if (pos_ < events_.size() && events_[pos_].kind == EventKind::kMappingEnd) {
        ++pos_;
        for (JsonObject& source : merges) {
          for (auto& [key, value] : source) {
            if (!object.contains(key)) object.insert(std::move(key), std::move(value));
          }
        }
        return out;
      }
      const bool merge_key = pos_ < events_.size() && events_[pos_].kind == EventKind::kScalar &&
                             events_[pos_].plain && !events_[pos_].tagged &&
                             events_[pos_].text == "<<";
      VOSTREL_ASSIGN_OR_RETURN(Built key, node(depth));
      VOSTREL_ASSIGN_OR_RETURN(Built value, node(depth));
      out.weight += key.weight + value.weight;
      out.height = std::max({out.height, key.height + 1, value.height + 1});
      if (merge_key) {
        VOSTREL_TRY(collect_merge(std::move(value.value), merges));
        continue;
      }
      std::string text = key.value.is_string() ? std::move(key.value.as_string())
                                               : py_str(key.value);
      object.insert(std::move(text), std::move(value.value));
    }
  }

  static Status collect_merge(JsonValue value, std::vector<JsonObject>& merges) {
    if (value.is_object()) {
      merges.push_back(std::move(value.as_object()));
      return ok_status();
    }
    if (value.is_array()) {
      for (const JsonValue& item : value.as_array()) {
        if (!item.is_object()) {
          return CoreError::value("expected a mapping for merging, but found " +
                                  std::string(merge_kind_name(item)));
        }
      }
      for (JsonValue& item : value.as_array()) merges.push_back(std::move(item.as_object()));
      return ok_status();
    }
    return CoreError::value("expected a mapping or list of mappings for merging, but found " +
                            std::string(merge_kind_name(value)));
  }

  std::vector<Event>& events_;
  std::size_t pos_;
  std::vector<std::optional<Built>> anchors_;
  std::uint64_t budget_;
  std::uint64_t copied_ = 0;
};

}  // namespace

Result<JsonValue> yaml_to_json(std::string_view text) {
  std::vector<Event> events;
  std::string error;
  if (!collect_events(text, events, error)) return CoreError::value(std::move(error));
  std::size_t documents = 0;
  for (const Event& ev : events)
    if (ev.kind == EventKind::kDocumentStart) ++documents;
  if (documents > 1) return CoreError::value("expected a single document in the stream");
  std::size_t pos = 0;
  while (pos < events.size() && (events[pos].kind == EventKind::kStreamStart ||
                                 events[pos].kind == EventKind::kDocumentStart))
    ++pos;
  if (pos >= events.size() || events[pos].kind == EventKind::kDocumentEnd) return JsonValue(nullptr);
  Builder builder(events, pos, text.size());
  VOSTREL_ASSIGN_OR_RETURN(Built built, builder.node(0));
  return std::move(built.value);
}

}  // namespace vostrel::yaml
