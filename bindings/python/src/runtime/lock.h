// Interpreter-lock bookkeeping for the extension module.
//
// Each thread keeps a count of how many times it has entered the module (or a
// callback guard) while holding the interpreter lock. Code deep inside the core
// asks `lock_held()` instead of CPython, so a Python-backed service knows
// whether it must take the lock, and an owning reference dropped where the lock
// is not held is queued and released at the next acquisition instead of
// touching a reference count without the lock.
#ifndef VOSTREL_BINDING_RUNTIME_LOCK_H_
#define VOSTREL_BINDING_RUNTIME_LOCK_H_

#include <Python.h>

namespace vostrel::py {

// True when the calling thread is known to hold the interpreter lock.
bool lock_held();

// Releases references queued while no thread held the lock. Call with the lock
// held; cheap when nothing was ever queued.
void drain_release_queue();

// Drops one reference: at once when the lock is held, else queued.
void release_reference(PyObject* object);

// Marks the thread as holding the lock for the life of the scope. Used by every
// entry from Python (the lock is held because Python called us).
class LockHeldScope {
 public:
  LockHeldScope();
  ~LockHeldScope();
  LockHeldScope(const LockHeldScope&) = delete;
  LockHeldScope& operator=(const LockHeldScope&) = delete;
};

// Releases the interpreter lock for long work on the calling thread, which must
// hold it. The nesting count is saved and zeroed, and restored when the lock is
// taken back at the end of the scope.
class LockReleaseGuard {
 public:
  LockReleaseGuard();
  ~LockReleaseGuard();
  LockReleaseGuard(const LockReleaseGuard&) = delete;
  LockReleaseGuard& operator=(const LockReleaseGuard&) = delete;

 private:
  PyThreadState* saved_state_;
  int saved_count_;
};

// Takes the interpreter lock for a call into Python from any thread. A thread
// that already holds it only nests; the lock is given back only by the guard
// that took it.
class CallbackLockGuard {
 public:
  CallbackLockGuard();
  ~CallbackLockGuard();
  CallbackLockGuard(const CallbackLockGuard&) = delete;
  CallbackLockGuard& operator=(const CallbackLockGuard&) = delete;

 private:
  bool took_;
  PyGILState_STATE state_;
};

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_LOCK_H_
