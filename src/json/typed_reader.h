// Building blocks for the readers of the system's own JSON shapes (checkpoints,
// loop snapshots, tool calls, host inputs ...). Every such reader refuses bad
// input with the same few messages, so users and hosts see one wording
// whatever record they got wrong:
//
//   "missing field `{}`"
//   "unknown field `{}`, expected {}"      ("..., there are no fields" when none)
//   "unknown variant `{}`, expected {}"    ("..., there are no variants" when none)
//   "invalid type: {}, expected {}"
//   "invalid value: {}, expected {}"
//   "invalid length {}, expected {}"
//
// The found value is described as "null", "boolean `true`", "integer `5`",
// "floating point `3.0`", "string \"abc\"", "sequence" or "map"; lists of
// names read "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
//
// A failed read is a CoreError of kind Value whose message is the text above;
// callers wrap it in their own sentence ("Invalid run checkpoint: {}").
// Nothing half-built escapes: a reader fills its output only as far as it got,
// and callers discard the output on failure.
//
// A record reader:
//
//   struct AgentAssignment { std::string agent; std::string instruction; };
//
//   Result<AgentAssignment> read_agent_assignment(const JsonValue& v) {
//     static constexpr std::string_view kFields[] = {"agent", "instruction"};
//     static constexpr json::RecordShape kShape{
//         "struct AgentAssignment", kFields, json::UnknownKeys::kRefuse};
//     AgentAssignment out;
//     VOSTREL_TRY(json::read_record(v, kShape, [&](std::size_t field, const JsonValue& x) {
//       return field == 0 ? json::read_string(x, out.agent)
//                         : json::read_string(x, out.instruction);
//     }));
//     return out;
//   }
//
// A tagged union ({"kind": "budget_exceeded", "budget": "tokens"}) reads its
// tag with `read_tag`, then the variant's fields with `read_variant_fields`.
// All functions are pure and safe on any thread.
#ifndef VOSTREL_JSON_TYPED_READER_H_
#define VOSTREL_JSON_TYPED_READER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::json {

// Names in declaration order (fields of a record, variants of an enumeration).
using Names = std::span<const std::string_view>;

// A non-owning reference to a callable, for the per-field and per-item
// callbacks (cheaper than std::function, never allocates). The callable must
// outlive the call it is passed to.
template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  template <typename F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_invocable_r_v<R, F&, Args...>)
  FunctionRef(F&& f)  // NOLINT: implicit by design
      : obj_(const_cast<void*>(static_cast<const void*>(&f))),
        call_([](void* obj, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(obj))(std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return call_(obj_, std::forward<Args>(args)...); }

 private:
  void* obj_;
  R (*call_)(void*, Args...);
};

// ---------------------------------------------------------------------------
// Message texts.

