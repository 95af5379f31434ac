#include "json/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "json/writer.h"
#include "support/json_test_util.h"

namespace vostrel {
namespace {

std::vector<std::string> keys_of(const JsonObject& o) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : o) keys.push_back(k);
  return keys;
}

TEST(JsonObjectTest, RepeatedKeyKeepsPositionTakesLastValue) {
  JsonObject o;
  o.insert("a", 1);
  o.insert("b", 2);
  o.insert("a", 3);
  EXPECT_EQ(to_json(JsonValue(o)), R"({"a":3,"b":2})");
  EXPECT_EQ(to_json(test_support::parse_or_fail(R"({"a":1,"b":2,"a":{"c":3},"b":null})")),
            R"({"a":{"c":3},"b":null})");
}

TEST(JsonObjectTest, EraseMovesLastKeyIntoPlace) {
  JsonObject o{{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}};
  EXPECT_TRUE(o.erase("b"));
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "d", "c"}));
  EXPECT_FALSE(o.erase("b"));
  EXPECT_TRUE(o.erase("c"));  // the last key: nothing moves
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"a", "d"}));
  EXPECT_TRUE(o.erase_ordered("a"));
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"d"}));
  EXPECT_EQ(*o.find("d"), JsonValue(4));
}

// Large objects keep a hash index; it must stay right through every change.
TEST(JsonObjectTest, LargeObjectLookups) {
  constexpr int kCount = 2000;
  JsonObject o;
  for (int i = 0; i < kCount; ++i) o.insert("k" + std::to_string(i), i);
  auto check = [](const JsonObject& obj, int count, const std::vector<int>& gone) {
    for (int i = 0; i < count; ++i) {
      const bool erased = std::find(gone.begin(), gone.end(), i) != gone.end();
      const JsonValue* v = obj.find("k" + std::to_string(i));
      ASSERT_EQ(v == nullptr, erased) << i;
      if (v) {
        ASSERT_EQ(*v, JsonValue(i)) << i;
        ASSERT_EQ(obj.at_index(*obj.index_of("k" + std::to_string(i))).first, "k" + std::to_string(i));
      }
    }
    EXPECT_EQ(obj.find("absent"), nullptr);
  };
  check(o, kCount, {});
  o.insert("k7", "seven");  // replace keeps position
  EXPECT_EQ(*o.index_of("k7"), 7u);
  o.insert("k7", 7);
  std::vector<int> gone = {0, 1999, 500, 11, 12};
  for (int i : gone) EXPECT_TRUE(o.erase("k" + std::to_string(i)));
  EXPECT_TRUE(o.erase_ordered("k13"));
  gone.push_back(13);
  EXPECT_EQ(o.size(), static_cast<std::size_t>(kCount) - gone.size());
  check(o, kCount, gone);
  const JsonObject copy = o;
  check(copy, kCount, gone);
  JsonObject assigned;
  assigned = copy;
  check(assigned, kCount, gone);
  // Shrinking below the index threshold and growing again.
  JsonObject small;
  for (int i = 0; i < 20; ++i) small.insert("s" + std::to_string(i), i);
  for (int i = 0; i < 18; ++i) small.erase("s" + std::to_string(i));
  for (int i = 20; i < 40; ++i) small.insert("s" + std::to_string(i), i);
  for (int i = 18; i < 40; ++i) ASSERT_NE(small.find("s" + std::to_string(i)), nullptr) << i;
  EXPECT_EQ(small.size(), 22u);
}

// Random inserts and erases checked against a plain list with the same rules,
// so the index survives deletions in the middle of probe runs.
TEST(JsonObjectTest, IndexAgreesWithPlainListUnderRandomChanges) {
  std::mt19937 rng(1234);
  JsonObject o;
  std::vector<std::pair<std::string, int>> model;
  auto model_find = [&](const std::string& k) {
    return std::find_if(model.begin(), model.end(), [&](const auto& e) { return e.first == k; });
  };
  for (int step = 0; step < 20000; ++step) {
    const std::string key = "k" + std::to_string(rng() % 300);
    const unsigned op = rng() % 10;
    if (op < 6) {
      o.insert(key, step);
      if (auto it = model_find(key); it != model.end()) it->second = step;
      else model.emplace_back(key, step);
    } else if (op < 9) {
      auto it = model_find(key);
      ASSERT_EQ(o.erase(key), it != model.end());
      if (it != model.end()) {
        *it = model.back();
        model.pop_back();
      }
    } else {
      auto it = model_find(key);
      ASSERT_EQ(o.erase_ordered(key), it != model.end());
      if (it != model.end()) model.erase(it);
    }
    if (step % 97 == 0 || step > 19900) {
      ASSERT_EQ(o.size(), model.size());
      for (std::size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(o.at_index(i).first, model[i].first);
        ASSERT_EQ(*o.index_of(model[i].first), i);
      }
      for (int k = 0; k < 300; ++k) {
        const std::string probe = "k" + std::to_string(k);
        ASSERT_EQ(o.find(probe) != nullptr, model_find(probe) != model.end()) << probe;
      }
    }
  }
}

// Batch workers read one shared document at once: lookups, copies and writes
// of a large (indexed) object must not change it, which the thread sanitizer
// would report.
TEST(JsonObjectTest, ConcurrentReadsOfOneObject) {
  JsonObject o;
  for (int i = 0; i < 500; ++i) o.insert("k" + std::to_string(i), JsonObject{{"v", i}});
  const JsonValue doc(std::move(o));
  const std::string expected = to_json(doc);
  std::vector<std::thread> threads;
  std::atomic<int> faults{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        const JsonObject& obj = doc.as_object();
        for (int i = t; i < 500; i += 3) {
          const std::string key = "k" + std::to_string(i);
          const JsonValue* v = obj.find(key);
          if (v == nullptr || *v->find("v") != JsonValue(i) || obj.index_of(key) != std::size_t(i)) {
            faults.fetch_add(1);
          }
        }
        if (obj.find("absent") != nullptr) faults.fetch_add(1);
        const JsonObject copy = obj;
        if (!(copy == obj) || to_json(doc) != expected) faults.fetch_add(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(faults.load(), 0);
}

TEST(JsonValueTest, KindsStayApart) {
  EXPECT_NE(JsonValue(1), JsonValue(1.0));
  EXPECT_NE(JsonValue(0), JsonValue(false));
  EXPECT_TRUE(JsonValue(5).is_u64());
  EXPECT_TRUE(JsonValue(-5).is_i64());
  EXPECT_EQ(JsonValue(std::int64_t{5}), JsonValue(std::uint64_t{5}));
  // Objects compare in order.
  EXPECT_NE(JsonValue(JsonObject{{"a", 1}, {"b", 2}}), JsonValue(JsonObject{{"b", 2}, {"a", 1}}));
}

}  // namespace
}  // namespace vostrel
