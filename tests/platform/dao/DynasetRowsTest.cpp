// How a dynaset's rows and AddNew's defaults come to be shown: rows are read
// from the file when first shown (as a keyset dynaset does), an edit shows
// the row's own values next to the assigned ones, literal defaults are
// evaluated once per table but a clock default each time, and recordsets
// outlive the layer's caches when the schema changes.
#include <ctime>

#include "DaoTestSupport.h"

namespace pendra::testing {
namespace {

using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;

constexpr const char* kTables = R"sql(
CREATE TABLE U (k LONG PRIMARY KEY, v TEXT(10), w TEXT(10));
INSERT INTO U VALUES (1, 'one', 'eins'), (2, 'two', 'zwei');
CREATE TABLE D (
  n LONG NOT NULL DEFAULT 5, s TEXT(5) DEFAULT 'a''b', y YESNO NOT NULL DEFAULT (-1),
  t DATETIME DEFAULT (datetime('now', 'localtime')), z TEXT(5)
);
CREATE TABLE E (id COUNTER, e LONG DEFAULT (abs(-9223372036854775807 - 1)));
)sql";

// The local time now as an automation date.
double LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::time_t asUtc = timegm(&local);
  return static_cast<double>(asUtc) / 86400.0 + 25569.0;
}

class DynasetRows : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    path_ = MakeDatabase("d.db", kTables);
    db_ = Ws().OpenDatabase(path_);
  }
  std::string path_;
  std::unique_ptr<dao::Database> db_;
};

TEST_F(DynasetRows, RowIsReadWhenShownAndADeletedRowIs3167) {
  auto rs = db_->OpenRecordset("SELECT * FROM U ORDER BY k", dbOpenDynaset);
  RawConnection raw(path_);
  raw.Exec("UPDATE U SET v = 'uno' WHERE k = 1");
  raw.Exec("DELETE FROM U WHERE k = 2");
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(rs->Fields("v").Value(), Variant("uno"));
  rs->MoveNext();
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("v").Value(); }), err::kRecordIsDeleted);
  rs->Edit();
  rs->Fields("v") = Variant("x");
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kRecordIsDeleted);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(k || v) FROM U"), "1uno");
}

TEST_F(DynasetRows, EditShowsAssignedValuesAndTheRowsOwn) {
  auto rs = db_->OpenRecordset("SELECT * FROM U WHERE k = ?", dbOpenDynaset, {Variant(int32_t{2})});
  rs->Edit();
  rs->Fields("v") = Variant("deux");
  EXPECT_EQ(rs->Fields("v").Value(), Variant("deux"));
  EXPECT_EQ(rs->Fields("w").Value(), Variant("zwei"));
  rs->Update();
  EXPECT_EQ(rs->Fields("v").Value(), Variant("deux"));
  rs->Edit();
  rs->Fields("w") = Variant("dos");
  rs->Update();
  EXPECT_EQ(rs->Fields("w").Value(), Variant("dos"));
  EXPECT_EQ(rs->Fields("v").Value(), Variant("deux"));
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT v || w FROM U WHERE k = 2"), "deuxdos");
}

TEST_F(DynasetRows, LiteralAndClockDefaultsAfterEveryAddNew) {
  auto rs = db_->OpenRecordset("SELECT * FROM D", dbOpenDynaset);
  for (int i = 0; i < 2; ++i) {
    rs->AddNew();
    EXPECT_EQ(rs->Fields("n").Value(), Variant(int32_t{5}));
    EXPECT_EQ(rs->Fields("s").Value(), Variant("a'b"));
    EXPECT_EQ(rs->Fields("y").Value(), Variant(true));
    EXPECT_EQ(rs->Fields("z").Value(), Variant::Null());
    const Variant t = rs->Fields("t").Value();
    ASSERT_EQ(t.Type(), VarType::Date);
    EXPECT_NEAR(t.DoubleValue(), LocalNow(), 2.0 / 1440);
    rs->Fields("s") = Variant("c");
    rs->Update();
  }
  // Stored without being shown: SQLite evaluates the clock itself.
  rs->AddNew();
  rs->Fields("z") = Variant("last");
  rs->Update();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(n || s || y || coalesce(z, '-'), ',') FROM D"), "5c-1-,5c-1-,5a'b-1last");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM D WHERE t IS NULL"), "0");
}

TEST_F(DynasetRows, AddedRowIsShownAsStored) {
  db_->Execute("INSERT INTO D (n) VALUES (1)");
  auto rs = db_->OpenRecordset("SELECT * FROM D", dbOpenDynaset);
  rs->AddNew();
  rs->Fields("n") = Variant("7");
  rs->Update();
  EXPECT_EQ(rs->Fields("n").Value(), Variant(int32_t{1}));   // the current row stays
  rs->MoveNext();   // to the added row, at the end
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Fields("n").Value(), Variant(int32_t{7}));
  EXPECT_EQ(rs->Fields("s").Value(), Variant("a'b"));
  EXPECT_EQ(rs->Fields("t").Value().Type(), VarType::Date);
}

