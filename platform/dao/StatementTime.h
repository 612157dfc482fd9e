// How long one database statement may run. The files the tool reads are
// not all its own: a backup put back or a database changed by hand can hold
// a view whose query never ends, and a statement on it would hold the job,
// and the database's lock, for ever. Every statement of the layer therefore
// runs under a deadline, from its first step to its last (the layer reads
// a statement's rows in one go, so this is the statement's running time);
// one that passes it is interrupted and raises 3234. SQLite checks the
// deadline every few thousand instructions, through the connection's
// progress handler.
#pragma once

#include <chrono>

struct sqlite3;
struct sqlite3_stmt;

namespace pendra::dao {

// The bound: a minute, far beyond any statement of the jobs on the largest
// tables they handle.
std::chrono::milliseconds StatementTimeLimit();
// Sets the bound for the whole process (tests lower it to see a statement
// interrupted); returns the one before.
std::chrono::milliseconds SetStatementTimeLimit(std::chrono::milliseconds limit);

// Makes the connection's statements stop at their deadline. Every
// connection the program opens gets it.
void BoundStatementTime(sqlite3* db);

// sqlite3_step and sqlite3_exec under the deadline. A step that ran past
// it returns SQLITE_INTERRUPT.
int Step(sqlite3_stmt* stmt);
int Exec(sqlite3* db, const char* sql);

// The error for a statement interrupted at its deadline (3234).
[[noreturn]] void RaiseStatementTimeout();

}  // namespace pendra::dao
