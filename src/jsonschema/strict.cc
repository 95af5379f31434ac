#include "jsonschema/strict.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "pyfmt/pyfmt.h"

namespace vostrel::jsonschema {

namespace {

// The position of the node being rewritten, as a list of key segments.
using Path = std::vector<std::string>;

// How many JSON values the inlined copies of one rewrite may add up to. A few
// definitions that each use the next one twice double the schema at every
// level; no schema a provider takes comes near this.
constexpr std::size_t kMaxInlinedValues = 1'000'000;

// The number of JSON values in `value`, itself included.
std::size_t count_values(const JsonValue& value) {
  std::size_t n = 1;
  if (const JsonArray* items = value.get_array()) {
    for (const JsonValue& item : *items) n += count_values(item);
  } else if (const JsonObject* members = value.get_object()) {
    for (const auto& [key, member] : *members) n += count_values(member);
  }
  return n;
}

// One reference being inlined on the way down to the current node: the
// reference and the node as it stood just before the inlining.
struct Inlining {
  std::string ref;
  JsonObject before;
};

// The walk of one ensure_strict call.
class StrictRewriter {
 public:
  explicit StrictRewriter(const JsonValue& root) : root_(root) {}

  Status rewrite(JsonValue& node);

 private:
  // Rewrites `child` (and below) with the path extended by `segments`.
  Status rewrite_child(JsonValue& child, std::initializer_list<std::string_view> segments);
  Status inline_ref(JsonObject& node, const std::string& ref);
  Result<const JsonObject*> resolve(const std::string& ref) const;
  // Python's tuple of the path segments: "()", "('items',)", "('a', 'b')".
  std::string path_tuple() const;

  const JsonValue& root_;
  Path path_;
  std::vector<Inlining> inlinings_;
  std::size_t inlined_values_ = 0;
};

Status StrictRewriter::rewrite_child(JsonValue& child,
                                     std::initializer_list<std::string_view> segments) {
  for (std::string_view s : segments) path_.emplace_back(s);
  Status status = rewrite(child);
  path_.resize(path_.size() - segments.size());
  return status;
}

std::string StrictRewriter::path_tuple() const {
  std::string out = "(";
  for (std::size_t i = 0; i < path_.size(); ++i) {
    if (i > 0) out += ", ";
    out += py_repr_str(path_[i]);
  }
  if (path_.size() == 1) out += ",";
  out += ")";
  return out;
}

Result<const JsonObject*> StrictRewriter::resolve(const std::string& ref) const {
  if (ref.rfind("#/", 0) != 0) {
    return CoreError::session("Unexpected $ref format '" + ref + "'; Does not start with #/");
  }
  const JsonObject* current = &root_.as_object();
  std::string_view rest = std::string_view(ref).substr(2);
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    const JsonValue* value = current->find(segment);
    if (value == nullptr) {
      return CoreError::session("unresolvable $ref " + ref + ": no key '" + std::string(segment) +
                                "'");
    }
    if (!value->is_object()) {
      return CoreError::session("encountered non-dictionary entry while resolving " + ref + " - " +
                                to_json(JsonValue(*current)));
    }
    current = &value->as_object();
    if (slash == std::string_view::npos) return current;
    rest.remove_prefix(slash + 1);
  }
}

Status StrictRewriter::inline_ref(JsonObject& node, const std::string& ref) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonObject* definition, resolve(ref));
  // The rewrite is a function of the node's content, so meeting the same
  // reference on a node that reads exactly like an ancestor's would repeat
  // that ancestor's walk forever: a definition that contains itself.
  for (const Inlining& outer : inlinings_) {
    if (outer.ref == ref && outer.before == node) {
      return CoreError::session("$ref " + ref +
                                " refers to a definition that contains itself and cannot be "
                                "inlined; path=" + path_tuple());
    }
  }
  inlinings_.push_back(Inlining{ref, node});
  for (const auto& [key, value] : *definition) {
    if (node.contains(key)) continue;
    inlined_values_ += count_values(value);
    if (inlined_values_ > kMaxInlinedValues) {
      return CoreError::session("Schema grows past " + std::to_string(kMaxInlinedValues) +
                                " values when its references are inlined; path=" + path_tuple());
    }
    node.insert(key, value);
  }
  node.erase("$ref");
  return ok_status();
}

