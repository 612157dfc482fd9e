// The numeric test decides whether a cell value reaches its column or is
// replaced by the fallback, so each rule gets its own cases.
#include <gtest/gtest.h>

#include <clocale>

#include "core/NumericTest.h"

namespace pendra {
namespace {

struct TextCase {
  const char* text;
  bool numeric;
  double value;
};

class NumericText : public ::testing::TestWithParam<TextCase> {};

TEST_P(NumericText, DecidesAndConverts) {
  const TextCase& c = GetParam();
  const auto parsed = ParseNumericText(c.text);
  EXPECT_EQ(parsed.has_value(), c.numeric) << "\"" << c.text << "\"";
  EXPECT_EQ(IsNumeric(Variant(c.text)), c.numeric) << "\"" << c.text << "\"";
  if (parsed && c.numeric) {
    EXPECT_DOUBLE_EQ(*parsed, c.value) << "\"" << c.text << "\"";
  }
}

INSTANTIATE_TEST_SUITE_P(Plain, NumericText, ::testing::Values(
    TextCase{"0", true, 0}, TextCase{"123", true, 123}, TextCase{"2.5", true, 2.5},
    TextCase{".5", true, 0.5}, TextCase{"5.", true, 5}, TextCase{"007", true, 7},
    TextCase{".", false, 0}, TextCase{"", false, 0}, TextCase{"abc", false, 0},
    TextCase{"12abc", false, 0}, TextCase{"1.2.3", false, 0}, TextCase{"1 2", false, 0}));

INSTANTIATE_TEST_SUITE_P(Blanks, NumericText, ::testing::Values(
    TextCase{"  42  ", true, 42}, TextCase{"\t7\n", true, 7}, TextCase{"   ", false, 0},
    TextCase{"\xE3\x80\x80" "8", true, 8} /* ideographic space */));

INSTANTIATE_TEST_SUITE_P(Signs, NumericText, ::testing::Values(
    TextCase{"-5", true, -5}, TextCase{"+5", true, 5}, TextCase{"5-", true, -5},
    TextCase{"5+", true, 5}, TextCase{"- 5", true, -5}, TextCase{"(5)", true, -5},
    TextCase{"--5", false, 0}, TextCase{"-5-", false, 0}, TextCase{"+-5", false, 0},
    TextCase{"(-5)", false, 0}, TextCase{"(5", false, 0}, TextCase{"5)", false, 0},
    TextCase{"-", false, 0}, TextCase{"+", false, 0}));

INSTANTIATE_TEST_SUITE_P(GroupingAndCurrency, NumericText, ::testing::Values(
    TextCase{"1,000", true, 1000}, TextCase{"1,2,3", true, 123}, TextCase{"1,000.25", true, 1000.25},
    TextCase{"1,", true, 1}, TextCase{",5", false, 0}, TextCase{"1.000,5", false, 0},
    TextCase{"\\12,345", true, 12345}, TextCase{"\xC2\xA5" "500", true, 500} /* ¥ */,
    TextCase{"\xEF\xBF\xA5" "500", true, 500} /* ￥ */, TextCase{"$3.50", true, 3.5},
    TextCase{"500\\", true, 500}, TextCase{"-\\500", true, -500}, TextCase{"\\-500", true, -500},
    TextCase{"\\\\5", false, 0}, TextCase{"\\", false, 0}, TextCase{"5%", false, 0},
    TextCase{"\xE2\x82\xAC" "5", false, 0} /* € is not this locale's */));

INSTANTIATE_TEST_SUITE_P(Exponent, NumericText, ::testing::Values(
    TextCase{"1e3", true, 1000}, TextCase{"1E+3", true, 1000}, TextCase{"2.5e-1", true, 0.25},
    TextCase{"1D2", true, 100}, TextCase{"1d-2", true, 0.01}, TextCase{"1e", false, 0},
    TextCase{"1e+", false, 0}, TextCase{"e5", false, 0}, TextCase{"1e400", false, 0},
    TextCase{"1e-400", true, 0}));

INSTANTIATE_TEST_SUITE_P(RadixLiterals, NumericText, ::testing::Values(
    TextCase{"&H10", true, 16}, TextCase{"&hff", true, 255}, TextCase{"&HFFFF", true, -1},
    TextCase{"&H10000", true, 65536}, TextCase{"&HFFFFFFFF", true, -1}, TextCase{"&H100000000", false, 0},
    TextCase{"&O17", true, 15}, TextCase{"&O177777", true, -1}, TextCase{" &H1F ", true, 31},
    TextCase{"&H", false, 0}, TextCase{"&HG", false, 0}, TextCase{"&O8", false, 0},
    TextCase{"-&H10", false, 0}, TextCase{"&10", false, 0}));

INSTANTIATE_TEST_SUITE_P(FullWidth, NumericText, ::testing::Values(
    TextCase{"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93", true, 123} /* １２３ */,
    TextCase{"\xEF\xBC\x8D\xEF\xBC\x95" , true, -5} /* －５ */,
    TextCase{"\xEF\xBC\x91\xEF\xBC\x8E\xEF\xBC\x95", true, 1.5} /* １．５ */,
    TextCase{"\xE4\xB8\x80\xE4\xBA\x8C\xE4\xB8\x89", false, 0} /* 一二三 */,
    TextCase{"\xE3\x81\x82", false, 0} /* あ */));

INSTANTIATE_TEST_SUITE_P(NotNumbers, NumericText, ::testing::Values(
    TextCase{"True", false, 0}, TextCase{"FALSE", false, 0}, TextCase{"2015/09/16", false, 0},
    TextCase{"12:30", false, 0}, TextCase{"inf", false, 0}, TextCase{"NaN", false, 0},
    TextCase{"0x10", false, 0}, TextCase{"1_000", false, 0}, TextCase{"\xFF\xFE", false, 0},
    TextCase{"10+10", false, 0}));

TEST(NumericTest, EmbeddedNulIsNotNumeric) {
  EXPECT_FALSE(ParseNumericText(std::string_view("12\0" "3", 4)).has_value());
}

TEST(NumericTest, ValuesOfEveryKind) {
  EXPECT_TRUE(IsNumeric(Variant()));                // an empty cell
  EXPECT_TRUE(IsNumeric(Variant(true)));
  EXPECT_TRUE(IsNumeric(Variant(false)));
  EXPECT_TRUE(IsNumeric(Variant(int16_t{5})));
  EXPECT_TRUE(IsNumeric(Variant(int32_t{-5})));
  EXPECT_TRUE(IsNumeric(Variant(2.5)));
  EXPECT_TRUE(IsNumeric(Variant::Currency(12345)));
  EXPECT_TRUE(IsNumeric(Variant::Byte(7)));
  EXPECT_TRUE(IsNumeric(Variant::Single(1.5f)));
  EXPECT_FALSE(IsNumeric(Variant::Date(45000.5)));
  EXPECT_FALSE(IsNumeric(Variant::Error(2042)));
  EXPECT_FALSE(IsNumeric(Variant::Null()));
  EXPECT_FALSE(IsNumeric(Variant("")));
}

TEST(NumericTest, IndependentOfTheProcessLocale) {
  // A locale with a decimal comma must not change what "2.5" means.
  // scripts/install-deps generates it; without it the check would prove nothing.
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 missing: run scripts/install-deps";
  ASSERT_EQ(*std::localeconv()->decimal_point, ',');
  const auto value = ParseNumericText("2.5");
  std::setlocale(LC_ALL, "C");
  ASSERT_TRUE(value.has_value());
  EXPECT_DOUBLE_EQ(*value, 2.5);
}

}  // namespace
}  // namespace pendra
