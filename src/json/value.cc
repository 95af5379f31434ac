#include "json/value.h"

#include <cmath>
#include <functional>
#include <limits>

namespace vostrel {

namespace {

// Objects at or above this size keep a hash index.
constexpr std::size_t kIndexThreshold = 12;

std::size_t hash_key(std::string_view key) { return std::hash<std::string_view>{}(key); }

}  // namespace

JsonObject::JsonObject(std::initializer_list<JsonMember> members) {
  entries_.reserve(members.size());
  for (const auto& m : members) insert(m.first, m.second);
}

JsonObject::JsonObject(const JsonObject& other) : entries_(other.entries_) {
  if (!other.index_.empty()) index_ = other.index_;
}

JsonObject& JsonObject::operator=(const JsonObject& other) {
  if (this != &other) {
    entries_ = other.entries_;
    index_ = other.index_;
  }
  return *this;
}

void JsonObject::clear() {
  entries_.clear();
  index_.clear();
}

void JsonObject::rebuild_index() {
  index_.clear();
  if (entries_.size() < kIndexThreshold) return;
  std::size_t cap = 16;
  while (cap < entries_.size() * 2) cap <<= 1;
  index_.assign(cap, 0);
  for (std::size_t i = 0; i < entries_.size(); ++i) index_add(i);
}

void JsonObject::index_add(std::size_t pos) {
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = hash_key(entries_[pos].first) & mask;
  while (index_[slot] != 0) slot = (slot + 1) & mask;
  index_[slot] = static_cast<std::uint32_t>(pos + 1);
}

std::optional<std::size_t> JsonObject::lookup(std::string_view key) const {
  if (index_.empty()) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].first == key) return i;
    }
    return std::nullopt;
  }
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = hash_key(key) & mask;
  while (index_[slot] != 0) {
    const std::size_t pos = index_[slot] - 1;
    if (entries_[pos].first == key) return pos;
    slot = (slot + 1) & mask;
  }
  return std::nullopt;
}

std::optional<std::size_t> JsonObject::index_of(std::string_view key) const { return lookup(key); }

const JsonValue* JsonObject::find(std::string_view key) const {
  auto pos = lookup(key);
  return pos ? &entries_[*pos].second : nullptr;
}

JsonValue* JsonObject::find(std::string_view key) {
  auto pos = lookup(key);
  return pos ? &entries_[*pos].second : nullptr;
}

JsonValue& JsonObject::insert(std::string key, JsonValue value) {
  if (auto pos = lookup(key)) {
    entries_[*pos].second = std::move(value);
    return entries_[*pos].second;
  }
  entries_.emplace_back(std::move(key), std::move(value));
  const std::size_t n = entries_.size();
  if (!index_.empty() && n * 2 <= index_.size()) {
    index_add(n - 1);
  } else if (!index_.empty() || n >= kIndexThreshold) {
    rebuild_index();
  }
  return entries_.back().second;
}

JsonValue& JsonObject::operator[](std::string_view key) {
  if (auto* v = find(key)) return *v;
  return insert(std::string(key), JsonValue());
}

std::size_t JsonObject::slot_of(std::size_t pos) const {
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = hash_key(entries_[pos].first) & mask;
  while (index_[slot] != pos + 1) slot = (slot + 1) & mask;
  return slot;
}

void JsonObject::index_remove_slot(std::size_t slot) {
  // Backward-shift deletion: pull later members of the probe run into the hole
  // when the hole lies on their probe path, so lookups never stop early.
  const std::size_t mask = index_.size() - 1;
  std::size_t hole = slot;
  for (std::size_t next = (hole + 1) & mask; index_[next] != 0; next = (next + 1) & mask) {
    const std::size_t home = hash_key(entries_[index_[next] - 1].first) & mask;
    if (((next - home) & mask) >= ((next - hole) & mask)) {
      index_[hole] = index_[next];
      hole = next;
    }
  }
  index_[hole] = 0;
}

bool JsonObject::erase(std::string_view key) {
  auto pos = lookup(key);
  if (!pos) return false;
  const std::size_t last = entries_.size() - 1;
  if (!index_.empty()) {
    index_remove_slot(slot_of(*pos));
    if (*pos != last) index_[slot_of(last)] = static_cast<std::uint32_t>(*pos + 1);
  }
  if (*pos != last) entries_[*pos] = std::move(entries_.back());
  entries_.pop_back();
  return true;
}

bool JsonObject::erase_ordered(std::string_view key) {
  auto pos = lookup(key);
  if (!pos) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*pos));
  if (!index_.empty()) rebuild_index();
  return true;
}

bool JsonObject::operator==(const JsonObject& other) const { return entries_ == other.entries_; }

std::optional<std::int64_t> JsonValue::to_i64() const {
  if (is_i64()) return as_i64();
  if (is_u64() && as_u64() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return static_cast<std::int64_t>(as_u64());
  return std::nullopt;
}

std::optional<std::uint64_t> JsonValue::to_u64() const {
  if (is_u64()) return as_u64();
  return std::nullopt;
}

std::optional<double> JsonValue::to_double() const {
  switch (type()) {
    case JsonType::kUInt: return static_cast<double>(as_u64());
    case JsonType::kInt: return static_cast<double>(as_i64());
    case JsonType::kDouble: return as_double();
    default: return std::nullopt;
  }
}

const JsonValue* JsonValue::find(std::string_view key) const {
  const auto* o = get_object();
  return o ? o->find(key) : nullptr;
}

bool JsonValue::operator==(const JsonValue& other) const { return v_ == other.v_; }

bool json_is_empty(const JsonValue& value) {
  switch (value.type()) {
    case JsonType::kNull: return true;
    case JsonType::kBool: return !value.as_bool();
    case JsonType::kUInt: return value.as_u64() == 0;
    case JsonType::kInt: return value.as_i64() == 0;
    case JsonType::kDouble: return value.as_double() == 0.0;
    case JsonType::kString: return value.as_string().empty();
    case JsonType::kArray: return value.as_array().empty();
    case JsonType::kObject: return value.as_object().empty();
  }
  return false;
}

}  // namespace vostrel
