// A workspace transaction (or, inside one, a savepoint) that rolls back
// unless committed: whatever way a job leaves its scope (an error, an
// exception no one foresaw, the user ending the program), the tables hold
// exactly what they held before and the workspace is back at the level it
// had. Every job that writes uses it; nothing begins or ends a transaction
// by hand.
#pragma once

#include "dao/Dao.h"

namespace pendra::dao {

class Transaction {
 public:
  explicit Transaction(Workspace& workspace) : workspace_(workspace) {
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

  // A failing commit leaves the level open: dropping the guard rolls it
  // back.
  void Commit() {
    workspace_.CommitTrans();
    open_ = false;
  }

 private:
  Workspace& workspace_;
  bool open_ = true;
};

}  // namespace pendra::dao
