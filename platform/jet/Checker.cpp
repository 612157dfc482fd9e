#include "Checker.h"

#include <algorithm>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <set>

#include "Catalog.h"
#include "DataPage.h"
#include "IndexKey.h"
#include "IndexTree.h"
#include "JetText.h"
#include "LongValue.h"
#include "RowLayout.h"
#include "UsageMap.h"
#include "core/Fnv1a.h"
#include "core/OrderFreeDigest.h"
#include "core/PlatformError.h"
#include "mdb/AccessFile.h"

namespace pendra::jet {

namespace {

constexpr size_t kMaxShown = 5;
// From this many rows on, an index's tree is walked on a thread of its own
// while the entries its rows call for are worked out: both only read the
// image, and each takes about half the check of the index.
constexpr size_t kWalkAlongsideRows = 4096;

std::string Pages(const std::vector<uint32_t>& pages) {
  std::string text;
  for (size_t i = 0; i < pages.size() && i < kMaxShown; ++i) text += (i ? ", " : "") + std::to_string(pages[i]);
  if (pages.size() > kMaxShown) text += " ほか " + std::to_string(pages.size() - kMaxShown);
  return text;
}

std::vector<uint32_t> Minus(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out += digits[static_cast<uint8_t>(c) >> 4];
    out += digits[static_cast<uint8_t>(c) & 0xF];
  }
  return out;
}

std::string RowName(uint32_t page, uint32_t row) { return std::to_string(page) + ":" + std::to_string(row); }

// Which structure claims each page, to find pages claimed twice.
class Claims {
 public:
  void Add(const std::vector<uint32_t>& pages, const std::string& by) {
    for (uint32_t page : pages) {
      auto [it, fresh] = owners_.emplace(page, by);
      if (!fresh && it->second != by && twice_.size() < 20)
        twice_.push_back("ページ " + std::to_string(page) + " を " + it->second + " と " + by + " が使っています");
    }
  }
  const std::vector<std::string>& twice() const { return twice_; }

