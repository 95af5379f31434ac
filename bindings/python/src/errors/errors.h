// The mapping between core errors and the package's Python exceptions, and the
// process-wide cells that bootstrap fills (exception classes, dialect enum).
#ifndef VOSTREL_BINDING_ERRORS_ERRORS_H_
#define VOSTREL_BINDING_ERRORS_ERRORS_H_

#include <Python.h>

#include <optional>

#include "runtime/ref.h"
#include "utils/error.h"

namespace vostrel::py {

// The package's seven exception classes, in bootstrap's order.
struct ExceptionClasses {
  PyObject* session_error;
  PyObject* gameplan_load_error;
  PyObject* access_denied_error;
  PyObject* provider_error;
  PyObject* provider_http_error;
  PyObject* provider_network_error;
  PyObject* provider_empty_response_error;
};

// Offers the classes (new references) to the set-once cell; the first offer
// stays and a later one is released. Lock held.
void offer_exception_classes(const ExceptionClasses& classes);
// Offers the dialect enumeration (a new reference) the same way.
void offer_dialect_enum(PyObject* dialect);

// The registered classes; the fatal error "vostrel.exceptions has not been
// registered with vostrel._core" when bootstrap has not run.
const ExceptionClasses& exception_classes();
// The registered dialect enumeration (borrowed); the fatal error
// "vostrel._enums has not been registered with vostrel._core" when missing.
PyObject* dialect_enum();

// A Python exception ready to be raised: its type and its value (an instance,
// or the argument of a built-in that is instantiated when raised).
struct PyException {
  PyRef type;
  PyRef value;
  // Sets it as the current error (lock held); returns null for convenience.
  std::nullptr_t raise();
};

// The exception of a core error's kind. Any thread; takes the lock itself.
PyException core_error_to_py(CoreError error);
// Shorthand: converts and raises; returns null.
std::nullptr_t raise_core_error(CoreError error);

// The core error for a raised exception instance (borrowed). Lock held. A
// PanicException coming back from Python resumes the fatal error.
CoreError core_error_from_py(PyObject* exception);
// Takes the current Python error (none set: SystemError "attempted to fetch
// exception but none was set") and converts it.
CoreError core_error_from_pending();
// A core error when `object` is an exception instance, else nothing.
std::optional<CoreError> core_error_from_py_object(PyObject* object);

// str(getattr(object, name)) by the lossy rule; "" on any failure.
std::string py_attr_str(PyObject* object, const char* name);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_ERRORS_ERRORS_H_
