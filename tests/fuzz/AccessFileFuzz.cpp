// Fuzz target: a genuine Access file changed in a few places, through every
// entry point that reads or writes one: the page model, the catalogue and
// every page taken as a table definition, the table properties, check-mdb,
// and the rewrite of a user table (with no rows, then with rows of Nulls).
//
// The input picks one of the test files (its first byte) and then gives
// changes of four bytes each: the page (one byte, taken modulo the file's
// pages), the offset on it (two bytes, modulo the page size) and the new
// byte. Starting from real files keeps every run inside the format, where
// the parsers' bounds matter.
//
// Checked: nothing but PlatformError is ever raised; a rewrite that
// succeeds leaves a file check-mdb finds clean; the work is bounded (the
// runner's time and memory limits).
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "core/PlatformError.h"
#include "jet/Catalog.h"
#include "jet/Checker.h"
#include "jet/JetFile.h"
#include "jet/Properties.h"
#include "jet/TableDefinition.h"
#include "jet/TableRewrite.h"

namespace {

namespace fs = std::filesystem;
using pendra::PlatformError;
using namespace pendra::jet;

const char* const kBases[] = {"ja_V2000.mdb", "ja_V2007.accdb", "public_domain_sample.accdb", "testV1997.mdb"};

const std::string& Base(size_t which) {
  static std::vector<std::string> bases;
  if (bases.empty()) {
    for (const char* name : kBases) {
      std::ifstream in(std::string(PENDRA_ACCESS_TESTDATA) + "/" + name, std::ios::binary);
      std::ostringstream all;
      all << in.rdbuf();
      bases.push_back(std::move(all).str());
      FUZZ_CHECK(bases.back().size() >= 4096, "the test file is there");
    }
  }
  return bases[which % bases.size()];
}

// Runs one entry point; only PlatformError may come out of it.
template <typename F>
bool Survives(F&& f) {
  try {
    f();
    return true;
  } catch (const PlatformError&) {
    return false;
  }
}

// The writer works on the image in memory: no file system in the loop.
void Rewrite(const std::string& bytes, const TableDefinition& table, const std::string& name) {
  JetFile file(bytes, "fuzz.mdb");
  const auto clean = [&] { return CheckAccessFile(JetFile(file.bytes(), "fuzz.mdb")).Clean(); };
  std::vector<std::vector<pendra::Variant>> rows;
  if (!Survives([&] { RewriteTable(file, name, rows); })) return;
  FUZZ_CHECK(clean(), "a file the writer wrote is clean");
  rows.assign(3, std::vector<pendra::Variant>(table.columns.size(), pendra::Variant::Null()));
  if (Survives([&] { RewriteTable(file, name, rows); })) FUZZ_CHECK(clean(), "a file the writer wrote is clean");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string bytes = Base(data[0]);
  const size_t pageSize = bytes.size() % 4096 == 0 && static_cast<uint8_t>(bytes[0x14]) != 0 ? 4096 : 2048;
  const size_t pages = bytes.size() / pageSize;
  for (size_t at = 1; at + 4 <= size && at < 1 + 4 * 64; at += 4) {
    const size_t page = data[at] % pages;
    const size_t offset = (static_cast<size_t>(data[at + 1]) | static_cast<size_t>(data[at + 2]) << 8) % pageSize;
    bytes[page * pageSize + offset] = static_cast<char>(data[at + 3]);
  }
  std::unique_ptr<JetFile> file;
  if (!Survives([&] { file = std::make_unique<JetFile>(bytes, "fuzz.mdb"); })) return 0;
  bool clean = false;
  Survives([&] { clean = CheckAccessFile(*file).Clean(); });
  for (uint32_t page = 2; page < file->PageCount(); ++page) Survives([&] { ReadTableDefinition(*file, page); });
  std::vector<CatalogEntry> tables;
  if (!Survives([&] {
        for (const CatalogEntry& entry : ReadCatalog(*file))
          if (!entry.system) tables.push_back(entry);
      }))
    return 0;
  for (const CatalogEntry& entry : tables) Survives([&] { TableProperties(*file, entry.name); });
  // One table rewritten per input (the writer flushes the file it writes):
  // the one the first byte's upper bits name.
  if (!clean || tables.empty()) return 0;
  const CatalogEntry& entry = tables[(data[0] >> 2) % tables.size()];
  TableDefinition table;
  if (Survives([&] { table = ReadTableDefinition(*file, entry.definitionPage); })) Rewrite(bytes, table, entry.name);
  return 0;
}
