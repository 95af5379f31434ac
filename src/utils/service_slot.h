// A process-wide, replaceable service: the HTTP transport, the log sink,
// console output, the console prompt and the assets root each live in one.
#ifndef VOSTREL_UTILS_SERVICE_SLOT_H_
#define VOSTREL_UTILS_SERVICE_SLOT_H_

#include <mutex>
#include <shared_mutex>
#include <utility>

namespace vostrel {

// Holds one copyable handle (typically a std::shared_ptr to an interface).
// The lock is held only to copy the handle out or to swap a new one in: a
// caller takes its own copy with `get()` and calls the service with no lock
// held, so a service may itself read or replace any slot, and a service being
// replaced stays alive until every call already in progress on it returns.
//
// Thread-safe. Not copyable or movable: a slot is shared by address.
template <typename Handle>
class ServiceSlot {
 public:
  explicit ServiceSlot(Handle initial) : handle_(std::move(initial)) {}
  ServiceSlot(const ServiceSlot&) = delete;
  ServiceSlot& operator=(const ServiceSlot&) = delete;

  // A copy of the current handle.
  Handle get() const {
    std::shared_lock lock(mutex_);
    return handle_;
  }

  // Stores `next` and returns the previous handle. The previous handle is
  // released by the caller, outside the lock: its destructor may run foreign
  // code (a host object) that must never run under a core lock.
  [[nodiscard]] Handle exchange(Handle next) {
    {
      std::unique_lock lock(mutex_);
      std::swap(handle_, next);
    }
    return next;
  }

  // Stores `next`; the previous handle is released after the lock is dropped.
  void replace(Handle next) { static_cast<void>(exchange(std::move(next))); }

 private:
  mutable std::shared_mutex mutex_;
  Handle handle_;
};

}  // namespace vostrel

#endif  // VOSTREL_UTILS_SERVICE_SLOT_H_
