#include "services/assets_root.h"

#include <mutex>
#include <shared_mutex>
#include <utility>

namespace vostrel::py {
namespace {

struct AssetsRootSlot {
  std::shared_mutex mutex;
  std::optional<std::string> root;
};

// Never destroyed: worker threads may read it while the process exits.
AssetsRootSlot& slot() {
  static AssetsRootSlot* instance = new AssetsRootSlot();
  return *instance;
}

}  // namespace

void set_assets_root(std::string root) {
  std::optional<std::string> previous;
  {
    std::unique_lock<std::shared_mutex> lock(slot().mutex);
    previous = std::exchange(slot().root, std::move(root));
  }
}

std::optional<std::string> assets_root() {
  std::shared_lock<std::shared_mutex> lock(slot().mutex);
  return slot().root;
}

}  // namespace vostrel::py
