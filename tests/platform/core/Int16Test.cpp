#include <gtest/gtest.h>

#include "core/Int16.h"

namespace pendra {
namespace {

TEST(Int16Counter, StepsUpTo32767) {
  Int16 row(32765);
  row += 1;
  row += 1;
  EXPECT_EQ(static_cast<int16_t>(row), 32767);
}

TEST(Int16Counter, StepPast32767IsOverflow) {
  Int16 row(32767);
  try {
    row += 1;
    FAIL() << "no overflow";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), err::kOverflow);
    EXPECT_EQ(e.Description(), "オーバーフローしました。");
  }
  EXPECT_EQ(static_cast<int16_t>(row), 32767);   // unchanged by the failed step
}

TEST(Int16Counter, StepBelowMinimumIsOverflow) {
  Int16 row(-32768);
  EXPECT_THROW(row += -1, PlatformError);
}

}  // namespace
}  // namespace pendra
