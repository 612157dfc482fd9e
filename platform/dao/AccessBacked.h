// A genuine Access database (Jet 4 / ACE, or Jet 3 for reading) served by
// the layer like any other database. Its tables are read, typed, through
// the Access reader into a private in-memory SQLite database declared with
// the Access design (types and sizes, Required, Allow Zero Length, literal
// defaults, the indexes and their uniqueness), so the jobs run against it
// with every conversion and numbered error the layer has. A committed
// transaction then writes the tables it changed back into the Access file,
// whole, through the Access writer (a new file renamed over the old one);
// tables only read are never written. A row no statement added or updated
// is written back as it was read: byte for byte from where it lies in the
// file, or (in a table with long values, whose pages are written anew)
// from the values read, which the private copy would keep to the second
// only. The private copy is a temporary database on the disk and the rows
// go to the writer one at a time, so a large table costs disk, not memory.
// A rollback, a refused value, a kill
// or any error leave the Access file byte for byte as it was.
//
// Other programs of the installation read the file: when Access has it
// open (its lock file NAME.ldb / NAME.laccdb lies beside it) nothing is
// written, while one of our own jobs writes it holds an exclusive lock on
// the file's folder, so two of our jobs never write the file at once, and
// a change another program made after the file was read refuses the
// commit with nothing changed (platform/access, AccessWriter.h).
#pragma once

#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "access/Fingerprint.h"
#include "jet/TableRewrite.h"
#include "core/Variant.h"
#include "mdb/AccessFile.h"

namespace pendra::dao::detail {

struct Connection;

// The file's header names a Jet or ACE database.
bool HasAccessHeader(const std::string& path);

struct AccessSide {
  std::string path;            // the genuine Access file
  std::string format;          // "Jet 3", "Jet 4", "ACE 12" ...
  access::Fingerprint loaded;  // the file as it was when read
  // Per table, the last AutoNumber the file records: new rows are numbered
  // after it even when the rows holding the highest numbers are gone, as
  // Access numbers them.
  std::map<std::string, int64_t> lastAutoNumber;
  std::set<std::string> changed;   // tables written since the outer BeginTrans
  // The rows as read, by table, in the order of their rowids (1, 2 ...),
  // for writing back a row nobody changed: where each lies in the file
  // (4 bytes a row), and for a table with long values the values read, as
  // the reading child sent them.
  std::map<std::string, std::vector<uint32_t>> places;
  std::map<std::string, mdb::EncodedRows> original;
  // Per table, the rows as read (by rowid - 1) that a statement added or
  // updated since: a bit a row.
  std::map<std::string, std::vector<bool>> touched;
  // What the writer learns of the file as loaded before it changes a page
  // (the check, Access's own keys), learnt on a thread of its own from the
  // outer BeginTrans on, while the job works, and dropped (its thread
  // joined) when the transaction ends; none for a file too large to hold
  // twice.
  std::shared_future<jet::ReadAhead> readAhead;
  int folderLock = -1;         // the folder, locked while a transaction is open

  ~AccessSide();
};

// Opens the Access file at path into a new connection. Raises 3260 naming
// the lock file when Access has it open, 3049 when it is damaged.
std::shared_ptr<Connection> OpenAccessBacked(const std::string& path);

// The outer BeginTrans: takes the folder lock (3260 after a bounded wait),
// refuses when Access has opened the file meanwhile, and reads the file
// again when another program changed it since.
void BeginAccessWrite(Connection& connection);

// The outer CommitTrans, before the private database commits: writes every
// changed table back into the Access file. Raises with nothing changed on
// any refusal.
void WriteBackAccess(Connection& connection);

// The end of the outer transaction, committed or not: forgets the changes
// and releases the folder lock.
void EndAccessWrite(Connection& connection);

}  // namespace pendra::dao::detail
