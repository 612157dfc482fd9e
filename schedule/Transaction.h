// A workspace transaction that rolls back unless committed: whatever way a
// job leaves its scope (an error, the user ending the program), the tables
// hold exactly what they held before.
#pragma once

#include "dao/Dao.h"

namespace pendra::schedule {

class Transaction {
 public:
  explicit Transaction(dao::Workspace& workspace) : workspace_(workspace) {
    workspace_.BeginTrans();
  }
  ~Transaction() {
    if (open_) {
      try {
        workspace_.Rollback();
      } catch (...) {
        // The database's own journal undoes the work when the rollback
        // cannot run (the connection is gone).
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    workspace_.CommitTrans();
    open_ = false;
  }

 private:
  dao::Workspace& workspace_;
  bool open_ = true;
};

}  // namespace pendra::schedule
