// Result<T>: the value of a fallible operation, or the CoreError that stopped it.
#ifndef VOSTREL_UTILS_RESULT_H_
#define VOSTREL_UTILS_RESULT_H_

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

#include "utils/error.h"

namespace vostrel {

template <typename T>
class [[nodiscard]] Result {
 public:
  static_assert(!std::is_same_v<std::remove_cv_t<T>, CoreError>, "Result<CoreError> is ambiguous");

  Result(const T& value) : v_(std::in_place_index<0>, value) {}  // NOLINT: implicit by design
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  template <typename U>
    requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::remove_cvref_t<U>, T> &&
             !std::is_same_v<std::remove_cvref_t<U>, CoreError> &&
             !std::is_same_v<std::remove_cvref_t<U>, Result>)
  Result(U&& value) : v_(std::in_place_index<0>, std::forward<U>(value)) {}  // NOLINT
  Result(CoreError error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return *std::get_if<0>(&v_); }
  const T& value() const& { assert(ok()); return *std::get_if<0>(&v_); }
  T&& value() && { assert(ok()); return std::move(*std::get_if<0>(&v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const CoreError& error() const& { assert(!ok()); return *std::get_if<1>(&v_); }
  CoreError&& error() && { assert(!ok()); return std::move(*std::get_if<1>(&v_)); }

 private:
  std::variant<T, CoreError> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(CoreError error) : error_(std::move(error)), ok_(false) {}  // NOLINT

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const CoreError& error() const& { assert(!ok_); return error_; }
  CoreError&& error() && { assert(!ok_); return std::move(error_); }

 private:
  CoreError error_;
  bool ok_ = true;
};

using Status = Result<void>;

inline Status ok_status() { return Status(); }

}  // namespace vostrel

#define VOSTREL_CONCAT_INNER_(a, b) a##b
#define VOSTREL_CONCAT_(a, b) VOSTREL_CONCAT_INNER_(a, b)

// Returns the error of a failed Result/Status from the enclosing function.
#define VOSTREL_TRY(expr)                                   \
  do {                                                      \
    auto&& vostrel_try_result_ = (expr);                    \
    if (!vostrel_try_result_.ok())                          \
      return std::move(vostrel_try_result_).error();        \
  } while (false)

// `VOSTREL_ASSIGN_OR_RETURN(auto x, f());` declares x from the value of f() or
// returns its error.
#define VOSTREL_ASSIGN_OR_RETURN(lhs, expr) \
  VOSTREL_ASSIGN_OR_RETURN_IMPL_(VOSTREL_CONCAT_(vostrel_aor_, __LINE__), lhs, expr)
#define VOSTREL_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                                   \
  if (!tmp.ok()) return std::move(tmp).error();        \
  lhs = std::move(tmp).value()

#endif  // VOSTREL_UTILS_RESULT_H_
