#include "DaoTestSupport.h"

#include <stdlib.h>

#include <filesystem>

namespace pendra::testing {

long ErrorNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const PlatformError& error) {
    return error.Number();
  }
  return 0;
}

void TempFolderTest::SetUp() {
  char pattern[] = "/tmp/pendra-dao-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
}

void TempFolderTest::TearDown() {
  // A test that failed inside a transaction must not leave it to the next.
  while (ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).Rollback(); }) == 0) {
  }
  std::filesystem::remove_all(folder_);
}

std::string TempFolderTest::MakeDatabase(const std::string& name, const std::string& sql) {
  const std::string path = folder_ + "/" + name;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
  return path;
}

RawConnection::RawConnection(const std::string& path) {
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
}

RawConnection::~RawConnection() { sqlite3_close_v2(db_); }

void RawConnection::Exec(const std::string& sql) {
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
  sqlite3_free(error);
}

std::string RawConnection::Scalar(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
  std::string result = "(no row)";
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(stmt, 0);
    result = text ? reinterpret_cast<const char*>(text) : "NULL";
  }
  sqlite3_finalize(stmt);
  return result;
}

}  // namespace pendra::testing
