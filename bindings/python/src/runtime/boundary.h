// The barrier between CPython and the core.
//
// Every entry from Python (functions, methods, slots, getters, setters,
// deallocation, the module entry) runs its body through `call_boundary`: the
// thread is marked as holding the interpreter lock, queued releases are
// applied, and no C++ exception crosses back into a CPython frame. A fatal
// error (`Panic`, or any other C++ exception) becomes `PanicException`, which
// derives from BaseException so that `except Exception` does not swallow it.
#ifndef VOSTREL_BINDING_RUNTIME_BOUNDARY_H_
#define VOSTREL_BINDING_RUNTIME_BOUNDARY_H_

#include <Python.h>

#include <exception>
#include <string>
#include <utility>

#include "runtime/lock.h"

namespace vostrel::py {

// A fatal error inside the module: unwinds to the nearest boundary, releasing
// borrows and references on the way.
class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);

// The PanicException class, created on first use; null only when it cannot be
// created (then a Python error is set).
PyObject* panic_exception_type();

// Sets PanicException with `message` as the current Python error.
void raise_panic(const std::string& message);

namespace detail {
// Converts the exception being handled into PanicException. Aborts the process
// when that itself fails.
void raise_current_as_panic() noexcept;
}  // namespace detail

// Runs `body` (returning R, with `error_value` meaning "Python error set")
// under the boundary rules.
template <typename R, typename Body>
R call_boundary(R error_value, Body&& body) noexcept {
  LockHeldScope scope;
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    detail::raise_current_as_panic();
    return error_value;
  }
}

template <typename Body>
PyObject* call_boundary(Body&& body) noexcept {
  return call_boundary<PyObject*>(nullptr, std::forward<Body>(body));
}

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_BOUNDARY_H_
