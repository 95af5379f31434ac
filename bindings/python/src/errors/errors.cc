#include "errors/errors.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "runtime/boundary.h"
#include "runtime/lock.h"
#include "runtime/text.h"

namespace vostrel::py {
namespace {

// Set-once cells: filled by the first bootstrap, read without a lock after.
std::atomic<const ExceptionClasses*> g_exception_classes{nullptr};
std::atomic<PyObject*> g_dialect_enum{nullptr};

constexpr const char* kExceptionsNotRegistered =
    "vostrel.exceptions has not been registered with vostrel._core";
constexpr const char* kEnumsNotRegistered =
    "vostrel._enums has not been registered with vostrel._core";

void release_classes(const ExceptionClasses& c) {
  for (PyObject* object : {c.session_error, c.gameplan_load_error, c.access_denied_error,
                           c.provider_error, c.provider_http_error, c.provider_network_error,
                           c.provider_empty_response_error}) {
    Py_XDECREF(object);
  }
}

// isinstance() where a failing check counts as no match.
bool is_instance(PyObject* object, PyObject* cls) {
  int result = PyObject_IsInstance(object, cls);
  if (result < 0) {
    PyErr_Clear();
    return false;
  }
  return result == 1;
}

bool type_is_subtype(PyObject* object, PyObject* cls) {
  return PyType_IsSubtype(Py_TYPE(object), reinterpret_cast<PyTypeObject*>(cls)) != 0;
}

std::uint16_t status_code_of(PyObject* exception) {
  PyRef attribute = PyRef::steal(PyObject_GetAttrString(exception, "status_code"));
  if (!attribute) {
    PyErr_Clear();
    return 0;
  }
  PyRef index = PyRef::steal(PyNumber_Index(attribute.get()));
  if (!index) {
    PyErr_Clear();
    return 0;
  }
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (PyErr_Occurred()) {
    PyErr_Clear();
    return 0;
  }
  if (overflow != 0 || value < 0 || value > 65535) return 0;
  return static_cast<std::uint16_t>(value);
}

// A PanicException raised by Python code that the core called: report it and
// resume the fatal error, so it reaches the outer caller as a panic again.
void resume_panic_if_any(PyObject* exception) {
  PyObject* panic_type = panic_exception_type();
  if (panic_type == nullptr) {
    PyErr_Clear();
    return;
  }
  if (!type_is_subtype(exception, panic_type)) return;
  std::string message;
  PyRef args = PyRef::steal(PyObject_GetAttrString(exception, "args"));
  if (args && PyTuple_Check(args.get()) && PyTuple_Size(args.get()) > 0) {
    PyObject* first = PyTuple_GetItem(args.get(), 0);
    if (!py_str_lossy(first, message)) PyErr_Clear();
  }
  PyErr_Clear();
  std::fputs("--- PanicException from Python passed back into the native core; resuming it ---\n",
             stderr);
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
  Py_INCREF(type);
  Py_INCREF(exception);
  PyErr_Restore(type, exception, PyException_GetTraceback(exception));
  PyErr_PrintEx(0);
  panic(message);
}

}  // namespace

std::nullptr_t PyException::raise() {
  PyErr_Restore(type.release(), value.release(), nullptr);
  return nullptr;
}

void offer_exception_classes(const ExceptionClasses& classes) {
  auto* offered = new ExceptionClasses(classes);
  const ExceptionClasses* expected = nullptr;
  if (!g_exception_classes.compare_exchange_strong(expected, offered,
                                                   std::memory_order_acq_rel)) {
    release_classes(*offered);
    delete offered;
  }
}

void offer_dialect_enum(PyObject* dialect) {
  PyObject* expected = nullptr;
  if (!g_dialect_enum.compare_exchange_strong(expected, dialect, std::memory_order_acq_rel)) {
    Py_DECREF(dialect);
  }
}

const ExceptionClasses& exception_classes() {
  const ExceptionClasses* classes = g_exception_classes.load(std::memory_order_acquire);
  if (classes == nullptr) panic(kExceptionsNotRegistered);
  return *classes;
}

PyObject* dialect_enum() {
  PyObject* dialect = g_dialect_enum.load(std::memory_order_acquire);
  if (dialect == nullptr) panic(kEnumsNotRegistered);
  return dialect;
}

PyException core_error_to_py(CoreError error) {
  CallbackLockGuard lock;
  const ExceptionClasses& classes = exception_classes();
  PyObject* builtin = nullptr;
  switch (error.kind) {
    case ErrorKind::kNotFound: builtin = PyExc_FileNotFoundError; break;
    case ErrorKind::kValue: builtin = PyExc_ValueError; break;
    case ErrorKind::kIo: builtin = PyExc_OSError; break;
    default: break;
  }
  if (builtin != nullptr) {
    return PyException{PyRef::borrow(builtin), PyRef::steal(new_str(error.message))};
  }

  PyObject* cls = nullptr;
  PyRef args;
  switch (error.kind) {
    case ErrorKind::kProviderHttp: {
      cls = classes.provider_http_error;
      PyRef status = PyRef::steal(PyLong_FromLong(error.status));
      if (!status) panic("failed to create a Python int");
      PyRef url = PyRef::steal(new_str(error.url));
      PyRef body = PyRef::steal(new_str(error.body));
      args = PyRef::steal(PyTuple_Pack(3, status.get(), url.get(), body.get()));
      break;
    }
    case ErrorKind::kProviderNetwork: {
      cls = classes.provider_network_error;
      PyRef url = PyRef::steal(new_str(error.url));
      PyRef cause = PyRef::steal(new_str(error.cause));
      args = PyRef::steal(PyTuple_Pack(2, url.get(), cause.get()));
      break;
    }
    default: {
      switch (error.kind) {
        case ErrorKind::kProvider: cls = classes.provider_error; break;
        case ErrorKind::kProviderEmpty: cls = classes.provider_empty_response_error; break;
        case ErrorKind::kGameplanLoad: cls = classes.gameplan_load_error; break;
        case ErrorKind::kAccessDenied: cls = classes.access_denied_error; break;
        default: cls = classes.session_error; break;
      }
      PyRef message = PyRef::steal(new_str(error.message));
      args = PyRef::steal(PyTuple_Pack(1, message.get()));
      break;
    }
  }
  if (!args) panic("failed to create a Python tuple");

  PyRef result = PyRef::steal(PyObject_Call(cls, args.get(), nullptr));
  if (!result) {
    PyRef raised = take_current_exception();
    PyRef type = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(raised.get())));
    return PyException{std::move(type), std::move(raised)};
  }
  if (PyExceptionInstance_Check(result.get())) {
    PyRef type = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(result.get())));
    return PyException{std::move(type), std::move(result)};
  }
  if (PyExceptionClass_Check(result.get())) return PyException{std::move(result), PyRef()};
  return PyException{PyRef::borrow(PyExc_TypeError),
                     PyRef::steal(new_str("exceptions must derive from BaseException"))};
}

