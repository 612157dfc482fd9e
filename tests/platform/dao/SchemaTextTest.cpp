// What the database layer learns from SQL text, one table of statements per
// question: whether a statement changes the schema, which table a
// "SELECT *" reads, whether a DEFAULT is a literal, and whether a table's
// DDL refuses zero-length text in a column.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dao/SchemaText.h"

namespace pendra::dao::detail {
namespace {

TEST(SchemaText, StatementsThatChangeTheSchema) {
  const struct {
    const char* statement;
    bool changes;
  } cases[] = {
      {"CREATE TABLE T (a LONG)", true},
      {"alter table T add column b TEXT(5)", true},
      {"DROP TABLE T", true},
      {"\n\n\n\n\n\n\n\n\n\n\n\nALTER TABLE T ADD COLUMN c LONG", true},
      {" \t\r\n DROP\tINDEX i", true},
      {"Create(x)", true},
      {"DELETE FROM T", false},
      {"INSERT INTO T VALUES ('CREATE TABLE')", false},
      {"UPDATE T SET a = 1 -- DROP", false},
      {"CREATED", false},
      {"", false},
      {"   ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ChangesSchema(c.statement), c.changes) << "[" << c.statement << "]";
}

TEST(SchemaText, SingleTableSelectStar) {
  const struct {
    const char* sql;
    std::optional<SingleTableSelect> parts;   // nullopt: not a single-table SELECT *
  } cases[] = {
      {"SELECT * FROM GroupMaster ORDER BY GPno", SingleTableSelect{"GroupMaster", "GroupMaster", " ORDER BY GPno"}},
      {"  select\n*\tfrom M_TAG WHERE TAG = ?", SingleTableSelect{"M_TAG", "M_TAG", " WHERE TAG = ?"}},
      {"SELECT * FROM [Kiki Master]", SingleTableSelect{"[Kiki Master]", "Kiki Master", ""}},
      {"SELECT * FROM \"a\"\"b\" WHERE 1", SingleTableSelect{"\"a\"\"b\"", "a\"b", " WHERE 1"}},
      {"SELECT * FROM `t`", SingleTableSelect{"`t`", "t", ""}},
      {"SELECT * FROM タグ;", SingleTableSelect{"タグ", "タグ", ";"}},
      {"SELECT a FROM T", std::nullopt},
      {"SELECT * FROM A, B", std::nullopt},
      {"SELECT * FROM A JOIN B ON 1", std::nullopt},
      {"SELECT * FROM A AS x", std::nullopt},
      {"SELECT * FROM [unclosed", std::nullopt},
      {"SELECT * FROM", std::nullopt},
      {"DELETE FROM T", std::nullopt},
  };
  for (const auto& c : cases) {
    SingleTableSelect parts;
    const bool single = SplitSelectStar(c.sql, parts);
    ASSERT_EQ(single, c.parts.has_value()) << c.sql;
    if (!single) continue;
    EXPECT_EQ(parts.spelled, c.parts->spelled) << c.sql;
    EXPECT_EQ(parts.table, c.parts->table) << c.sql;
    EXPECT_EQ(parts.rest, c.parts->rest) << c.sql;
  }
}

TEST(SchemaText, LiteralDefaults) {
  const struct {
    const char* sql;
    bool literal;
  } cases[] = {
      {"5", true},          {"-1.5e3", true},     {"'a''b'", true},     {"((0))", true},
      {"NULL", true},       {"true", true},       {"X'00FF'", true},    {" ( 'x' ) ", true},
      {"CURRENT_TIMESTAMP", false}, {"datetime('now')", false}, {"random()", false},
      {"'a' || 'b'", false}, {"1 + 1", false},   {"", false},          {"'unclosed", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsLiteral(c.sql), c.literal) << "[" << c.sql << "]";
}

TEST(SchemaText, ZeroLengthTextRefusedByACheck) {
  const std::string ddl = NormalizeDdl(
      "CREATE TABLE T (\n  a TEXT(5) CHECK (a <> ''),\n  \"B\" TEXT CHECK ( [B] != '' ),\n"
      "  c TEXT, d TEXT CHECK (length(d) > 0), e TEXT CHECK (e <> 'x'))");
  const struct {
    const char* column;
    bool refused;
  } cases[] = {{"a", true}, {"A", true}, {"b", true}, {"c", false}, {"d", true}, {"e", false}};
  for (const auto& c : cases) EXPECT_EQ(RefusesZeroLength(ddl, c.column), c.refused) << c.column;
}

}  // namespace
}  // namespace pendra::dao::detail
