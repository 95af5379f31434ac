// A process-wide slot holding one replaceable service handle.
#ifndef VOSTREL_CHANNEL_LOCAL_SLOT_H_
#define VOSTREL_CHANNEL_LOCAL_SLOT_H_

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace vostrel::detail {

// Filled on first use by `make_default`; the lock is held only to copy or
// replace the handle, so the service itself is always called with no lock held
// and a service being replaced stays alive until its running calls return.
template <typename Service, typename MakeDefault>
class LocalSlot {
 public:
  explicit LocalSlot(MakeDefault make_default) : service_(make_default()) {}

  std::shared_ptr<Service> get() const {
    std::shared_lock lock(mutex_);
    return service_;
  }

  void replace(std::shared_ptr<Service> service) {
    std::shared_ptr<Service> previous;
    {
      std::unique_lock lock(mutex_);
      previous = std::exchange(service_, std::move(service));
    }
  }

 private:
  mutable std::shared_mutex mutex_;
  std::shared_ptr<Service> service_;
};

}  // namespace vostrel::detail

#endif  // VOSTREL_CHANNEL_LOCAL_SLOT_H_