 private:
  std::map<uint32_t, std::string> owners_;
  std::vector<std::string> twice_;
};

// An index entry hashed: FNV-1a over its key and row pointer, then mixed.
uint64_t EntryHash(std::string_view key, uint32_t page, uint32_t row) {
  uint64_t h = Fnv1a64(key);
  for (int i = 0; i < 4; ++i) h = Fnv1aStep(h, static_cast<unsigned char>(page >> (8 * i)));
  h = Fnv1aStep(h, static_cast<unsigned char>(row));
  return Mix64(h);
}

// A list of index entries told as a multiset, whatever its order.
using EntryDigest = OrderFreeDigest;

// Whether the keys of an index can be built at all: its columns' types and
// sort orders are ones we know (the same for every row).
bool KeysBuildable(const JetFile& file, const TableDefinition& table, const RealIndex& index) {
  const StoredField null;
  std::string key;
  for (const IndexColumn& ic : index.columns)
    if (!AppendColumnKey(file, *table.ColumnNumbered(ic.columnNumber), ic.ascending, null, key)) return false;
  return true;
}

void CheckIndex(const JetFile& file, const TableDefinition& table, const RealIndex& index, const std::vector<LiveRow>& rows,
                bool systemTable, bool compareKeys, TableCheck& check, Claims& claims) {
  const std::string name = "索引 " + table.IndexNames(index.number);
  const auto problem = [&](const std::string& text) { check.problems.push_back(name + ": " + text); };
  // The tree's leaf entries as they come, each kept as its place and its
  // hash (a million rows' entries are not held); the distinct keys
  // counted, and in a unique index the places whose key repeats the one
  // before.
  struct FoundEntry {
    uint32_t place;
    uint64_t hash;  // EntryHash with the key
  };
  struct Walked {
    IndexWalk walk;
    std::vector<FoundEntry> found;
    size_t distinct = 0;
    std::vector<uint32_t> repeatedKeys;
    std::optional<std::string> failure;  // the tree could not be walked
  };
  const auto walkTree = [&file, &table, &index] {
    Walked w;
    std::string previousKey;
    try {
      w.walk = WalkIndex(file, table, index, [&](IndexEntry&& e) {
        w.found.push_back({e.page << 8 | e.row, EntryHash(e.key, e.page, e.row)});
        if (w.found.size() == 1 || e.key != previousKey) {
          ++w.distinct;
        } else if (index.IsUnique()) {
          w.repeatedKeys.push_back(e.page << 8 | e.row);
        }
        previousKey = std::move(e.key);
      });
    } catch (const PlatformError& e) {
      w.failure = e.Description();
    }
    return w;
  };
  std::future<Walked> walking;
  if (rows.size() >= kWalkAlongsideRows) walking = std::async(std::launch::async, walkTree);
  // Told after what the walk finds, as when the two ran one after the other.
  std::vector<std::string> rowProblems;
  const auto rowProblem = [&](const std::string& text) { rowProblems.push_back(name + ": " + text); };
  bool keysKnown = compareKeys && KeysBuildable(file, table, index);
  std::set<std::pair<uint32_t, uint32_t>> nullEntries;  // rows whose index columns are all Null
  // Rows whose value has no key we know to be Access's (TextKey.h): only
  // their row pointers are compared.
  std::set<std::pair<uint32_t, uint32_t>> notCompared;
  // The entries the rows call for, each given to `take`; a key we cannot
  // build (a sort order or type we do not know) leaves only the row
  // pointers to compare. False when a row cannot be read (told).
  const auto expectedEntries = [&](const std::function<void(const IndexEntry&)>& take) {
    for (const LiveRow& row : rows) {
      if (!keysKnown && !index.IgnoresNulls()) {
        take({std::string(), row.page, row.row, 0});
        continue;
      }
      IndexEntry entry;
      entry.page = row.page;
      entry.row = row.row;
      bool allNull = true;
      try {
        RowKey built = BuildRowKey(file, table, index, StoredRow(file, row.bytes, table));
        allNull = built.allNull;
        // A value whose key we cannot build although we know its type and
        // order (text that does not decode in the file's code page) leaves
        // the row pointers to compare: the writer never writes one.
        if (keysKnown && built.refused) notCompared.insert({row.page, row.row});
        if (built.unkeyable) keysKnown = false;
        if (keysKnown) entry.key = std::move(built.key);
      } catch (const PlatformError& e) {
        rowProblem("行 " + RowName(row.page, row.row) + ": " + e.Description());
        return false;
      }
      if (allNull && index.IgnoresNulls()) continue;
      if (allNull) nullEntries.insert({row.page, row.row});
      if (keysKnown && entry.key.size() > LongestBuiltKey(file)) notCompared.insert({row.page, row.row});
      if (notCompared.count({row.page, row.row}) != 0) entry.key.clear();
      take(entry);
    }
    return true;
  };
  // First told apart by their digests alone: a million rows' entries are
  // not held a second time to find that they match.
  EntryDigest expectedWithKeys, expectedPointers;
  const bool rowsRead = expectedEntries([&](const IndexEntry& e) {
    expectedWithKeys.Add(EntryHash(e.key, e.page, e.row));
    expectedPointers.Add(EntryHash({}, e.page, e.row));
  });

  Walked walked = walking.valid() ? walking.get() : walkTree();
  if (walked.failure) {
    problem(*walked.failure);
    return;
  }
  IndexWalk& walk = walked.walk;
  for (const std::string& text : walk.problems) problem(text);
  std::sort(walk.pages.begin(), walk.pages.end());
  claims.Add(walk.pages, "テーブル " + table.name + " の" + name);
  // The index's own usage map lists exactly the pages of its tree.
  if (index.ownedMap != 0) {
    try {
      const UsageMap map = ReadUsageMap(file, index.ownedMap);
      claims.Add(map.mapPages, "テーブル " + table.name + " の" + name + "の使用状況マップ");
      // A page of the tree missing from the map is damage. Pages the map
      // lists beyond the tree are slack: Access leaves the bits of index
      // pages emptied by deletes, even after the page is given back and
      // taken again; no reader uses this map, and the writer rebuilds it.
      const auto unlisted = Minus(walk.pages, map.pages);
      if (!unlisted.empty()) problem("ページ " + Pages(unlisted) + " が索引の使用状況マップにありません");
    } catch (const PlatformError& e) {
      problem(e.Description());
    }
  }
  check.problems.insert(check.problems.end(), rowProblems.begin(), rowProblems.end());
  if (!rowsRead) return;
  std::vector<FoundEntry>& found = walked.found;
  const size_t distinct = walked.distinct;
  const std::vector<uint32_t>& repeatedKeys = walked.repeatedKeys;
  // Nulls never collide: only keys with a value in some column must be
  // unique (Access keeps several all-Null entries in a unique index).
  std::string duplicateRow;
  for (const uint32_t place : repeatedKeys) {
    if (nullEntries.count({place >> 8, place & 0xFF}) != 0) continue;
    duplicateRow = RowName(place >> 8, place & 0xFF);
    break;
  }
  EntryDigest foundDigest;
  for (const FoundEntry& f : found) {
    const uint32_t page = f.place >> 8, row = f.place & 0xFF;
    const bool keyed = keysKnown && notCompared.count({page, row}) == 0;
    foundDigest.Add(keyed ? f.hash : EntryHash({}, page, row));
  }
  const size_t entriesFound = found.size();
  found = {};
  if (!(foundDigest == (keysKnown ? expectedWithKeys : expectedPointers))) {
    // They differ: both lists, sorted, name the entries missing and extra.
    std::vector<IndexEntry> expected;
    expectedEntries([&](const IndexEntry& e) {
      expected.push_back(e);
      if (!keysKnown) expected.back().key.clear();
    });
    std::vector<IndexEntry> listed = WalkIndex(file, table, index).entries;
    for (IndexEntry& e : listed)
      if (!keysKnown || notCompared.count({e.page, e.row}) != 0) e.key.clear();
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    std::vector<IndexEntry> missing, extra;
    std::set_difference(expected.begin(), expected.end(), listed.begin(), listed.end(), std::back_inserter(missing));
    std::set_difference(listed.begin(), listed.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    for (size_t i = 0; i < missing.size() && i < kMaxShown; ++i)
      problem("行 " + RowName(missing[i].page, missing[i].row) + " のエントリー" + (keysKnown ? " (キー " + Hex(missing[i].key) + ")" : "") +
              " がありません");
    for (size_t i = 0; i < extra.size() && i < kMaxShown; ++i)
      problem("エントリー " + (keysKnown ? Hex(extra[i].key) + " " : "") + "(行 " + RowName(extra[i].page, extra[i].row) +
              ") に合う行がありません");
    if (missing.size() + extra.size() > 2 * kMaxShown)
      problem("食い違いは合わせて " + std::to_string(missing.size() + extra.size()) + " 件です");
  }

  // The definition records how many distinct keys the index holds.
  if (keysKnown) {
    // Access raises the count with each new key but never lowers it when a
    // row goes, so only a count below the keys found is wrong.
    // Access's own system tables do not keep it at all.
    if (!systemTable && distinct > index.entryCount)
      problem("記録されたキーの数 " + std::to_string(index.entryCount) + " が実際の " + std::to_string(distinct) + " と違います");
    if (!duplicateRow.empty()) problem("一意の索引に同じキーが二つ以上あります (行 " + duplicateRow + ")");
  }
  check.notes.push_back(name + ": " + std::to_string(entriesFound) + " エントリー, " + std::to_string(walk.pages.size()) +
                        " ページ" + (keysKnown || !compareKeys || rows.empty() ? "" : " (キーの値は照合していません)") +
                        (keysKnown && !notCompared.empty()
                             ? " (キーを作れない値の " + std::to_string(notCompared.size()) + " エントリーはキーを照合していません)"
                             : ""));
  check.keysNotCompared += keysKnown ? notCompared.size() : 0;
}

// Every long value of the rows is read in full: a chain that loops, leaves
// the file or ends before the value's length is damage.
void CheckLongValues(const JetFile& file, const TableDefinition& table, const std::vector<LiveRow>& rows, TableCheck& check) {
  std::vector<const Column*> columns;
  for (const Column& column : table.columns)
    if (column.type == static_cast<int>(mdb::AccessType::Memo) || column.type == static_cast<int>(mdb::AccessType::Ole))
      columns.push_back(&column);
  if (columns.empty()) return;
  size_t reported = 0;
  std::set<uint32_t> rowsRead;
  for (const LiveRow& row : rows) {
    for (const Column* column : columns) {
      try {
        const StoredField field = StoredRow(file, row.bytes, table).Field(*column);
        if (!field.null && !field.bytes.empty()) ReadLongValue(file, field.bytes, rowsRead);
      } catch (const PlatformError& e) {
        if (reported++ < kMaxShown) check.problems.push_back("行 " + RowName(row.page, row.row) + " の列 " + column->name + ": " + e.Description());
      }
    }
  }
  if (reported > kMaxShown) check.problems.push_back("長い値の問題は合わせて " + std::to_string(reported) + " 件です");
}

bool InFreeMapWindow(const UsageMap& map, uint32_t page) {
  return map.type != 0 || (page >= map.firstPage && page - map.firstPage < map.capacity);
}

TableCheck CheckTable(const JetFile& file, const CatalogEntry& entry, Claims& claims, const UsageMap& fileFree,
                      const CheckOptions& options) {
  const std::vector<uint32_t>& freePages = fileFree.pages;
  TableCheck check;
  check.name = entry.name;
  try {
    TableDefinition table = ReadTableDefinition(file, entry.definitionPage);
    table.name = entry.name;
    claims.Add(table.pages, "テーブル " + entry.name + " の定義");
    UsageMap owned = ReadUsageMap(file, table.ownedMap);
    UsageMap free = ReadUsageMap(file, table.freeMap);
    // A page given back keeps its old header, so the pages that name the
    // table are its pages only while the file does not list them as free.
    // The file's free-page map is inline and covers a window of pages that
    // moves as the file grows; outside it a page's state is not recorded,
    // and a page there is the table's only when its own map lists it.
    std::vector<uint32_t> dataPages;
    for (uint32_t page : Minus(DataPagesOf(file, entry.definitionPage), freePages))
      if (InFreeMapWindow(fileFree, page) || std::binary_search(owned.pages.begin(), owned.pages.end(), page)) dataPages.push_back(page);
    const std::vector<LiveRow> rows = LiveRows(file, dataPages);
    check.rows = static_cast<long>(rows.size());
    if (rows.size() != table.rowCount)
      check.problems.push_back("記録された行数 " + std::to_string(table.rowCount) + " が実際の " + std::to_string(rows.size()) + " と違います");

    claims.Add(owned.mapPages, "テーブル " + entry.name + " の使用状況マップ");
    claims.Add(free.mapPages, "テーブル " + entry.name + " の空き領域マップ");
    const auto notOwned = Minus(dataPages, owned.pages);
    if (!notOwned.empty()) check.problems.push_back("データページ " + Pages(notOwned) + " が使用状況マップにありません");
    std::vector<uint32_t> strangers;
    for (uint32_t page : owned.pages) {
      const std::string_view b = file.Page(page);
      const bool mine = static_cast<uint8_t>(b[0]) == kDataPage && Le32(b, 4) == entry.definitionPage;
      if (!mine) strangers.push_back(page);
    }
    if (!strangers.empty()) check.problems.push_back("使用状況マップのページ " + Pages(strangers) + " はこのテーブルのデータページではありません");
    const auto freeNotOwned = Minus(free.pages, owned.pages);
    if (!freeNotOwned.empty()) check.problems.push_back("空き領域マップのページ " + Pages(freeNotOwned) + " はテーブルのものではありません");
    const auto alsoFree = Minus(owned.pages, Minus(owned.pages, freePages));
    if (!alsoFree.empty()) check.problems.push_back("使用状況マップのページ " + Pages(alsoFree) + " がファイルの空きページにもなっています");
    claims.Add(dataPages, "テーブル " + entry.name);
    // Each long-value column's own map: long-value pages, none of them free.
    for (const LongValueMaps& maps : table.longValueMaps) {
      const Column* column = table.ColumnNumbered(maps.columnNumber);
      const std::string what = "列 " + (column ? column->name : std::to_string(maps.columnNumber)) + " の長い値";
      const UsageMap lv = ReadUsageMap(file, maps.ownedMap);
      claims.Add(lv.mapPages, "テーブル " + entry.name + " の" + what + "の使用状況マップ");
      claims.Add(lv.pages, "テーブル " + entry.name + " の" + what);
      std::vector<uint32_t> notLongValues;
      for (uint32_t page : lv.pages)
        if (static_cast<uint8_t>(file.Page(page)[0]) != kDataPage || !IsLongValuePage(file, page)) notLongValues.push_back(page);
      if (!notLongValues.empty()) check.problems.push_back(what + "の使用状況マップのページ " + Pages(notLongValues) + " は長い値のページではありません");
      const auto lvFree = Minus(lv.pages, Minus(lv.pages, freePages));
      if (!lvFree.empty()) check.problems.push_back(what + "のページ " + Pages(lvFree) + " がファイルの空きページにもなっています");
    }
    check.notes.push_back(std::to_string(rows.size()) + " 行, データページ " + std::to_string(dataPages.size()) + ", 使用状況マップ: " +
                          (owned.type == 0 ? "行内" : "参照") + " " + std::to_string(owned.pages.size()) + " ページ");
    CheckLongValues(file, table, rows, check);
    for (const RealIndex& index : table.realIndexes)
      CheckIndex(file, table, index, rows, entry.system, options.keysNotCompared.count(entry.name) == 0, check, claims);
  } catch (const PlatformError& e) {
    check.problems.push_back(e.Description());
  }
  return check;
}

}  // namespace

bool FileCheck::Clean() const {
  if (!problems.empty()) return false;
  return std::all_of(tables.begin(), tables.end(), [](const TableCheck& t) { return t.problems.empty(); });
}

FileCheck CheckAccessFile(const std::string& path) { return CheckAccessFile(JetFile(path)); }

FileCheck CheckAccessFile(const JetFile& file, const CheckOptions& options) {
  FileCheck check;
  check.format = FormatName(file.format());
  if (file.Encrypted()) {
    check.problems.push_back("暗号化されたファイルは検査できません");
    return check;
  }
  std::vector<CatalogEntry> catalog;
  UsageMap freePages;
  try {
    catalog = ReadCatalog(file);
    freePages = ReadUsageMap(file, kGlobalUsageMap);
  } catch (const PlatformError& e) {
    check.problems.push_back(e.Description());
    return check;
  }
  Claims claims;
  for (const CatalogEntry& entry : catalog) {
    TableCheck table = CheckTable(file, entry, claims, freePages, options);
    check.keysNotCompared += table.keysNotCompared;
    if (!entry.system || !table.problems.empty()) check.tables.push_back(std::move(table));
  }
  check.problems = claims.twice();
  return check;
}

}  // namespace pendra::jet
