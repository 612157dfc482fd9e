// A collection told as a multiset, whatever its order: each element's hash
// mixed, summed twice over, and counted. Two collections with the same
// digest hold the same elements; a difference slips through only where
// both 64-bit sums collide at once. Costs no sort and keeps no element.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/Fnv1a.h"

namespace pendra {

struct OrderFreeDigest {
  std::uint64_t count = 0, sum = 0, otherSum = 0;

  // One element, by a hash of it that is already mixed.
  void Add(std::uint64_t mixedHash) {
    ++count;
    sum += mixedHash;
    otherSum += Mix64(mixedHash ^ 0x9e3779b97f4a7c15ull);
  }
  void AddBytes(std::string_view bytes) { Add(Mix64(Fnv1a64(bytes))); }
  bool operator==(const OrderFreeDigest&) const = default;
};

}  // namespace pendra
