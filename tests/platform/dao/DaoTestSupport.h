// Temporary folders with real SQLite files, and a second connection of
// the test's own to look at (or lock) a file behind the layer's back.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>

#include "core/PlatformError.h"
#include "dao/Dao.h"

namespace pendra::testing {

// The engine number a call fails with, 0 when it succeeds.
long ErrorNumber(const std::function<void()>& call);

// A fresh folder under /tmp, removed with everything in it afterwards.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string folder_;
  // Creates a database file at folder_/name with the given DDL/rows.
  std::string MakeDatabase(const std::string& name, const std::string& sql);
  static dao::Workspace& Ws() { return dao::DBEngine::Instance().Workspaces(0); }
};

// A connection of the test's own, outside the layer.
class RawConnection {
 public:
  explicit RawConnection(const std::string& path);
  ~RawConnection();
  void Exec(const std::string& sql);
  // The first column of the first row, as text ("NULL" for null).
  std::string Scalar(const std::string& sql);
  sqlite3* get() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace pendra::testing
