// Assigned values are converted to the column's declared engine type, a
// refused value leaves the column as it was, and values read back with the
// column's type.
#include <bit>
#include <cstdint>
#include <vector>

#include "DaoTestSupport.h"
#include "core/NumericTest.h"

namespace pendra::testing {
namespace {

using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;

constexpr const char* kTypes = R"sql(
CREATE TABLE T (
  id COUNTER, txt TEXT(5), memo LONGTEXT, b BYTE, s SHORT, l LONG, sg SINGLE, d DOUBLE,
  c CURRENCY, dt DATETIME, yn YESNO NOT NULL DEFAULT 0, req TEXT(10) NOT NULL DEFAULT 'x',
  nz TEXT(10) CHECK (nz <> ''), v
);)sql";

class Conversion : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    path_ = MakeDatabase("t.db", kTypes);
    db_ = Ws().OpenDatabase(path_);
    rs_ = db_->OpenRecordset("SELECT * FROM T", dbOpenDynaset);
    rs_->AddNew();
  }
  // The column's value after assigning, or the error number.
  Variant Assign(const char* column, const Variant& value) {
    rs_->Fields(column) = value;
    return rs_->Fields(column).Value();
  }
  long Refusal(const char* column, const Variant& value) {
    return ErrorNumber([&] { rs_->Fields(column) = value; });
  }
  std::string path_;
  std::unique_ptr<dao::Database> db_;
  std::unique_ptr<dao::Recordset> rs_;
};

TEST_F(Conversion, TextIntoWholeNumbers) {
  EXPECT_EQ(Assign("l", "12"), Variant(int32_t{12}));
  EXPECT_EQ(Assign("l", " 1,000 "), Variant(int32_t{1000}));
  EXPECT_EQ(Assign("l", "12.5"), Variant(int32_t{12}));    // half to even
  EXPECT_EQ(Assign("l", "13.5"), Variant(int32_t{14}));
  EXPECT_EQ(Assign("l", "\\1,500"), Variant(int32_t{1500}));
  EXPECT_EQ(Assign("l", "\xEF\xBC\x91\xEF\xBC\x92"), Variant(int32_t{12}));   // full-width
  EXPECT_EQ(Assign("s", "-7"), Variant(int16_t{-7}));
  EXPECT_EQ(Assign("b", "255"), Variant::Byte(255));
  EXPECT_EQ(Assign("s", Variant(true)), Variant(int16_t{-1}));
}

// Plain decimal texts are converted without the general parse: the
// result must be the very Double the general parse gives.
TEST_F(Conversion, PlainDecimalTextGivesTheGeneralParsesNumber) {
  std::vector<std::string> texts = {"0", "-0", "0.0", "1.5", "-1.005", "0.1", "0.3", "2.675",
                                    "123456789012345", "-999999999999999", "12345678.9012345",
                                    "0.000000000000001", "9007199254740993", "0.30000000000000004",
                                    "1.", "007", "1.10"};
  uint64_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    const int digits = 1 + static_cast<int>(seed >> 60);
    std::string text = std::to_string((seed >> 8) % 1000000000000000ull).substr(0, static_cast<size_t>(digits));
    const size_t point = (seed >> 4) % (text.size() + 1);
    if (point < text.size()) text.insert(point == 0 ? 0 : point, point == 0 ? "0." : ".");
    texts.push_back((seed & 1) ? "-" + text : text);
  }
  for (const std::string& text : texts) {
    const auto expected = ParseNumericText(text);
    ASSERT_TRUE(expected) << text;
    const Variant value = Assign("d", Variant(text));
    ASSERT_EQ(value.Type(), VarType::Double) << text;
    EXPECT_EQ(std::bit_cast<uint64_t>(value.DoubleValue()), std::bit_cast<uint64_t>(*expected)) << text;
  }
}

TEST_F(Conversion, RefusedValueKeepsTheColumn) {
  Assign("l", "12");
  EXPECT_EQ(Refusal("l", "abc"), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("l", ""), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("l", Variant::Error(2042)), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("l", "2147483648"), err::kDataTypeConversion);
  EXPECT_EQ(rs_->Fields("l").Value(), Variant(int32_t{12}));
  EXPECT_EQ(Refusal("s", Variant(40000.0)), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("b", Variant(int16_t{256})), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("b", Variant(int16_t{-1})), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("b", Variant(true)), err::kDataTypeConversion);   // True is -1
  EXPECT_EQ(Refusal("sg", Variant(1e39)), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("d", "1e400"), err::kDataTypeConversion);
}

