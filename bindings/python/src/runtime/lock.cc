#include "runtime/lock.h"

#include "runtime/ref.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace vostrel::py {
namespace {

thread_local int t_held_count = 0;

// The queue lives for the whole process: references may be queued from worker
// threads at any time, also during interpreter shutdown.
struct ReleaseQueue {
  std::mutex mutex;
  std::vector<PyObject*> pending;
};

ReleaseQueue& release_queue() {
  static ReleaseQueue* queue = new ReleaseQueue();
  return *queue;
}

// Set once anything was queued, so the common path of every entry is one load.
std::atomic<bool> g_ever_queued{false};

}  // namespace

bool lock_held() { return t_held_count > 0; }

void drain_release_queue() {
  if (!g_ever_queued.load(std::memory_order_acquire)) return;
  std::vector<PyObject*> batch;
  {
    ReleaseQueue& queue = release_queue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    batch.swap(queue.pending);
  }
  // A release may run a finaliser that queues again or re-enters; it sees an
  // empty queue, and what it adds is drained at the next acquisition.
  for (PyObject* object : batch) Py_DECREF(object);
}

void release_reference(PyObject* object) {
  if (object == nullptr) return;
  if (lock_held()) {
    Py_DECREF(object);
    return;
  }
  ReleaseQueue& queue = release_queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  queue.pending.push_back(object);
  g_ever_queued.store(true, std::memory_order_release);
}

LockHeldScope::LockHeldScope() {
  ++t_held_count;
  drain_release_queue();
}

LockHeldScope::~LockHeldScope() { --t_held_count; }

LockReleaseGuard::LockReleaseGuard() : saved_state_(nullptr), saved_count_(t_held_count) {
  t_held_count = 0;
  saved_state_ = PyEval_SaveThread();
}

LockReleaseGuard::~LockReleaseGuard() {
  PyEval_RestoreThread(saved_state_);
  t_held_count = saved_count_;
  drain_release_queue();
}

CallbackLockGuard::CallbackLockGuard() : took_(!lock_held()), state_() {
  if (took_) state_ = PyGILState_Ensure();
  ++t_held_count;
  if (took_) drain_release_queue();
}

CallbackLockGuard::~CallbackLockGuard() {
  --t_held_count;
  if (took_) PyGILState_Release(state_);
}

PyRef take_current_exception() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return PyRef();
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return PyRef::steal(value);
}

}  // namespace vostrel::py
