#include "harness/harness_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"
#include "utils/text.h"
#include "yaml/yaml.h"

namespace vostrel::harness {
namespace {

constexpr std::string_view kKnownTypes = "bool, boolean, dict, float, int, integer, list, number, str, string";

bool is_known_type(std::string_view name) {
  static constexpr std::string_view kNames[] = {"str",     "string", "int",  "integer", "float",
                                                "number",  "bool",   "boolean", "list", "dict"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// Lowercase letters and digits in runs joined by single "-" or "_".
bool is_slug(std::string_view name) {
  if (name.empty()) return false;
  bool after_sep = true;
  for (char c : name) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (alnum) {
      after_sep = false;
    } else if (c == '-' || c == '_') {
      if (after_sep) return false;
      after_sep = true;
    } else {
      return false;
    }
  }
  return !after_sep;
}

// Python's str() of a value as a message shows it: a string bare, anything
// else in its Python form.
std::string shown(const JsonValue& value) {
  if (const std::string* s = value.get_string()) return *s;
  return py_str(value);
}

// Reads the keys of one harness, carrying the source every message names.
class Reader {
 public:
  explicit Reader(std::string_view source) : source_(source) {}

  CoreError fail(std::string message) const { return CoreError::gameplan_load(std::move(message)); }

  // "'{label}' in {source}" and the rest of the sentence.
  CoreError fail_label(std::string_view label, std::string_view rest) const {
    return fail("'" + std::string(label) + "' in " + source_ + std::string(rest));
  }

  static std::string text_of(const JsonValue& value) {
    if (const std::string* s = value.get_string()) return std::string(unicode::trim(*s));
    return std::string(unicode::trim(py_str(value)));
  }

  static std::string read_text(const JsonObject& map, std::string_view key) {
    const JsonValue* value = map.find(key);
    if (value == nullptr || json_is_empty(*value)) return std::string();
    return text_of(*value);
  }

  Result<bool> read_bool(const JsonObject& map, std::string_view key, std::string_view label,
                         bool fallback) const {
    const JsonValue* value = map.find(key);
    if (value == nullptr) return fallback;
    if (value->is_bool()) return value->as_bool();
    return fail_label(label, " must be a boolean, got " + shown(*value) + ".");
  }

  // Python int() of a base-10 literal: optional sign, digits with single
  // underscores between them.
  static std::optional<std::int64_t> parse_int_literal(std::string_view text) {
    text = unicode::trim(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      negative = text[0] == '-';
      text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // |INT64_MIN|
    char prev = '_';
    for (char c : text) {
      if (c == '_') {
        if (prev == '_') return std::nullopt;
      } else if (c >= '0' && c <= '9') {
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (kLimit - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
      } else {
        return std::nullopt;
      }
      prev = c;
    }
    if (prev == '_') return std::nullopt;
    if (negative) return magnitude == kLimit ? std::numeric_limits<std::int64_t>::min()
                                             : -static_cast<std::int64_t>(magnitude);
    if (magnitude >= kLimit) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
  }

  static std::optional<std::int64_t> int_of(const JsonValue& value) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    switch (value.type()) {
      case JsonType::kUInt:
        return value.as_u64() > static_cast<std::uint64_t>(kMax) ? kMax
                                                                 : static_cast<std::int64_t>(value.as_u64());
      case JsonType::kInt: return value.as_i64();
      case JsonType::kDouble: {
        const double d = std::trunc(value.as_double());
        if (std::isnan(d)) return 0;
        if (d >= 9223372036854775807.0) return kMax;
        if (d <= -9223372036854775808.0) return kMin;
        return static_cast<std::int64_t>(d);
      }
      case JsonType::kString: return parse_int_literal(value.as_string());
      default: return std::nullopt;
    }
  }

  Result<std::int64_t> read_int(const JsonObject& map, std::string_view key, std::string_view label,
                                std::int64_t fallback, std::int64_t minimum) const {
    const JsonValue* value = map.find(key);
    if (value == nullptr) return fallback;
    const std::optional<std::int64_t> n = int_of(*value);
    if (!n) return fail_label(label, " must be an integer, got " + shown(*value) + ".");
    if (*n < minimum) {
      return fail_label(label, " must be >= " + std::to_string(minimum) + ", got " +
                                   std::to_string(*n) + ".");
    }
    return *n;
  }

  // Each item as text (strings as they are, others in Python str() form),
  // trimmed; empty texts dropped.
  static std::vector<std::string> item_texts(const JsonValue& value) {
    std::vector<std::string> out;
    const auto add = [&out](const JsonValue& item) {
      std::string text = text_of(item);
      if (!text.empty()) out.push_back(std::move(text));
    };
    if (const JsonArray* items = value.get_array()) {
      for (const JsonValue& item : *items) add(item);
    } else {
      add(value);
    }
    return out;
  }

  Result<std::optional<std::vector<std::string>>> read_names(const JsonObject& map,
                                                             std::string_view key) const {
    const JsonValue* value = map.find(key);
    if (value == nullptr || value->is_null()) return std::optional<std::vector<std::string>>();
    if (!value->is_string() && !value->is_array()) return fail_label(key, " must be a list of names.");
    std::vector<std::string> names = item_texts(*value);
    if (key == "tools") {
      std::vector<std::string_view> reserved;
      for (const std::string& name : names) {
        if (std::find(std::begin(kReservedToolNames), std::end(kReservedToolNames), name) !=
                std::end(kReservedToolNames) &&
            std::find(reserved.begin(), reserved.end(), name) == reserved.end()) {
          reserved.push_back(name);
        }
      }
      if (!reserved.empty()) {
        std::sort(reserved.begin(), reserved.end());
        std::string joined;
        for (std::string_view name : reserved) {
          if (!joined.empty()) joined += ", ";
          joined += name;
        }
        return fail_label(key, " names reserved tool(s) " + joined + "; the runtime supplies them.");
      }
    }
    return std::optional<std::vector<std::string>>(std::move(names));
  }

  Result<AgentsSpec> read_agents(const JsonObject& data) const {
    AgentsSpec agents;
    const JsonValue* value = data.find("agents");
    if (value == nullptr || value->is_null()) return agents;
    const JsonObject* map = value->get_object();
    if (map == nullptr) return fail_label("agents", " must be a mapping.");

    const JsonValue* orchestrator = map->find("orchestrator");
    if (orchestrator != nullptr && !orchestrator->is_null()) {
      if (orchestrator->is_bool()) {
        agents.orchestrator.required = orchestrator->as_bool();
      } else if (const JsonObject* o = orchestrator->get_object()) {
        VOSTREL_ASSIGN_OR_RETURN(agents.orchestrator.required,
                                 read_bool(*o, "required", "agents.orchestrator.required", false));
        agents.orchestrator.instruction = read_text(*o, "instruction");
      } else {
        return fail_label("agents.orchestrator", " must be a bool or a mapping.");
      }
    }

    const JsonValue* participants = map->find("participants");
    if (participants == nullptr || participants->is_null()) return agents;
    const JsonObject* p = participants->get_object();
    if (p == nullptr) return fail_label("agents.participants", " must be a mapping.");
    VOSTREL_ASSIGN_OR_RETURN(agents.participants.min,
                             read_int(*p, "min", "agents.participants.min", 1, 1));
    const JsonValue* max = p->find("max");
    if (max != nullptr && !max->is_null()) {
      VOSTREL_ASSIGN_OR_RETURN(const std::int64_t n,
                               read_int(*p, "max", "agents.participants.max", 1, 1));
      if (n < agents.participants.min) {
        return fail("'agents.participants.max' (" + std::to_string(n) + ") is below 'min' (" +
                    std::to_string(agents.participants.min) + ") in " + source_ + ".");
      }
      agents.participants.max = n;
    }
    return agents;
  }

  Result<std::vector<PhaseSpec>> read_phases(const JsonObject& loop) const {
    std::vector<PhaseSpec> phases;
    const JsonValue* value = loop.find("phases");
    if (value == nullptr || value->is_null()) return phases;
    const JsonArray* items = value->get_array();
    if (items == nullptr) return fail_label("loop.phases", " must be a list.");
    for (const JsonValue& item : *items) {
      const JsonObject* entry = item.get_object();
      if (entry == nullptr) return fail("Each entry in 'loop.phases' in " + source_ + " must be a mapping.");
      PhaseSpec phase;
      phase.name = read_text(*entry, "name");
      if (phase.name.empty()) return fail("A phase in " + source_ + " is missing 'name'.");
      if (!is_slug(phase.name))
        return fail("Phase name '" + phase.name + "' in " + source_ + " must be a lowercase slug.");
      for (const PhaseSpec& earlier : phases) {
        if (earlier.name == phase.name)
          return fail("Duplicate phase name '" + phase.name + "' in " + source_ + ".");
      }
      phase.instruction = read_text(*entry, "instruction");
      const std::string label = "loop.phases[" + phase.name + "]";
      VOSTREL_ASSIGN_OR_RETURN(phase.rounds, read_int(*entry, "rounds", label + ".rounds", 1, 1));
      VOSTREL_ASSIGN_OR_RETURN(phase.rethink, read_bool(*entry, "rethink", label + ".rethink", false));
      phases.push_back(std::move(phase));
    }
    return phases;
  }

  Result<LoopSpec> read_loop(const JsonObject& data) const {
    LoopSpec loop;
    const JsonValue* value = data.find("loop");
    if (value == nullptr || value->is_null()) return loop;
    const JsonObject* map = value->get_object();
    if (map == nullptr) return fail_label("loop", " must be a mapping.");

    if (const JsonValue* terminate = map->find("terminate_on")) {
      const JsonArray* items = terminate->get_array();
      if (!terminate->is_string() && (items == nullptr || items->empty())) {
        return fail_label("loop.terminate_on",
                          " must be a non-empty list \u2014 a harness with no terminator cannot end.");
      }
      loop.terminate_on = item_texts(*terminate);
      if (loop.terminate_on.empty())
        return fail_label("loop.terminate_on", " contains no usable keywords.");
    }
    if (const JsonValue* mca = map->find("max_concurrent_agents"); mca != nullptr && mca->is_double())
      return fail_label("loop.max_concurrent_agents", " must be an integer.");
    VOSTREL_ASSIGN_OR_RETURN(loop.max_turns, read_int(*map, "max_turns", "loop.max_turns", 50, 1));
    VOSTREL_ASSIGN_OR_RETURN(loop.max_rounds, read_int(*map, "max_rounds", "loop.max_rounds", 3, 1));
    VOSTREL_ASSIGN_OR_RETURN(
        const std::int64_t concurrent,
        read_int(*map, "max_concurrent_agents", "loop.max_concurrent_agents", 1, 1));
    if (static_cast<std::uint64_t>(concurrent) > std::numeric_limits<std::size_t>::max())
      return fail_label("loop.max_concurrent_agents", " exceeds this platform's limit.");
    loop.max_concurrent_agents = static_cast<std::size_t>(concurrent);
    VOSTREL_ASSIGN_OR_RETURN(loop.phases, read_phases(*map));
    if (const JsonValue* advance = map->find("advance_on"); advance != nullptr && !json_is_empty(*advance))
      loop.advance_on = text_of(*advance);
    VOSTREL_ASSIGN_OR_RETURN(loop.orchestrator_retries,
                             read_int(*map, "orchestrator_retries", "loop.orchestrator_retries", 2, 0));
    VOSTREL_ASSIGN_OR_RETURN(loop.verdict_rethink,
                             read_bool(*map, "verdict_rethink", "loop.verdict_rethink", true));
    return loop;
  }

  Result<std::vector<ResultField>> read_result(const JsonObject& data) const {
    std::vector<ResultField> fields;
    const JsonValue* value = data.find("result");
    if (value == nullptr || value->is_null()) return fields;
    const JsonObject* map = value->get_object();
    if (map == nullptr) return fail_label("result", " must be a mapping.");
    for (const auto& [key, entry] : *map) {
      ResultField field;
      field.name = std::string(unicode::trim(key));
      if (field.name.empty()) continue;
      if (const std::string* type = entry.get_string()) {
        field.type_name = std::string(unicode::trim(*type));
      } else if (const JsonObject* spec = entry.get_object()) {
        const JsonValue* type = spec->find("type");
        field.type_name = type != nullptr && !json_is_empty(*type) ? text_of(*type) : "str";
        field.description = read_text(*spec, "description");
      } else {
        return fail_label("result." + field.name, " must be a type name or a mapping.");
      }
      if (!is_known_type(field.type_name)) {
        return fail_label("result." + field.name, " has unknown type '" + field.type_name +
                                                      "'. Known: " + std::string(kKnownTypes) + ".");
      }
      fields.push_back(std::move(field));
    }
    return fields;
  }

  Result<HarnessSpec> read(const JsonValue& data) const {
    const JsonObject* map = data.get_object();
    if (map == nullptr) {
      return fail("Gameplan frontmatter in " + source_ + " must be a mapping, got " +
                  std::string(py_type_name(data)) + ".");
    }
    HarnessSpec spec;
    spec.name = read_text(*map, "name");
    if (!spec.name.empty() && !is_slug(spec.name)) {
      return fail("Gameplan name '" + spec.name + "' in " + source_ +
                  " must be a lowercase slug (letters, digits, '-' or '_').");
    }
    spec.description = read_text(*map, "description");
    VOSTREL_ASSIGN_OR_RETURN(spec.agents, read_agents(*map));
    VOSTREL_ASSIGN_OR_RETURN(spec.loop, read_loop(*map));
    VOSTREL_ASSIGN_OR_RETURN(spec.tools, read_names(*map, "tools"));
    VOSTREL_ASSIGN_OR_RETURN(spec.skills, read_names(*map, "skills"));
    VOSTREL_ASSIGN_OR_RETURN(spec.context, read_names(*map, "context"));
    VOSTREL_ASSIGN_OR_RETURN(spec.result, read_result(*map));
    return spec;
  }

 private:
  std::string source_;
};

}  // namespace

Result<HarnessSpec> parse_harness_spec(const JsonValue& data, std::string_view source) {
  return Reader(source).read(data);
}

}  // namespace vostrel::harness
