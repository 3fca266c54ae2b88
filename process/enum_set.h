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
    for (E M : Members) FBits |= Bit(M);
  }
  constexpr bool Contains(E Member) const { return (FBits & Bit(Member)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint32_t Bits() const { return FBits; }
  TEnumSet& Include(E Member) {
    FBits |= Bit(Member);
    return *this;
  }
  TEnumSet& Exclude(E Member) {
    FBits &= ~Bit(Member);
    return *this;
  }
  friend constexpr TEnumSet operator+(TEnumSet A, TEnumSet B) { return FromBits(A.FBits | B.FBits); }
  friend constexpr TEnumSet operator-(TEnumSet A, TEnumSet B) { return FromBits(A.FBits & ~B.FBits); }
  friend constexpr TEnumSet operator+(TEnumSet A, E M) { return FromBits(A.FBits | Bit(M)); }
  friend constexpr TEnumSet operator-(TEnumSet A, E M) { return FromBits(A.FBits & ~Bit(M)); }
  friend constexpr bool operator==(TEnumSet A, TEnumSet B) { return A.FBits == B.FBits; }
  friend constexpr bool operator!=(TEnumSet A, TEnumSet B) { return A.FBits != B.FBits; }

 private:
  static constexpr uint32_t Bit(E M) { return uint32_t(1) << static_cast<unsigned>(M); }
  static constexpr TEnumSet FromBits(uint32_t B) {
    TEnumSet S;
    S.FBits = B;
    return S;
  }
  uint32_t FBits = 0;
};
