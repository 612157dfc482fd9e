#include <gtest/gtest.h>

#include <functional>

#include "core/PlatformError.h"
#include "core/Variant.h"

namespace pendra {
namespace {

long NumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const PlatformError& e) {
    return e.Number();
  }
  return 0;
}

TEST(VariantText, NumbersAsTheRuntimeWritesThem) {
  EXPECT_EQ(Variant(0.1 + 0.2).ToText(), "0.3");       // 15 significant digits
  EXPECT_EQ(Variant(2.5).ToText(), "2.5");
  EXPECT_EQ(Variant(-1234567.0).ToText(), "-1234567");
  EXPECT_EQ(Variant(1e15).ToText(), "1E+15");
  EXPECT_EQ(Variant(123456789012345.0).ToText(), "123456789012345");
  EXPECT_EQ(Variant(0.00001).ToText(), "1E-05");
  EXPECT_EQ(Variant(0.0001).ToText(), "0.0001");
  EXPECT_EQ(Variant::Single(0.1f).ToText(), "0.1");     // 7 digits for a Single
  EXPECT_EQ(Variant::Currency(12345000).ToText(), "1234.5");
  EXPECT_EQ(Variant::Currency(-5).ToText(), "-0.0005");
  EXPECT_EQ(Variant(int16_t{-32768}).ToText(), "-32768");
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant().ToText(), "");
}

TEST(VariantText, Dates) {
  EXPECT_EQ(Variant::Date(45296).ToText(), "2024/01/05");
  EXPECT_EQ(Variant::Date(45296.5).ToText(), "2024/01/05 12:00:00");
  EXPECT_EQ(Variant::Date(0).ToText(), "1899/12/30");
  // Within half a second of midnight the time rounds into the next day,
  // away from day 0 before it.
  EXPECT_EQ(Variant::Date(45296.9999999).ToText(), "2024/01/06");
  EXPECT_EQ(Variant::Date(45296.99998).ToText(), "2024/01/05 23:59:58");
  EXPECT_EQ(Variant::Date(-1.9999999).ToText(), "1899/12/28");
}

TEST(VariantConversion, ToDoubleFollowsTheNumericTest) {
  EXPECT_DOUBLE_EQ(Variant("1,000").ToDouble(), 1000);
  EXPECT_DOUBLE_EQ(Variant(true).ToDouble(), -1);
  EXPECT_DOUBLE_EQ(Variant::Currency(15000).ToDouble(), 1.5);
  EXPECT_EQ(NumberOf([] { Variant("abc").ToDouble(); }), err::kTypeMismatch);
  EXPECT_EQ(NumberOf([] { Variant::Null().ToDouble(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(NumberOf([] { Variant::Error(2007).ToDouble(); }), err::kTypeMismatch);
  EXPECT_EQ(NumberOf([] { Variant::Error(2007).ToText(); }), err::kTypeMismatch);
}

TEST(VariantComparison, EmptyText) {
  EXPECT_TRUE(EqualsEmptyText(Variant()));
  EXPECT_TRUE(EqualsEmptyText(Variant("")));
  EXPECT_FALSE(EqualsEmptyText(Variant(" ")));
  EXPECT_FALSE(EqualsEmptyText(Variant(0.0)));
  EXPECT_FALSE(EqualsEmptyText(Variant::Null()));
  EXPECT_EQ(NumberOf([] { EqualsEmptyText(Variant::Error(2042)); }), err::kTypeMismatch);
}

TEST(PlatformErrors, JapaneseDescriptions) {
  EXPECT_EQ(StandardDescription(6), "オーバーフローしました。");
  EXPECT_EQ(StandardDescription(3421), "データ型変換エラーです。");
  EXPECT_EQ(StandardDescription(999999), StandardDescription(1004));
  try {
    Raise(err::kTableNotFound);
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3078);
    EXPECT_FALSE(e.Description().empty());
  }
}

}  // namespace
}  // namespace pendra