// How a found value is named in "invalid type" messages: "null",
// "boolean `true`", "integer `-5`", "floating point `3.0`", "string \"a\"",
// "sequence", "map".
std::string describe_found(const JsonValue& value);

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`"; empty for no names.
std::string name_list(Names names);

// The error of a failed read: a Value error carrying `message`.
CoreError read_error(std::string message);

CoreError missing_field(std::string_view field);
CoreError unknown_field(std::string_view key, Names fields);
CoreError unknown_variant(std::string_view name, Names variants);
CoreError invalid_type(const JsonValue& found, std::string_view expected);
// For found values that are not JSON values ("unit variant", "map").
CoreError invalid_type_described(std::string_view found, std::string_view expected);
CoreError invalid_value(std::string_view found, std::string_view expected);
CoreError invalid_length(std::size_t length, std::string_view expected);

// ---------------------------------------------------------------------------
// Scalars and containers. Each reads `value` into `out` or fails with
// "invalid type: {found}, expected {expectation}".

Status read_string(const JsonValue& value, std::string& out);  // "a string"
Status read_bool(const JsonValue& value, bool& out);           // "a boolean"
// JSON integers only (1.0 is refused as "floating point"); integers outside
// the range fail with "invalid value: integer `N`, expected i64" (or u64 ...).
Status read_i64(const JsonValue& value, std::int64_t& out);    // "i64"
Status read_u64(const JsonValue& value, std::uint64_t& out);   // "u64"
Status read_u32(const JsonValue& value, std::uint32_t& out);   // "u32"
Status read_u16(const JsonValue& value, std::uint16_t& out);   // "u16"
// Any JSON number.
Status read_f64(const JsonValue& value, double& out);          // "f64"
// An object copied entry by entry, keys kept in their order.
Status read_map(const JsonValue& value, JsonObject& out);      // "a map"
// Null reads as absent; any other value goes through `read` (a fill-in
// reader such as `read_string`).
template <typename T, typename F>
Status read_optional(const JsonValue& value, std::optional<T>& out, F&& read) {
  if (value.is_null()) {
    out.reset();
    return ok_status();
  }
  T present{};
  VOSTREL_TRY(read(value, present));
  out = std::move(present);
  return ok_status();
}
// `read_optional` of a string.
Status read_optional_string(const JsonValue& value, std::optional<std::string>& out);

// The array, or "invalid type: {}, expected a sequence".
Result<const JsonArray*> expect_array(const JsonValue& value);
// The object, or "invalid type: {}, expected {expected}".
Result<const JsonObject*> expect_object(const JsonValue& value, std::string_view expected);

// An array read item by item with `read_item`, in order; the first failing
// item ends the read with its error.
template <typename T, typename F>
Status read_list(const JsonValue& value, std::vector<T>& out, F&& read_item) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonArray* items, expect_array(value));
  out.clear();
  out.reserve(items->size());
  for (const JsonValue& item : *items) {
    T element{};
    VOSTREL_TRY(read_item(item, element));
    out.push_back(std::move(element));
  }
  return ok_status();
}

// `read_into(value, out)` as a Result: the usual public face of a reader
// written in the fill-in style above.
template <typename T, typename F>
Result<T> read_as(const JsonValue& value, F&& read_into) {
  T out{};
  VOSTREL_TRY(read_into(value, out));
  return out;
}

// `read_list` as a Result.
template <typename T, typename F>
Result<std::vector<T>> read_list_as(const JsonValue& value, F&& read_item) {
  std::vector<T> out;
  VOSTREL_TRY(read_list(value, out, read_item));
  return out;
}

// ---------------------------------------------------------------------------
// Enumerations.

// A variant name given as a JSON string: its index in `variants`. Fails with
// "unknown variant `{}`, expected {}" for another string and with
// "invalid type: {}, expected {expected}" for another kind of value.
Result<std::size_t> read_variant_name(const JsonValue& value, Names variants,
                                      std::string_view expected = "variant identifier");

// A variant keyed by its name: the bare name as a string, or an object with
// exactly one key, the name, whose value is the variant's content.
struct KeyedVariant {
  std::size_t index = 0;
  const JsonValue* content = nullptr;  // null for the bare string form
};
// Fails with "invalid value: map, expected map with a single key" for an
// object of zero or several keys, with "invalid type: {}, expected string or
// map" for any other kind, and with "unknown variant" for an unknown name.
Result<KeyedVariant> read_keyed_variant(const JsonValue& value, Names variants);

// An enumeration without data: "name", or {"name": null}. With
// `empty_map_content` an empty object is accepted as the content too.
// Other content fails with "invalid type: {}, expected unit variant".
Result<std::size_t> read_unit_variant(const JsonValue& value, Names variants,
                                      bool empty_map_content = false);

// ---------------------------------------------------------------------------
// Records: an object of named fields, or an array of the field values in
// declaration order.

enum class UnknownKeys : std::uint8_t { kIgnore, kRefuse };

struct RecordShape {
  // The expectation of a value of the wrong kind, e.g. "struct ToolCall".
  // The array form's length errors add " with {K} elements".
  std::string_view expecting;
  Names fields;
  UnknownKeys unknown_keys = UnknownKeys::kIgnore;
  // Bit i set: field i may be absent from the object form (the callback is
  // then not called for it; the caller's default stands).
  std::uint64_t optional_fields = 0;
  // Whether an array of the field values is accepted in place of the object.
  bool array_form = true;
};

// Called once per field present, with the field's index in `shape.fields`.
using FieldReader = FunctionRef<Status(std::size_t field, const JsonValue& value)>;

// Object form: each key is looked at once, in the object's order; a key that
// names no field is passed over or refused ("unknown field") as the shape
// says; after the last key, the first absent required field fails with
// "missing field `{}`". Array form: the elements are the fields in order;
// fewer fail with "invalid length {n}, expected {expecting} with {K}
// elements", more with "invalid length {n}, expected fewer elements in array".
// Any other kind fails with "invalid type: {}, expected {expecting}".
Status read_record(const JsonValue& value, const RecordShape& shape, FieldReader read_field);

// ---------------------------------------------------------------------------
// Internally tagged unions: an object whose tag key (anywhere in the object)
// names the variant, the variant's fields beside it; or an array whose first
// element is the tag and the rest the variant's fields.

struct TaggedShape {
  std::string_view expecting;  // "internally tagged enum RunReason"
  std::string_view tag;        // "kind"
  Names variants;
  bool array_form = true;
};

struct TaggedValue {
  std::size_t variant = 0;
  const JsonValue* value = nullptr;  // the whole object or array
  std::string_view tag;              // the tag key, skipped when reading fields
};

// Fails with "missing field `{tag}`" when the tag is absent (or the array is
// empty), "invalid type: {}, expected variant identifier" when it is not a
// string, "unknown variant `{}`, expected {}" when it names no variant, and
// "invalid type: {}, expected {expecting}" for a value that is neither an
// object nor an array (or an array when the shape has no array form).
Result<TaggedValue> read_tag(const JsonValue& value, const TaggedShape& shape);

// Reads the fields of the variant `read_tag` found, by the rules of
// `read_record` with the tag key (or first element) left out. A variant
// without fields passes an empty `shape.fields`: its object ignores every
// other key (unless the shape refuses unknown keys) and its array takes no
// further element.
Status read_variant_fields(const TaggedValue& tagged, const RecordShape& shape,
                           FieldReader read_field);

// ---------------------------------------------------------------------------
// Reading JSON text.

// Parses `text` and reads the value with `read`. Every failure, of the JSON
// reader or of `read`, is a Value error reading "{message} at line {} column
// {}". A refusal made with this toolkit is placed at the end of the value it
// is about (for a missing field, the record; for an unknown field, that
// field's value); any other failure of `read` at the end of the document.
Status read_json_text(std::string_view text, FunctionRef<Status(const JsonValue&)> read);

template <typename T, typename F>
Result<T> read_json_text_as(std::string_view text, F&& read) {
  T out{};
  VOSTREL_TRY(read_json_text(text, [&](const JsonValue& v) -> Status {
    VOSTREL_ASSIGN_OR_RETURN(out, read(v));
    return ok_status();
  }));
  return out;
}

}  // namespace vostrel::json

#endif  // VOSTREL_JSON_TYPED_READER_H_
