#include "utils/service_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace vostrel {
namespace {

TEST(ServiceSlotTest, GetReplaceAndExchange) {
  ServiceSlot<std::shared_ptr<int>> slot(std::make_shared<int>(1));
  std::shared_ptr<int> held = slot.get();
  slot.replace(std::make_shared<int>(2));
  EXPECT_EQ(*held, 1);  // a copy taken before the swap stays usable
  EXPECT_EQ(*slot.get(), 2);
  std::shared_ptr<int> previous = slot.exchange(std::make_shared<int>(3));
  EXPECT_EQ(*previous, 2);
  EXPECT_EQ(*slot.get(), 3);
}

// A handle whose release runs code that reads the slot again, as a host-backed
// service's destructor may. It would deadlock if released under the lock.
struct Reentrant {
  ServiceSlot<std::shared_ptr<Reentrant>>* slot = nullptr;
  int* seen = nullptr;
  ~Reentrant() {
    if (slot != nullptr) *seen = slot->get() ? 1 : 2;
  }
};

TEST(ServiceSlotTest, PreviousHandleIsReleasedOutsideTheLock) {
  int seen = 0;
  ServiceSlot<std::shared_ptr<Reentrant>> slot(std::make_shared<Reentrant>());
  slot.get()->slot = &slot;
  slot.get()->seen = &seen;
  slot.replace(std::make_shared<Reentrant>());
  EXPECT_EQ(seen, 1);
}

TEST(ServiceSlotTest, ReadersSeeWholeHandlesWhileItIsReplaced) {
  ServiceSlot<std::shared_ptr<const std::vector<int>>> slot(std::make_shared<const std::vector<int>>(100, 0));
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        auto v = slot.get();
        for (int x : *v) {
          if (x != v->front()) torn.fetch_add(1);
        }
      }
    });
  }
  for (int i = 1; i <= 2000; ++i) slot.replace(std::make_shared<const std::vector<int>>(100, i));
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(slot.get()->front(), 2000);
}

}  // namespace
}  // namespace vostrel