TEST_F(Conversion, NumbersIntoText) {
  EXPECT_EQ(Assign("txt", Variant(2.5)), Variant("2.5"));
  EXPECT_EQ(Assign("txt", Variant(0.1 + 0.2)), Variant("0.3"));
  EXPECT_EQ(Assign("txt", Variant(int16_t{12})), Variant("12"));
  EXPECT_EQ(Assign("txt", Variant(true)), Variant("True"));
  EXPECT_EQ(Assign("txt", "日本語テキ"), Variant("日本語テキ"));   // 5 characters fit TEXT(5)
  EXPECT_EQ(Refusal("txt", "日本語テキス"), err::kFieldTooSmall);
  EXPECT_EQ(Refusal("txt", "123456"), err::kFieldTooSmall);
  EXPECT_EQ(Refusal("txt", Variant::Error(2007)), err::kDataTypeConversion);
  EXPECT_EQ(rs_->Fields("txt").Value(), Variant("日本語テキ"));
  EXPECT_EQ(Assign("txt", ""), Variant(""));       // zero-length allowed here
}

TEST_F(Conversion, ZeroLengthTextWhereNoneIsAllowed) {
  Assign("nz", "ok");
  try {
    rs_->Fields("nz") = Variant("");
    FAIL();
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), err::kZeroLengthNotAllowed);
    EXPECT_NE(e.Description().find("T.nz"), std::string::npos);
  }
  EXPECT_EQ(rs_->Fields("nz").Value(), Variant("ok"));
}

TEST_F(Conversion, YesNo) {
  EXPECT_EQ(Assign("yn", "TRUE"), Variant(true));
  EXPECT_EQ(Assign("yn", "false"), Variant(false));
  EXPECT_EQ(Assign("yn", "Yes"), Variant(true));
  EXPECT_EQ(Assign("yn", "No"), Variant(false));
  EXPECT_EQ(Assign("yn", "5"), Variant(true));
  EXPECT_EQ(Assign("yn", "0"), Variant(false));
  EXPECT_EQ(Assign("yn", Variant(2.5)), Variant(true));
  EXPECT_EQ(Assign("yn", Variant(int16_t{0})), Variant(false));
  Assign("yn", Variant(true));
  EXPECT_EQ(Refusal("yn", "maybe"), err::kDataTypeConversion);
  EXPECT_EQ(rs_->Fields("yn").Value(), Variant(true));
  EXPECT_EQ(Assign("yn", Variant::Null()), Variant(false));   // a yes/no column holds no Null
}

TEST_F(Conversion, DatesCurrencySingle) {
  EXPECT_EQ(Assign("dt", "2024/1/5"), Variant::Date(45296));
  EXPECT_EQ(Assign("dt", "2024-01-05 12:00"), Variant::Date(45296.5));
  EXPECT_EQ(Assign("dt", "2024年1月5日"), Variant::Date(45296));
  EXPECT_EQ(Assign("dt", Variant(45296.25)), Variant::Date(45296.25));
  EXPECT_EQ(Refusal("dt", "2024/2/30"), err::kDataTypeConversion);
  EXPECT_EQ(Refusal("dt", "yesterday"), err::kDataTypeConversion);
  EXPECT_EQ(Assign("c", "1.23456"), Variant::Currency(12346));
  // Beyond the range is the engine's overflow, never a wrapped number.
  EXPECT_EQ(Assign("c", Variant(-922337203685477.0)), Variant::Currency(-922337203685477LL * 10000 + 336));
  EXPECT_EQ(Refusal("c", Variant(9.3e14)), err::kOverflow);
  EXPECT_EQ(Refusal("c", "-1E+16"), err::kOverflow);
  EXPECT_EQ(Refusal("c", Variant::Currency(INT64_MAX)), err::kOverflow);
  EXPECT_EQ(Assign("sg", Variant(0.1)), Variant::Single(0.1f));
  EXPECT_EQ(Assign("d", "-2.5e3"), Variant(-2500.0));
  EXPECT_EQ(Assign("v", Variant(int16_t{3})), Variant(int16_t{3}));   // no declared type: as given
  EXPECT_EQ(Assign("l", Variant()), Variant::Null());                 // Empty stores Null
}

