// The class registry and the instance machinery shared by every Python class
// of the module: heap types built from specs on first use, instances that hold
// a core value inline, type checks, shared and exclusive borrows, extraction
// by value and creation from core values.
//
// A class is described by a traits struct:
//
//   struct ToolCallClass {
//     using Value = agent_runtime::ToolCall;
//     static constexpr bool kHasFlag = false;   // frozen, or with a borrow flag
//     static ClassDef def;
//   };
//
// Everything here runs with the interpreter lock held.
#ifndef VOSTREL_BINDING_RUNTIME_CLASSES_H_
#define VOSTREL_BINDING_RUNTIME_CLASSES_H_

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "runtime/boundary.h"
#include "runtime/ref.h"
#include "runtime/text.h"

namespace vostrel::py {

// One Python class, fixed in the program, plus its process-wide cells.
struct ClassDef {
  const char* name;
  const char* doc;             // documentation, never empty
  const char* text_signature;  // constructor signature; null for classes without one
  bool subclassable;
  int basic_size;
  destructor dealloc;
  std::span<const PyType_Slot> slots;  // Py_tp_new, repr, richcompare, hash, call, ...
  PyMethodDef* methods;                // null-terminated, or null
  PyGetSetDef* getset;                 // null-terminated, or null

  // Filled once, never released.
  std::atomic<PyTypeObject*> type{nullptr};
  std::atomic<const char*> docstring{nullptr};
};

// The type object, built on first use; null with the build's error set.
PyTypeObject* type_object_fallible(ClassDef& def);
// The same; a build failure prints the error and is the fatal error
// "failed to create type object for {}".
PyTypeObject* type_object(ClassDef& def);

// Adds the class to the module under its name (appending to __all__). A build
// failure becomes RuntimeError "An error occurred while initializing class {}".
int add_class(PyObject* module, ClassDef& def);

// Instance layouts: the header, the value inline, and the borrow flag for
// classes that have one (0 free, n shared borrows, -1 exclusive).
template <typename T>
struct FrozenInstance {
  PyObject ob_base;
  T value;
};

template <typename T>
struct FlagInstance {
  PyObject ob_base;
  T value;
  std::atomic<std::int64_t> flag;
};

template <typename C>
using InstanceOf = std::conditional_t<C::kHasFlag, FlagInstance<typename C::Value>,
                                      FrozenInstance<typename C::Value>>;

template <typename C>
InstanceOf<C>* instance_cast(PyObject* object) {
  return reinterpret_cast<InstanceOf<C>*>(object);
}

template <typename C>
constexpr int instance_size() {
  return static_cast<int>(sizeof(InstanceOf<C>));
}

// True when `object` is an instance of the class or of a Python subclass;
// otherwise false with the conversion TypeError naming the class.
template <typename C>
bool type_check(PyObject* object) {
  if (PyObject_TypeCheck(object, type_object(C::def))) return true;
  raise_conversion_error(object, C::def.name);
  return false;
}

namespace detail {
inline bool shared_acquire(std::atomic<std::int64_t>& flag) {
  std::int64_t seen = flag.load(std::memory_order_acquire);
  for (;;) {
    if (seen == -1) {
      raise_text(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
    if (flag.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel)) return true;
  }
}

inline bool exclusive_acquire(std::atomic<std::int64_t>& flag) {
  std::int64_t expected = 0;
  if (flag.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) return true;
  raise_text(PyExc_RuntimeError, "Already borrowed");
  return false;
}
}  // namespace detail

// A checked instance with a borrow held for the life of the handle: shared
// (read access) or exclusive (write access). Movable, not copyable.
template <typename C, bool kExclusive>
class Borrow {
 public:
  using Value = typename C::Value;

  // Checks the type and takes the borrow; nullopt with the error set.
  static std::optional<Borrow> take(PyObject* object) {
    if (!type_check<C>(object)) return std::nullopt;
    if constexpr (C::kHasFlag) {
      auto& flag = instance_cast<C>(object)->flag;
      if (!(kExclusive ? detail::exclusive_acquire(flag) : detail::shared_acquire(flag))) {
        return std::nullopt;
      }
    }
    return Borrow(object);
  }

  Borrow(Borrow&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Borrow& operator=(Borrow&&) = delete;
  Borrow(const Borrow&) = delete;
  ~Borrow() {
    if (object_ == nullptr) return;
    if constexpr (C::kHasFlag) {
      auto& flag = instance_cast<C>(object_)->flag;
      if constexpr (kExclusive) flag.store(0, std::memory_order_release);
      else flag.fetch_sub(1, std::memory_order_acq_rel);
    }
    Py_DECREF(object_);
  }

  const Value& operator*() const { return instance_cast<C>(object_)->value; }
  const Value* operator->() const { return &instance_cast<C>(object_)->value; }
  Value& mut() const requires kExclusive { return instance_cast<C>(object_)->value; }
  PyObject* object() const { return object_; }

 private:
  explicit Borrow(PyObject* object) : object_(object) { Py_INCREF(object_); }
  PyObject* object_;
};

template <typename C>
using SharedRef = Borrow<C, false>;
template <typename C>
using ExclusiveRef = Borrow<C, true>;

template <typename C>
std::optional<SharedRef<C>> borrow_ref(PyObject* object) {
  return SharedRef<C>::take(object);
}

template <typename C>
std::optional<ExclusiveRef<C>> borrow_mut(PyObject* object) {
  return ExclusiveRef<C>::take(object);
}

// Check, borrow, deep copy, release: an independent copy of the value.
template <typename C>
std::optional<typename C::Value> extract(PyObject* object) {
  auto borrowed = borrow_ref<C>(object);
  if (!borrowed) return std::nullopt;
  return typename C::Value(**borrowed);
}

// Moves `value` into a new instance allocated through `type` (the class or a
// Python subclass). On failure the value is dropped and the error is set.
template <typename C>
PyObject* into_py_object(typename C::Value&& value, PyTypeObject* type) {
  typename C::Value owned(std::move(value));
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  if (alloc == nullptr) alloc = PyType_GenericAlloc;
  PyObject* object = alloc(type, 0);
  if (object == nullptr) {
    if (!PyErr_Occurred()) {
      raise_text(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  auto* instance = instance_cast<C>(object);
  new (&instance->value) typename C::Value(std::move(owned));
  if constexpr (C::kHasFlag) new (&instance->flag) std::atomic<std::int64_t>(0);
  return object;
}

template <typename C>
PyObject* new_py_object(typename C::Value&& value) {
  return into_py_object<C>(std::move(value), type_object(C::def));
}

// The deallocation slot of every class: drops the value (and the Python
// references it holds), then frees through the instance's own type.
template <typename C>
void dealloc_instance(PyObject* object) {
  call_boundary<int>(0, [object] {
    using V = typename C::Value;
    PyTypeObject* type = Py_TYPE(object);
    instance_cast<C>(object)->value.~V();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(object);
    Py_DECREF(type);
    return 0;
  });
}

// The Py_tp_new of classes without a constructor.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_CLASSES_H_
