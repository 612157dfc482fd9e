#include "TagDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

#include "Fixture.h"
#include "dao/Dao.h"

namespace pendra::tagimport::testing {

namespace {

// Runs a statement straight on the SQLite file: the tests' own way to set
// up a rule and to see every stored value, independent of the layer.
void WithSqlite(const std::string& path, const std::function<void(sqlite3*)>& body) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  body(db);
  sqlite3_close(db);
}

}  // namespace

TagDatabase::TagDatabase() {
  base_ = (folder_.Path() / "base").string();
  path_ = fixture::BaseFolderPaths(base_).tagMasterDb;
  fixture::CreateTagMasterDatabase(path_);
}

void TagDatabase::AddRow(const std::string& tag, const std::map<std::string, Variant>& columns) {
  auto db = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path_);
  auto rs = db->OpenRecordset("SELECT * FROM M_TAG", dao::dbOpenDynaset);
  rs->AddNew();
  rs->Fields("TAG") = Variant(tag);
  for (const auto& [column, value] : columns) rs->Fields(column) = value;
  rs->Update();
  rs->Close();
  db->Close();
}

void TagDatabase::Execute(const std::string& statement) {
  WithSqlite(path_, [&](sqlite3* db) {
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "");
    sqlite3_free(message);
  });
}

long TagDatabase::RowCount() {
  long count = -1;
  WithSqlite(path_, [&](sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM M_TAG", -1, &st, nullptr);
    if (sqlite3_step(st) == SQLITE_ROW) count = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  });
  return count;
}

long TagDatabase::RowsWithTag(const std::string& tag) {
  // Exact, byte for byte: a row stored under another spelling doesn't count.
  long count = -1;
  WithSqlite(path_, [&](sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM M_TAG WHERE TAG = ?1 COLLATE BINARY", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, tag.data(), static_cast<int>(tag.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) count = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  });
  return count;
}

Variant TagDatabase::Value(const std::string& tag, const std::string& column) {
  auto db = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path_);
  auto rs = db->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dao::dbOpenSnapshot, {Variant(tag)});
  Variant value;
  if (rs->Eof()) {
    ADD_FAILURE() << "no row with tag " << tag;
  } else {
    value = rs->Fields(column).Value();
  }
  rs->Close();
  db->Close();
  return value;
}

std::vector<std::string> TagDatabase::Snapshot() {
  std::vector<std::string> rows;
  WithSqlite(path_, [&](sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT * FROM M_TAG ORDER BY rowid", -1, &st, nullptr), SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* text = sqlite3_column_text(st, c);
        row += std::string(sqlite3_column_name(st, c)) + "=" +
               (text ? reinterpret_cast<const char*>(text) : "NULL") + ";";
      }
      rows.push_back(row);
    }
    sqlite3_finalize(st);
  });
  return rows;
}

}  // namespace pendra::tagimport::testing
