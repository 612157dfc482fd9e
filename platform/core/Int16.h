// The signed 16-bit integer the workbook jobs count rows in. Stepping past
// 32767 (or below -32768) raises overflow (6), as the runtime does.
#pragma once

#include <cstdint>

#include "PlatformError.h"

namespace pendra {

class Int16 {
 public:
  constexpr Int16(int16_t value = 0) : value_(value) {}

  constexpr operator int16_t() const { return value_; }

  Int16 operator+(int step) const {
    const int32_t next = int32_t{value_} + step;
    if (next > INT16_MAX || next < INT16_MIN) Raise(err::kOverflow);
    return Int16(static_cast<int16_t>(next));
  }
  Int16& operator+=(int step) { return *this = *this + step; }

 private:
  int16_t value_;
};

}  // namespace pendra
