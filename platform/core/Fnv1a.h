// FNV-1a, 64 bits: a string hash that is the same in every build and run,
// unlike std::hash (the single-instance lock is named by it), and cheap
// enough for the database layer's column lookup.
#pragma once

#include <cstdint>
#include <string_view>

namespace pendra {

inline constexpr std::uint64_t kFnv1aOffset = 14695981039346656037ull;
inline constexpr std::uint64_t kFnv1aPrime = 1099511628211ull;

// One more byte into a running hash that starts at kFnv1aOffset.
constexpr std::uint64_t Fnv1aStep(std::uint64_t hash, unsigned char byte) { return (hash ^ byte) * kFnv1aPrime; }

constexpr std::uint64_t Fnv1a64(std::string_view bytes) {
  std::uint64_t hash = kFnv1aOffset;
  for (char c : bytes) hash = Fnv1aStep(hash, static_cast<unsigned char>(c));
  return hash;
}

// The splitmix64 finaliser: spreads every bit of h over the result (FNV's
// low bits alone sum poorly); one-to-one.
constexpr std::uint64_t Mix64(std::uint64_t h) {
  h ^= h >> 30;
  h *= 0xbf58476d1ce4e5b9ull;
  h ^= h >> 27;
  h *= 0x94d049bb133111ebull;
  h ^= h >> 31;
  return h;
}

}  // namespace pendra