std::nullptr_t raise_core_error(CoreError error) {
  return core_error_to_py(std::move(error)).raise();
}

std::string py_attr_str(PyObject* object, const char* name) {
  PyRef attribute = PyRef::steal(PyObject_GetAttrString(object, name));
  std::string text;
  if (!attribute || !py_str_lossy(attribute.get(), text)) {
    PyErr_Clear();
    return std::string();
  }
  return text;
}

CoreError core_error_from_py(PyObject* exception) {
  resume_panic_if_any(exception);
  std::string message;
  if (!py_str_lossy(exception, message)) {
    PyErr_Clear();
    message.clear();
  }
  const ExceptionClasses& classes = exception_classes();
  if (is_instance(exception, classes.provider_http_error)) {
    std::uint16_t status = status_code_of(exception);
    std::string url = py_attr_str(exception, "url");
    std::string body = py_attr_str(exception, "body");
    return CoreError::provider_http(status, std::move(url), std::move(body));
  }
  if (is_instance(exception, classes.provider_network_error)) {
    std::string url = py_attr_str(exception, "url");
    std::string cause = py_attr_str(exception, "cause");
    return CoreError::provider_network(std::move(url), std::move(cause));
  }
  if (is_instance(exception, classes.provider_empty_response_error)) {
    return CoreError::provider_empty(std::move(message));
  }
  if (is_instance(exception, classes.provider_error)) return CoreError::provider(std::move(message));
  if (is_instance(exception, classes.access_denied_error)) {
    return CoreError::access_denied(std::move(message));
  }
  if (is_instance(exception, classes.gameplan_load_error)) {
    return CoreError::gameplan_load(std::move(message));
  }
  if (type_is_subtype(exception, PyExc_FileNotFoundError)) {
    return CoreError::not_found(std::move(message));
  }
  if (type_is_subtype(exception, PyExc_ValueError)) return CoreError::value(std::move(message));
  return CoreError::session(std::move(message));
}

CoreError core_error_from_pending() {
  if (!PyErr_Occurred()) {
    raise_text(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  PyRef exception = take_current_exception();
  if (!exception) return CoreError::session(std::string());
  return core_error_from_py(exception.get());
}

std::optional<CoreError> core_error_from_py_object(PyObject* object) {
  if (!PyExceptionInstance_Check(object)) return std::nullopt;
  return core_error_from_py(object);
}

}  // namespace vostrel::py