Status StrictRewriter::rewrite(JsonValue& value) {
  // Inlined references can nest a schema deeper than any JSON text the system
  // reads; past that depth the walk (and every later reader of the result)
  // would only risk the stack. The root object is the first level.
  if (path_.size() >= static_cast<std::size_t>(kJsonMaxDepth)) {
    return CoreError::session("Schema nests deeper than " + std::to_string(kJsonMaxDepth) +
                              " levels; path=" + path_tuple());
  }
  const std::size_t inlinings_mark = inlinings_.size();
  while (true) {
    if (!value.is_object()) {
      return CoreError::session("Expected " + py_str(value) + " to be a dictionary; path=" +
                                path_tuple());
    }
    JsonObject& node = value.as_object();

    for (std::string_view defs_key : {"$defs", "definitions"}) {
      JsonObject* defs = node.find(defs_key) ? node.find(defs_key)->get_object() : nullptr;
      if (defs == nullptr) continue;
      for (std::size_t i = 0; i < defs->size(); ++i) {
        JsonMember& entry = defs->at_index(i);
        VOSTREL_TRY(rewrite_child(entry.second, {defs_key, entry.first}));
      }
    }

    const JsonValue* type = node.find("type");
    if (type != nullptr && type->is_string() && type->as_string() == "object" &&
        !node.contains("additionalProperties")) {
      node.insert("additionalProperties", false);
    }

    if (const JsonValue* props = node.find("properties"); props != nullptr && props->is_object()) {
      JsonArray names;
      names.reserve(props->as_object().size());
      for (const auto& [name, schema] : props->as_object()) names.emplace_back(name);
      node.insert("required", std::move(names));
      JsonObject& properties = node.find("properties")->as_object();
      for (std::size_t i = 0; i < properties.size(); ++i) {
        JsonMember& entry = properties.at_index(i);
        VOSTREL_TRY(rewrite_child(entry.second, {"properties", entry.first}));
      }
    }

    if (JsonValue* items = node.find("items"); items != nullptr && items->is_object()) {
      VOSTREL_TRY(rewrite_child(*items, {"items"}));
    }

    for (std::string_view combinator : {"anyOf", "allOf"}) {
      JsonValue* members = node.find(combinator);
      if (members == nullptr || !members->is_array()) continue;
      JsonArray& list = members->as_array();
      for (std::size_t i = 0; i < list.size(); ++i) {
        VOSTREL_TRY(rewrite_child(list[i], {combinator, std::to_string(i)}));
      }
    }
    if (JsonValue* all_of = node.find("allOf");
        all_of != nullptr && all_of->is_array() && all_of->as_array().size() == 1) {
      JsonValue member = std::move(all_of->as_array()[0]);
      for (auto& [key, member_value] : member.as_object()) node.insert(key, std::move(member_value));
      node.erase("allOf");
    }

    if (const JsonValue* def = node.find("default"); def != nullptr && def->is_null()) {
      node.erase("default");
    }

    const JsonValue* ref = node.find("$ref");
    if (ref == nullptr || !ref->is_string() || ref->as_string().empty() || node.size() < 2) break;
    VOSTREL_TRY(inline_ref(node, std::string(ref->as_string())));
  }
  inlinings_.resize(inlinings_mark);
  return ok_status();
}

}  // namespace

Status ensure_strict(JsonValue& schema) {
  const JsonValue root = schema;
  return StrictRewriter(root).rewrite(schema);
}

}  // namespace vostrel::jsonschema