TEST_F(Conversion, StoredFormsAndTypesReadBack) {
  Assign("txt", "0123");
  Assign("memo", "007");
  Assign("b", "200");
  Assign("s", "-300");
  Assign("l", "70000");
  Assign("sg", "1.5");
  Assign("d", "2.25");
  Assign("c", "1234.5");
  Assign("dt", "2024/01/05 10:20:30");
  Assign("yn", "TRUE");
  Assign("nz", "n");
  rs_->Update();
  rs_->Close();

  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT yn FROM T"), "-1");
  EXPECT_EQ(raw.Scalar("SELECT dt FROM T"), "2024-01-05 10:20:30");
  EXPECT_EQ(raw.Scalar("SELECT typeof(l) || typeof(txt) || typeof(memo) FROM T"), "integertexttext");
  EXPECT_EQ(raw.Scalar("SELECT memo FROM T"), "007");

  auto rs = db_->OpenRecordset("SELECT * FROM T", dbOpenSnapshot);
  EXPECT_EQ(rs->Fields("id").Value(), Variant(int32_t{1}));
  EXPECT_EQ(rs->Fields("txt").Value(), Variant("0123"));
  EXPECT_EQ(rs->Fields("b").Value(), Variant::Byte(200));
  EXPECT_EQ(rs->Fields("s").Value(), Variant(int16_t{-300}));
  EXPECT_EQ(rs->Fields("l").Value(), Variant(int32_t{70000}));
  EXPECT_EQ(rs->Fields("sg").Value(), Variant::Single(1.5f));
  EXPECT_EQ(rs->Fields("d").Value(), Variant(2.25));
  EXPECT_EQ(rs->Fields("c").Value(), Variant::Currency(12345000));
  EXPECT_EQ(rs->Fields("dt").Value(), Variant::Date(45296 + (10 * 3600 + 20 * 60 + 30) / 86400.0));
  EXPECT_EQ(rs->Fields("yn").Value(), Variant(true));
  EXPECT_EQ(rs->Fields("req").Value(), Variant("x"));   // default
  EXPECT_EQ(rs->Fields("v").Value(), Variant::Null());
}

// A CURRENCY column holding more than its range (written by another
// program) reads as the number it holds, not as a wrapped one.
TEST_F(Conversion, CurrencyBeyondTheRangeReadsAsItsNumber) {
  rs_->Close();
  RawConnection raw(path_);
  raw.Exec("INSERT INTO T (c, req) VALUES (1e16, 'a'), (922337203685477.5, 'b'), (-5e15, 'c'), (12.5, 'd')");
  auto rs = db_->OpenRecordset("SELECT * FROM T ORDER BY req", dbOpenSnapshot);
  for (const Variant& expected : {Variant(1e16), Variant(922337203685477.5), Variant(-5e15), Variant::Currency(125000)}) {
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Fields("c").Value(), expected) << expected.Describe();
    rs->MoveNext();
  }
}

TEST_F(Conversion, DefaultsAndCounterAfterAddNew) {
  EXPECT_EQ(rs_->Fields("yn").Value(), Variant(false));
  EXPECT_EQ(rs_->Fields("req").Value(), Variant("x"));
  EXPECT_EQ(rs_->Fields("id").Value(), Variant(int32_t{1}));
  EXPECT_EQ(rs_->Fields("l").Value(), Variant::Null());
  rs_->Update();
  rs_->AddNew();
  EXPECT_EQ(rs_->Fields("id").Value(), Variant(int32_t{2}));
  rs_->Update();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(id) FROM T"), "1,2");
}

TEST_F(Conversion, NullIntoRequiredColumnRefusedAtUpdate) {
  rs_->Fields("req") = Variant::Null();   // accepted now, refused when stored
  try {
    rs_->Update();
    FAIL();
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), err::kFieldRequired);
    EXPECT_NE(e.Description().find("T.req"), std::string::npos);
  }
  rs_->Close();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T"), "0");
}

}  // namespace
}  // namespace pendra::testing
