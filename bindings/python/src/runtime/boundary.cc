#include "runtime/boundary.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace vostrel::py {
namespace {

std::atomic<PyObject*> g_panic_type{nullptr};

constexpr const char* kGenericPanicText = "the native core stopped on an internal error";

}  // namespace

void panic(std::string message) { throw Panic(std::move(message)); }

PyObject* panic_exception_type() {
  PyObject* type = g_panic_type.load(std::memory_order_acquire);
  if (type != nullptr) return type;
  PyObject* created = PyErr_NewExceptionWithDoc(
      "vostrel._core.PanicException",
      "A fatal error inside the native core. Derives from BaseException, so\n"
      "that handlers for Exception do not hide it.",
      PyExc_BaseException, nullptr);
  if (created == nullptr) return nullptr;
  PyObject* expected = nullptr;
  if (!g_panic_type.compare_exchange_strong(expected, created, std::memory_order_acq_rel)) {
    Py_DECREF(created);
    return expected;
  }
  return created;
}

void raise_panic(const std::string& message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the creation failure stays set
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                        "replace");
  if (text == nullptr) return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

namespace detail {

void raise_current_as_panic() noexcept {
  try {
    try {
      throw;
    } catch (const Panic& p) {
      raise_panic(p.message().empty() ? kGenericPanicText : p.message());
    } catch (const std::bad_alloc&) {
      raise_panic("memory allocation failed");
    } catch (const std::exception& e) {
      raise_panic(e.what()[0] != '\0' ? e.what() : kGenericPanicText);
    } catch (...) {
      raise_panic(kGenericPanicText);
    }
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

}  // namespace detail
}  // namespace vostrel::py
