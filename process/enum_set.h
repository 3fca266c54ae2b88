// Sets over small enumerations, kept as bit sets.
#pragma once

#include <cstdint>
#include <initializer_list>

// A set of the members of an enumeration whose ordinals run from 0 to 31.
template <class E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> Members) {
    for (E m : Members) Bits_ |= Bit(m);
  }
  constexpr bool Contains(E Member) const { return (Bits_ & Bit(Member)) != 0; }
  constexpr bool Empty() const { return Bits_ == 0; }
  constexpr uint32_t Bits() const { return Bits_; }
  TEnumSet& Include(E Member) { Bits_ |= Bit(Member); return *this; }
  TEnumSet& Exclude(E Member) { Bits_ &= ~Bit(Member); return *this; }
  friend constexpr TEnumSet operator+(TEnumSet a, TEnumSet b) { return FromBits(a.Bits_ | b.Bits_); }
  friend constexpr TEnumSet operator-(TEnumSet a, TEnumSet b) { return FromBits(a.Bits_ & ~b.Bits_); }
  friend constexpr TEnumSet operator+(TEnumSet a, E m) { return FromBits(a.Bits_ | Bit(m)); }
  friend constexpr TEnumSet operator-(TEnumSet a, E m) { return FromBits(a.Bits_ & ~Bit(m)); }
  friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.Bits_ == b.Bits_; }
  friend constexpr bool operator!=(TEnumSet a, TEnumSet b) { return a.Bits_ != b.Bits_; }

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t(1) << static_cast<unsigned>(m); }
  static constexpr TEnumSet FromBits(uint32_t b) { TEnumSet s; s.Bits_ = b; return s; }
  uint32_t Bits_ = 0;
};
