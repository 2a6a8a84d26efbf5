#pragma once

#include <cstdint>
#include <initializer_list>

namespace cport {

// A set of enumeration values: bit i stands for the value of ordinal i.
template <typename E, int N>
class TSet {
  static_assert(N > 0 && N <= 32);

 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) Include(v);
  }

  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.bits_ = bits & kAll;
    return s;
  }
  static constexpr TSet Full() { return FromBits(kAll); }

  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr TSet& Include(E v) {
    bits_ |= Bit(v);
    return *this;
  }
  constexpr TSet& Exclude(E v) {
    bits_ &= ~Bit(v);
    return *this;
  }

  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }
  friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(a.bits_ & b.bits_); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.bits_ & ~b.bits_); }

 private:
  static constexpr uint32_t kAll = N == 32 ? 0xFFFFFFFFu : ((1u << N) - 1u);
  static constexpr uint32_t Bit(E v) { return 1u << static_cast<int>(v); }
  uint32_t bits_ = 0;
};

}  // namespace cport
