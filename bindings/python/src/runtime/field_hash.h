// The hash of value classes that are hashable: SipHash-1-3 under the all-zero
// key over the UTF-8 bytes of each field followed by one 0xFF byte, so the
// value is the same in every process (unlike Python's randomized str hash)
// and field boundaries stay apart ("ab"+"c" differs from "a"+"bc").
#ifndef VOSTREL_BINDING_RUNTIME_FIELD_HASH_H_
#define VOSTREL_BINDING_RUNTIME_FIELD_HASH_H_

#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace vostrel::py {

// SipHash-1-3 (key 0) of the fields, each followed by 0xFF.
std::uint64_t siphash13_fields(std::initializer_list<std::string_view> fields);

// The same as a Python hash: -1 becomes -2, since -1 signals an error.
Py_hash_t field_hash(std::initializer_list<std::string_view> fields);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_FIELD_HASH_H_
