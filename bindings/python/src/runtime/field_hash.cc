#include "runtime/field_hash.h"

#include <bit>

namespace vostrel::py {
namespace {

// SipHash state fed incrementally, one byte at a time into a 64-bit word.
class SipHash13 {
 public:
  void write(std::string_view bytes) {
    for (char c : bytes) write_byte(static_cast<unsigned char>(c));
  }

  void write_byte(unsigned char byte) {
    tail_ |= static_cast<std::uint64_t>(byte) << (8 * (length_ % 8));
    ++length_;
    if (length_ % 8 == 0) {
      compress(tail_);
      tail_ = 0;
    }
  }

  std::uint64_t finish() {
    std::uint64_t last = tail_ | (static_cast<std::uint64_t>(length_ & 0xff) << 56);
    compress(last);
    v2_ ^= 0xff;
    round();
    round();
    round();
    return v0_ ^ v1_ ^ v2_ ^ v3_;
  }

 private:
  void compress(std::uint64_t word) {
    v3_ ^= word;
    round();
    v0_ ^= word;
  }

  void round() {
    v0_ += v1_;
    v1_ = std::rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = std::rotl(v0_, 32);
    v2_ += v3_;
    v3_ = std::rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = std::rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = std::rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = std::rotl(v2_, 32);
  }

  // The initial state for the key (0, 0).
  std::uint64_t v0_ = 0x736f6d6570736575ULL;
  std::uint64_t v1_ = 0x646f72616e646f6dULL;
  std::uint64_t v2_ = 0x6c7967656e657261ULL;
  std::uint64_t v3_ = 0x7465646279746573ULL;
  std::uint64_t tail_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace

std::uint64_t siphash13_fields(std::initializer_list<std::string_view> fields) {
  SipHash13 hasher;
  for (std::string_view field : fields) {
    hasher.write(field);
    hasher.write_byte(0xff);
  }
  return hasher.finish();
}

Py_hash_t field_hash(std::initializer_list<std::string_view> fields) {
  auto value = static_cast<Py_hash_t>(siphash13_fields(fields));
  return value == -1 ? -2 : value;
}

}  // namespace vostrel::py
