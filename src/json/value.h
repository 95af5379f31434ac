// JsonValue: the one JSON value of the system. Integers keep their kind
// (non-negative as unsigned 64-bit, negative as signed 64-bit) apart from
// doubles, so 1 and 1.0 differ; objects keep their keys in insertion order.
#ifndef VOSTREL_JSON_VALUE_H_
#define VOSTREL_JSON_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <concepts>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vostrel {

class JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonMember = std::pair<std::string, JsonValue>;

// An object with insertion-ordered, unique keys. Setting a key that is already
// present keeps its position and replaces its value; erasing a key moves the
// last entry into the freed position. Lookups are constant-time on average for
// large objects (a hash index is kept once an object grows past a few keys).
// A JsonObject is a plain value: copyable, movable, safe to read from several
// threads at once.
class JsonObject {
 public:
  JsonObject() = default;
  JsonObject(std::initializer_list<JsonMember> members);
  JsonObject(const JsonObject& other);
  JsonObject(JsonObject&& other) noexcept = default;
  JsonObject& operator=(const JsonObject& other);
  JsonObject& operator=(JsonObject&& other) noexcept = default;
  ~JsonObject() = default;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void reserve(std::size_t n) { entries_.reserve(n); }
  void clear();

  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  const JsonMember& at_index(std::size_t i) const { return entries_[i]; }
  JsonMember& at_index(std::size_t i) { return entries_[i]; }

  // The value under `key`, or null when absent.
  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // Position of `key` in insertion order, if present.
  std::optional<std::size_t> index_of(std::string_view key) const;

  // Sets `key` to `value` (see class comment); returns the stored value.
  JsonValue& insert(std::string key, JsonValue value);
  // The value under `key`, inserting null at the end when absent.
  JsonValue& operator[](std::string_view key);
  // Removes `key`; the last entry takes its place. Returns whether it was present.
  bool erase(std::string_view key);
  // Removes `key` keeping the order of the others.
  bool erase_ordered(std::string_view key);

  // Equal when both hold the same entries in the same order.
  bool operator==(const JsonObject& other) const;

 private:
  void rebuild_index();
  void index_add(std::size_t pos);
  std::size_t slot_of(std::size_t pos) const;
  void index_remove_slot(std::size_t slot);
  std::optional<std::size_t> lookup(std::string_view key) const;

  std::vector<JsonMember> entries_;
  // Open-addressing table of entry positions plus one (0 is an empty slot);
  // empty while the object is small.
  std::vector<std::uint32_t> index_;
};

enum class JsonType : std::uint8_t { kNull, kBool, kUInt, kInt, kDouble, kString, kArray, kObject };

class JsonValue {
 public:
  JsonValue() = default;
  JsonValue(std::nullptr_t) {}                                   // NOLINT
  JsonValue(bool b) : v_(b) {}                                   // NOLINT
  template <std::signed_integral I>
    requires(!std::same_as<I, bool>)
  JsonValue(I i) {                                               // NOLINT
    if (i >= 0) v_ = static_cast<std::uint64_t>(i);
    else v_ = static_cast<std::int64_t>(i);
  }
  template <std::unsigned_integral U>
    requires(!std::same_as<U, bool>)
  JsonValue(U u) : v_(static_cast<std::uint64_t>(u)) {}          // NOLINT
  JsonValue(double d) : v_(d) {}                                 // NOLINT
  JsonValue(const char* s) : v_(std::string(s)) {}               // NOLINT
  JsonValue(std::string s) : v_(std::move(s)) {}                 // NOLINT
  JsonValue(std::string_view s) : v_(std::string(s)) {}          // NOLINT
  JsonValue(JsonArray a) : v_(std::move(a)) {}                   // NOLINT
  JsonValue(JsonObject o) : v_(std::move(o)) {}                  // NOLINT

  static JsonValue array() { return JsonValue(JsonArray{}); }
  static JsonValue object() { return JsonValue(JsonObject{}); }

  JsonType type() const { return static_cast<JsonType>(v_.index()); }
  bool is_null() const { return type() == JsonType::kNull; }
  bool is_bool() const { return type() == JsonType::kBool; }
  bool is_u64() const { return type() == JsonType::kUInt; }
  bool is_i64() const { return type() == JsonType::kInt; }
  bool is_integer() const { return is_u64() || is_i64(); }
  bool is_double() const { return type() == JsonType::kDouble; }
  bool is_number() const { return is_integer() || is_double(); }
  bool is_string() const { return type() == JsonType::kString; }
  bool is_array() const { return type() == JsonType::kArray; }
  bool is_object() const { return type() == JsonType::kObject; }

  // Raw accessors; the value must be of that kind.
  bool as_bool() const { return std::get<bool>(v_); }
  std::uint64_t as_u64() const { return std::get<std::uint64_t>(v_); }
  std::int64_t as_i64() const { return std::get<std::int64_t>(v_); }
  double as_double() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  std::string& as_string() { return std::get<std::string>(v_); }
  const JsonArray& as_array() const { return std::get<JsonArray>(v_); }
  JsonArray& as_array() { return std::get<JsonArray>(v_); }
  const JsonObject& as_object() const { return std::get<JsonObject>(v_); }
  JsonObject& as_object() { return std::get<JsonObject>(v_); }

  // Checked conversions: the integer as i64 / u64 when it is an integer that
  // fits; any number as a double.
  std::optional<std::int64_t> to_i64() const;
  std::optional<std::uint64_t> to_u64() const;
  std::optional<double> to_double() const;
  // The string, or null when the value is not a string.
  const std::string* get_string() const { return std::get_if<std::string>(&v_); }
  const JsonArray* get_array() const { return std::get_if<JsonArray>(&v_); }
  const JsonObject* get_object() const { return std::get_if<JsonObject>(&v_); }
  JsonObject* get_object() { return std::get_if<JsonObject>(&v_); }

  // Member of an object; null when this is not an object or has no such key.
  const JsonValue* find(std::string_view key) const;

  // Kind-aware equality: integers equal integers of the same value, doubles
  // equal doubles (IEEE comparison), never across the two.
  bool operator==(const JsonValue& other) const;

 private:
  std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, JsonArray,
               JsonObject>
      v_;
};

// null, false, zero, "", [] and {} are empty; every other value is not.
bool json_is_empty(const JsonValue& value);

}  // namespace vostrel

#endif  // VOSTREL_JSON_VALUE_H_