TEST_F(DynasetRows, RecordsetsAndDefaultsFollowASchemaChange) {
  auto before = db_->OpenRecordset("SELECT * FROM U WHERE k = 1", dbOpenDynaset);
  db_->Execute("ALTER TABLE U ADD COLUMN x LONG DEFAULT 7");
  // Opened before the change: still reads and writes its columns.
  EXPECT_EQ(before->Fields("v").Value(), Variant("one"));
  before->Edit();
  before->Fields("w") = Variant("un");
  before->Update();
  before->Close();
  auto after = db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset);
  after->AddNew();
  EXPECT_EQ(after->Fields("x").Value(), Variant(int32_t{7}));
  after->Fields("k") = Variant(int32_t{3});
  after->Update();
  EXPECT_EQ(after->Fields("x").Value(), Variant(int32_t{7}));
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(k || coalesce(w, '-') || x) FROM U"), "1un7,2zwei7,3-7");
}

// Whatever blanks come first, a statement that changes the schema makes
// the layer read the table's columns again.
TEST_F(DynasetRows, SchemaChangeAfterLeadingBlanksIsSeen) {
  struct Change {
    const char* statement;
    const char* table;       // read after the change, nullptr: none
    const char* newColumn;   // a column only the changed table has
  };
  const Change changes[] = {
      {"ALTER TABLE U ADD COLUMN a1 LONG", "U", "a1"},
      {"\n\n\n\n\n\n\n\n\n\n\n\nALTER TABLE U ADD COLUMN a2 LONG", "U", "a2"},
      {" \t\r\n \t\r\n \t\r\n alter\ttable U add column a3 LONG", "U", "a3"},
      {"\n\n\n\n\n\n\n\n\n\n\n\nDROP TABLE D", nullptr, nullptr},
      {"\n\n\n\n\n\n\n\n\n\n\n\nCREATE TABLE D (q LONG)", "D", "q"},
  };
  // Both tables' descriptions are known to the layer before the changes.
  db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset)->Close();
  db_->OpenRecordset("SELECT * FROM D", dbOpenDynaset)->Close();
  for (const Change& change : changes) {
    db_->Execute(change.statement);
    if (!change.table) continue;
    auto rs = db_->OpenRecordset(std::string("SELECT * FROM ") + change.table, dbOpenDynaset);
    rs->AddNew();
    EXPECT_EQ(ErrorNumber([&] { rs->Fields(change.newColumn) = Variant(int32_t{1}); }), 0) << change.statement;
    rs->Close();
  }
}

// A default or a counter that cannot be evaluated fails the step that
// shows it instead of showing Null or a wrapped number.
TEST_F(DynasetRows, DefaultOrCounterThatCannotBeEvaluatedFails) {
  auto rs = db_->OpenRecordset("SELECT * FROM E", dbOpenDynaset);
  rs->AddNew();
  EXPECT_EQ(rs->Fields("id").Value(), Variant(int32_t{1}));
  EXPECT_NE(ErrorNumber([&] { rs->Fields("e").Value(); }), 0);   // the expression overflows

  RawConnection other(path_);
  other.Exec("BEGIN EXCLUSIVE");
  EXPECT_EQ(ErrorNumber([&] { rs->AddNew(); }), err::kCouldNotUseLocked);
  other.Exec("ROLLBACK");

  other.Exec("INSERT INTO E VALUES (2147483647, 0)");
  EXPECT_EQ(ErrorNumber([&] { rs->AddNew(); }), err::kOverflow);
}

TEST_F(DynasetRows, FirstOfTwoEqualNamesWinsWhateverWasAskedBefore) {
  auto rs = db_->OpenRecordset("SELECT w, v, k AS V FROM U WHERE k = 1", dbOpenSnapshot);
  EXPECT_EQ(rs->Fields("w").Value(), Variant("eins"));
  EXPECT_EQ(rs->Fields("V").Value(), Variant("one"));
  EXPECT_EQ(rs->Fields("v").Value(), Variant("one"));
  EXPECT_EQ(rs->Fields("V").Name(), "v");
}

TEST_F(DynasetRows, OrderByColumnNumberStaysUpdatable) {
  auto rs = db_->OpenRecordset("SELECT * FROM U ORDER BY 2", dbOpenDynaset);
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->Edit();
  rs->Fields("w") = Variant("x");
  rs->Update();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM U WHERE w = 'x'"), "1");
}

}  // namespace
}  // namespace pendra::testing
