#include "TableRewrite.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <set>

#include "Catalog.h"
#include "Checker.h"
#include "DataPage.h"
#include "IndexBuilder.h"
#include "IndexKey.h"
#include "IndexTree.h"
#include "JetText.h"
#include "KnownKeys.h"
#include "PageWriter.h"
#include "Properties.h"
#include "RowEncoder.h"
#include "RowLayout.h"
#include "UsageMap.h"
#include "core/AccessType.h"
#include "core/PlatformError.h"

namespace pendra::jet {

namespace {


constexpr size_t kLongValueHeader = 12;
constexpr int kMaxChain = 100000;

void RefuseFormat(const JetFile& file) {
  const std::string name = "'" + file.path() + "'";
  if (file.IsJet3())
    Raise(err::kInvalidOperation, name + " は Jet 3 (Access 97) 形式です。この形式のファイルには書き込みません。");
  if (file.Encrypted()) Raise(err::kInvalidOperation, name + " は暗号化されています。暗号化されたファイルには書き込みません。");
  if (file.PasswordProtected())
    Raise(err::kInvalidOperation, name + " にはパスワードが設定されています。パスワード付きのファイルには書き込みません。");
}

// What we cannot write correctly is refused before anything else.
void RefuseDesign(const JetFile& file, const TableDefinition& table) {
  for (const LogicalIndex& index : table.logicalIndexes)
    if (index.IsForeignKey())
      Raise(err::kInvalidOperation, "テーブル '" + table.name + "' はリレーションシップ (索引 '" + index.name +
                                        "') に加わっています。参照整合性を確かめられないため書き込みません。");
  // A rule Access checks on every row written; we cannot evaluate its
  // expressions, so such a table is not written at all.
  const std::string rule = ValidationRuleOf(TableProperties(file, table.name));
  if (!rule.empty())
    Raise(err::kInvalidOperation, "テーブル '" + table.name + "' には" + rule + "があります。入力規則を確かめられないため書き込みません。");
  for (const Column& column : table.columns)
    if (!IsWritableType(column.type))
      Raise(err::kInvalidOperation, "テーブル '" + table.name + "' の列 '" + column.name + "' の型 (" + TypeName(column.type) +
                                        ") は書き込めません。");
  for (const RealIndex& index : table.realIndexes) {
    for (const IndexColumn& ic : index.columns) {
      const Column& column = *table.ColumnNumbered(ic.columnNumber);
      const auto kind = static_cast<AccessType>(column.type);
      std::string why;
      if (kind == AccessType::Text && !TextSortOrder(file, column, why))
        Raise(err::kInvalidOperation, "索引 '" + table.IndexNames(index.number) + "' の列 '" + column.name + "' は" + why +
                                          "で並べ替えます。この並べ替え順の索引は正しく作れないため書き込みません。");
      if (!IsKeyType(column.type))
        Raise(err::kInvalidOperation, "索引 '" + table.IndexNames(index.number) + "' の列 '" + column.name + "' (" +
                                          TypeName(column.type) + ") の索引は作れないため書き込みません。");
    }
  }
}

bool IsLongValueColumn(const Column& column) {
  return column.type == static_cast<int>(AccessType::Memo) || column.type == static_cast<int>(AccessType::Ole);
}

// The long-value pages the old rows use: followed from each long value.
void CollectLongValuePages(const JetFile& file, const TableDefinition& table, const std::vector<LiveRow>& rows,
                           std::map<uint32_t, std::set<uint32_t>>& used) {
  for (const LiveRow& row : rows) {
    const StoredRow stored(file, row.bytes, table);
    for (const Column& column : table.columns) {
      if (!IsLongValueColumn(column)) continue;
      const StoredField field = stored.Field(column);
      if (field.null || field.bytes.size() < kLongValueHeader) continue;
      const uint32_t kind = static_cast<uint8_t>(field.bytes[3]);
      if (kind == 0x80) continue;  // inside the row
      uint32_t pointer = Le32(field.bytes, 4);
      for (int hops = 0; pointer != 0 && hops < kMaxChain; ++hops) {
        used[pointer >> 8].insert(pointer & 0xFF);
        if (kind == 0x40) break;
        pointer = Le32(RowAt(file, pointer), 0);
      }
    }
  }
}

std::string Describe(const std::vector<Variant>& values, const TableDefinition& table, const RealIndex& index) {
  std::string text;
  for (const IndexColumn& ic : index.columns) {
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (table.columns[i].number != ic.columnNumber) continue;
      const Variant& v = values[i];
      text += (text.empty() ? "" : ", ") + (v.IsNull() || v.IsEmpty() ? std::string("Null") : v.IsString() ? v.StringValue() : v.ToText());
    }
  }
  return text;
}

// The check's first finding, for a message of its own: a finding that is
// itself a "damaged" message of this file gives only what it says is wrong,
// so the message says "damaged" once.
std::string FirstProblem(const JetFile& file, const FileCheck& check) {
  std::string first = check.problems.empty() ? "" : check.problems.front();
  for (const TableCheck& t : check.tables)
    if (first.empty() && !t.problems.empty()) first = t.name + ": " + t.problems.front();
  const std::string damaged = "データベース '" + file.path() + "' が壊れています (";
  const std::string end = ")。";
  const size_t at = first.find(damaged);
  if (at != std::string::npos && first.size() >= at + damaged.size() + end.size() && first.ends_with(end))
    first = first.substr(0, at) + first.substr(at + damaged.size(), first.size() - at - damaged.size() - end.size());
  return first;
}

// A value whose key neither our encoder nor the old index knows.
[[noreturn]] void RefuseUnkeyable(const TableDefinition& table, const RealIndex& index, const Column& column,
                                  const std::string& value, const ColumnKeyRefusal& refusal) {
  char code[8];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(refusal.text.unit));
  Raise(err::kInvalidOperation,
        "テーブル '" + table.name + "' の索引 '" + table.IndexNames(index.number) + "' の列 '" + column.name + "' の値 (" + value +
            ") は、文字 '" + Utf16ToUtf8(std::u16string(1, refusal.text.unit)) + "' (" + code +
            ") の索引キーを Access と同じに作れないため書き込みません。" + UnkeyableAdvice());
}

void PutDefinition(JetFile& file, const TableDefinition& table, size_t at, uint32_t value) {
  const DefinitionPlace place = PlaceOf(file, table, at);
  PutLe32(file.PageBytes(place.page), place.offset, value);
}

// The old rows a rewrite keeps, by their place; each is kept once at most.
class KeptRows {
 public:
  KeptRows(const JetFile& file, const TableDefinition& table, const std::vector<LiveRow>& oldRows)
      : file_(file), table_(table), oldRows_(oldRows), taken_(oldRows.size()) {
    byPlace_.reserve(oldRows.size());
    for (size_t i = 0; i < oldRows.size(); ++i) byPlace_.emplace_back(oldRows[i].page << 8 | oldRows[i].row, i);
    std::sort(byPlace_.begin(), byPlace_.end());
  }
  // The stored bytes of the row at place; raises 3049 for a place that
  // holds no live row of the table, or one kept before.
  std::string_view Take(uint32_t place) {
    const auto it = std::lower_bound(byPlace_.begin(), byPlace_.end(), std::make_pair(place, size_t{0}));
    if (it == byPlace_.end() || it->first != place || taken_[it->second])
      RaiseDamaged(file_.path(), "テーブル '" + table_.name + "' の " + std::to_string(place >> 8) + "/" + std::to_string(place & 0xFF) +
                                     " に読み取った行がありません");
    const std::string_view bytes = oldRows_[it->second].bytes;
    taken_[it->second] = true;
    const StoredRow stored(file_, bytes, table_);
    for (const Column& column : table_.columns) {
      if (!IsLongValueColumn(column)) continue;
      const StoredField field = stored.Field(column);
      if (!field.null && (field.bytes.size() < kLongValueHeader || static_cast<uint8_t>(field.bytes[3]) != 0x80))
        Raise(err::kInvalidOperation, "テーブル '" + table_.name + "' の行の長い値はそのまま残せません。");
    }
    return bytes;
  }
  // A kept row's AutoNumber as stored.
  int64_t Number(std::string_view bytes, const Column& column) const {
    const StoredField field = StoredRow(file_, bytes, table_).Field(column);
    return field.null || field.bytes.size() < 4 ? 0 : static_cast<int64_t>(Le32(field.bytes, 0));
  }

 private:
  const JetFile& file_;
  const TableDefinition& table_;
  const std::vector<LiveRow>& oldRows_;
  std::vector<std::pair<uint32_t, size_t>> byPlace_;  // sorted by place
  std::vector<bool> taken_;                            // by index into oldRows_
};

// Room in the image for what the rewrite adds, asked for once: grown page
// by page, the image is copied each time its capacity doubles and, for that
// moment, held twice. The room is a generous guess (the new rows as large
// as the old ones on average, half-filled pages, an index entry of 64
// bytes); room never written costs address space, not memory.
void ReserveRoom(JetFile& file, const TableDefinition& table, const std::vector<LiveRow>& oldRows, size_t rows,
                 size_t keptBytes, size_t newRows) {
  size_t oldBytes = 0;
  for (const LiveRow& row : oldRows) oldBytes += row.bytes.size();
  const size_t averageRow = oldRows.empty() ? 256 : std::max<size_t>(64, oldBytes / oldRows.size());
  const size_t room = 2 * (keptBytes + newRows * averageRow) + rows * 64 * table.realIndexes.size() + 64 * file.PageSize();
  file.Reserve(file.Size() + room);
}

}  // namespace

RewriteStats RewriteTable(JetFile& file, const std::string& table, const std::vector<std::vector<Variant>>& rows) {
  return RewriteTable(file, table, VectorRows(rows));
}

namespace {
// What was learnt of one table ahead of its rewrite; null: nothing.
struct TableAhead {
  const KnownKeys* knownKeys = nullptr;
  const std::vector<uint32_t>* indexPages = nullptr;
};

long RewriteOne(JetFile& file, const std::string& tableName, const RowSource& given, const TableAhead& ahead);

// The pages of all the table's index trees; raises where one cannot be
// walked.
std::vector<uint32_t> IndexPages(const JetFile& file, const TableDefinition& table) {
  std::vector<uint32_t> pages;
  for (const RealIndex& index : table.realIndexes) {
    const IndexWalk walk = WalkIndex(file, table, index, [](IndexEntry&&) {});  // its pages alone
    pages.insert(pages.end(), walk.pages.begin(), walk.pages.end());
  }
  return pages;
}
}  // namespace

std::string UnkeyableAdvice() {
  return "値を変えるか、Access で [ファイル] → [オプション] → [クライアントの設定] の「新規データベースの並び順序」を"
         "「一般」にしてから、このデータベースで [データベースの最適化/修復] を実行してください (データベースの並べ替え順が"
         "「一般」に変わり、その索引のキーはほぼすべての文字について作れます)。";
}

RewriteStats RewriteTable(JetFile& file, const std::string& table, const RowSource& rows) {
  return RewriteTables(file, {{table, &rows}});
}

ReadAhead ReadAheadOf(const JetFile& file) {
  ReadAhead ahead;
  try {
    ahead.checkedClean = CheckAccessFile(file).Clean();
    for (const CatalogEntry& entry : ReadCatalog(file)) {
      TableDefinition table = ReadTableDefinition(file, entry.definitionPage);
      table.name = entry.name;
      ahead.knownKeys.emplace(entry.name, KnownKeys(file, table, LiveRows(file, ReadUsageMap(file, table.ownedMap).pages)));
      try {
        ahead.indexPages.emplace(entry.name, IndexPages(file, table));
      } catch (const PlatformError&) {
        // The rewrite walks it itself, and refuses.
      }
    }
  } catch (const PlatformError&) {
    // What was not learnt is learnt by the rewrite, which says why.
  }
  return ahead;
}

// The file is checked once before and once after all the tables: a table
// written is checked with the others.
RewriteStats RewriteTables(JetFile& file, const std::vector<TableToWrite>& tables, const ReadAhead* ahead) {
  RefuseFormat(file);
  if (ahead == nullptr || !ahead->checkedClean) {
    CheckOptions checkOptions;
    for (const TableToWrite& table : tables) checkOptions.keysNotCompared.insert(table.table);
    const FileCheck before = CheckAccessFile(file, checkOptions);
    if (!before.Clean()) RaiseDamaged(file.path(), FirstProblem(file, before));
  }
  RewriteStats stats;
  stats.bytesBefore = file.Size();
  for (const TableToWrite& table : tables) {
    TableAhead learnt;
    if (ahead != nullptr) {
      const auto keys = ahead->knownKeys.find(table.table);
      if (keys != ahead->knownKeys.end()) learnt.knownKeys = &keys->second;
      const auto pages = ahead->indexPages.find(table.table);
      if (pages != ahead->indexPages.end()) learnt.indexPages = &pages->second;
    }
    stats.rows += RewriteOne(file, table.table, *table.rows, learnt);
  }
  // The result must pass the same check as any file before it replaces the
  // original; what was written is checked in full, the rewritten tables'
  // keys too.
  const FileCheck after = CheckAccessFile(file);
  if (!after.Clean()) {
    Raise(err::kInvalidOperation, "書き込んだ結果の検査で問題が見つかったため、元のファイルを残しました (" +
                                      FirstProblem(file, after) + ")。");
  }
  stats.bytesAfter = file.Size();
  return stats;
}

namespace {

// One table rewritten, unchecked: RewriteTables checks the file around it.
long RewriteOne(JetFile& file, const std::string& tableName, const RowSource& given, const TableAhead& ahead) {
  const CatalogEntry entry = FindTable(file, tableName);
  TableDefinition table = ReadTableDefinition(file, entry.definitionPage);
  table.name = entry.name;
  RefuseDesign(file, table);

  // The old rows, read before any page changes.
  const UsageMap owned = ReadUsageMap(file, table.ownedMap);
  const std::vector<LiveRow> oldRows = LiveRows(file, owned.pages);

  // One pass before any page changes: the kept rows' bytes are copied
  // (the pages they lie on are given back), and the AutoNumber is found:
  // Null gets the next number after the largest kept, column by column in
  // row order. Only the rows given Null are noted, beside the given rows,
  // which are not copied: the table's values are held once.
  std::vector<size_t> autoNumbers;
  for (size_t c = 0; c < table.columns.size(); ++c)
    if (table.columns[c].IsAutoNumber() && table.columns[c].type == static_cast<int>(AccessType::Long)) autoNumbers.push_back(c);
  // The kept rows' bytes one after another, in the order they are given,
  // and where each ends: a million kept rows cost their bytes and 4 more.
  std::string keptBytes;
  std::vector<uint32_t> keptEnds;
  const auto keptRow = [&](size_t k) {
    const size_t start = k == 0 ? 0 : keptEnds[k - 1];
    return std::string_view(keptBytes).substr(start, keptEnds[k] - start);
  };
  std::vector<std::vector<size_t>> nullRows(autoNumbers.size());  // per AutoNumber column, ascending
  std::vector<uint32_t> numberedAfter(autoNumbers.size());        // the number before its first
  uint32_t lastAutoNumber = table.nextAutoNumber;
  size_t rowsGiven = 0;
  {
    KeptRows kept(file, table, oldRows);
    size_t& i = rowsGiven;
    given.ForEach([&](const GivenRow& row) {
      if (row.values == nullptr) {
        keptBytes += kept.Take(row.kept);
        keptEnds.push_back(static_cast<uint32_t>(keptBytes.size()));
      }
      for (size_t k = 0; k < autoNumbers.size(); ++k) {
        const size_t c = autoNumbers[k];
        int64_t number = 0;
        if (row.values == nullptr) {
          number = kept.Number(keptRow(keptEnds.size() - 1), table.columns[c]);
        } else if (c < row.values->size()) {
          const Variant& v = (*row.values)[c];
          if (v.Type() == VarType::Long || v.Type() == VarType::Integer || v.Type() == VarType::Byte) number = v.IntegerValue();
          if (v.IsNull() || v.IsEmpty()) nullRows[k].push_back(i);
        }
        lastAutoNumber = std::max<uint32_t>(lastAutoNumber, static_cast<uint32_t>(std::max<int64_t>(0, number)));
      }
      ++i;
    }, !autoNumbers.empty());
    for (size_t k = 0; k < autoNumbers.size(); ++k) {
      numberedAfter[k] = lastAutoNumber;
      lastAutoNumber += static_cast<uint32_t>(nullRows[k].size());
    }
  }
  // A row as it is written: as given, with its AutoNumber where it had none.
  std::vector<Variant> scratch;
  auto withNumbers = [&](size_t i, const std::vector<Variant>& values) -> const std::vector<Variant>& {
    bool copied = false;
    for (size_t k = 0; k < autoNumbers.size(); ++k) {
      const auto it = std::lower_bound(nullRows[k].begin(), nullRows[k].end(), i);
      if (it == nullRows[k].end() || *it != i) continue;
      if (!copied) scratch = values;
      copied = true;
      const auto number = static_cast<int32_t>(numberedAfter[k] + static_cast<uint32_t>(it - nullRows[k].begin()) + 1);
      const Variant value(number);
      scratch[autoNumbers[k]] = value;
    }
    return copied ? scratch : values;
  };
  // The values of row i for a message; a kept row's are not at hand.
  auto describe = [&](size_t i, const RealIndex& index) {
    std::string text = "既存の行";
    size_t at = 0;
    given.ForEach([&](const GivenRow& row) {
      if (at++ == i && row.values != nullptr) text = Describe(withNumbers(i, *row.values), table, index);
    });
    return text;
  };

  // Of two colliding rows, the one whose values are at hand.
  std::vector<bool> keptAt;
  auto shown = [&](size_t a, size_t b) { return keptAt[a] ? b : a; };

  // The pages the table gives back: its data pages, its index pages and the
  // long-value pages only its rows use.
  const UsageMap globalBefore = ReadUsageMap(file, kGlobalUsageMap);
  const std::vector<uint32_t>& freeBefore = globalBefore.pages;
  std::set<uint32_t> released;
  released.insert(owned.pages.begin(), owned.pages.end());
  const std::vector<uint32_t> treePages = ahead.indexPages ? *ahead.indexPages : IndexPages(file, table);
  released.insert(treePages.begin(), treePages.end());
  // Access's own keys, read before any page changes (or ahead of them).
  const KnownKeys readNow = ahead.knownKeys ? KnownKeys() : KnownKeys(file, table, oldRows);
  const KnownKeys& knownKeys = ahead.knownKeys ? *ahead.knownKeys : readNow;
  std::map<uint32_t, std::set<uint32_t>> longValueRows;
  CollectLongValuePages(file, table, oldRows, longValueRows);
  // By the set of its live rows, never by their count: a damaged pointer
  // of ours naming a slot that is not there must not give away a page
  // that holds another table's long values.
  for (const auto& [page, used] : longValueRows) {
    if (!IsLongValuePage(file, page)) continue;
    const std::vector<RowSlot> slots = RowSlots(file, page);
    bool ours = true;
    for (size_t slot = 0; slot < slots.size() && ours; ++slot)
      ours = slots[slot].deleted || used.count(static_cast<uint32_t>(slot)) != 0;
    if (ours) released.insert(page);
  }
  for (const LongValueMaps& maps : table.longValueMaps) {
    const UsageMap lv = ReadUsageMap(file, maps.ownedMap);
    for (uint32_t page : lv.pages)
      if (IsLongValuePage(file, page)) released.insert(page);
  }
  // The old rows are read for the last time above: the room moves the
  // image, and with it the bytes they show.
  ReserveRoom(file, table, oldRows, rowsGiven, keptBytes.size(), rowsGiven - keptEnds.size());
  std::set<uint32_t> pool(freeBefore.begin(), freeBefore.end());
  PageAllocator allocator(file, pool);
  for (uint32_t page : released) allocator.GiveBack(page);

  // The rows, their long values on pages of their own column.
  std::map<int, DataPageWriter> longValueWriters;
  for (const Column& column : table.columns)
    if (IsLongValueColumn(column)) longValueWriters.emplace(column.number, DataPageWriter(file, allocator, table.page, true));
  // Each row goes onto its page as soon as it is encoded: the table's rows
  // are never held twice.
  DataPageWriter dataPages(file, allocator, table.page, false);
  std::vector<uint32_t> pointers;  // where each row went, in the order given
  {
    size_t nextKept = 0;
    RowEncoder encoder(file, table, [&](int column) -> DataPageWriter& { return longValueWriters.at(column); });
    given.ForEach([&](const GivenRow& row) {
      const size_t i = pointers.size();
      keptAt.push_back(row.values == nullptr);
      if (row.values == nullptr) {
        // The same rows in the same order as the first pass.
        if (nextKept == keptEnds.size()) Raise(err::kInvalidOperation, "テーブル '" + table.name + "' の行が読むたびに変わりました。");
        pointers.push_back(dataPages.Add(keptRow(nextKept++)));
        return;
      }
      const std::string encoded = encoder.Encode(withNumbers(i, *row.values), static_cast<long>(i));
      if (encoded.size() > 4060)
        Raise(err::kInvalidOperation, "行 " + std::to_string(i + 1) + " が大きすぎます (" + std::to_string(encoded.size()) + " バイト)。");
      pointers.push_back(dataPages.Add(encoded));
    });
  }
  // The row given at a pointer, for a message.
  auto rowAt = [&](const IndexEntry& e) {
    return static_cast<size_t>(std::find(pointers.begin(), pointers.end(), e.page << 8 | e.row) - pointers.begin());
  };

  // The indexes, from the rows as stored.
  std::map<int, std::vector<uint32_t>> builtPages;
  for (RealIndex& index : table.realIndexes) {
    std::vector<IndexEntry> entries;
    entries.reserve(pointers.size());
    std::vector<uint32_t> allNullRows;  // rows with no value in any column of the index
    RowsByPage rows(file);
    for (size_t i = 0; i < pointers.size(); ++i) {
      const StoredRow stored(file, rows.At(pointers[i]), table);
      RowKey built = BuildRowKey(file, table, index, stored);
      if (built.unkeyable)
        Raise(err::kInvalidOperation, "行 " + std::to_string(i + 1) + " の列 '" +
                                          (built.unkeyableColumn ? built.unkeyableColumn->name : std::string()) +
                                          "' の値から索引 '" + table.IndexNames(index.number) + "' のキーを作れないため書き込みません。");
      IndexEntry e;
      e.key = std::move(built.key);
      e.page = pointers[i] >> 8;
      e.row = pointers[i] & 0xFF;
      const bool allNull = built.allNull;
      const Column* refused = built.refused;
      if (allNull && index.IgnoresNulls()) continue;
      const bool tooLong = refused == nullptr && e.key.size() > LongestBuiltKey(file);
      if (refused != nullptr || tooLong) {
        const std::string* accessKey = knownKeys.Find(file, table, index, stored);
        if (accessKey == nullptr && tooLong)
          Raise(err::kInvalidOperation, "テーブル '" + table.name + "' の索引 '" + table.IndexNames(index.number) + "' の値 (" +
                                            describe(i, index) + ") は索引キーが長すぎ、Access と同じキーを作れないため書き込みません。"
                                            "値を短くしてください。");
        if (accessKey == nullptr) RefuseUnkeyable(table, index, *refused, describe(i, index), built.refusal);
        e.key = *accessKey;
      }
      if (allNull) allNullRows.push_back(pointers[i]);
      entries.push_back(std::move(e));
    }
    // Nulls never collide: several rows whose index columns are all Null
    // may share a unique index, as Access allows. (Equal keys are Null in
    // the same columns.)
    if (index.IsUnique()) {
      std::sort(entries.begin(), entries.end());
      std::sort(allNullRows.begin(), allNullRows.end());
      const auto keyed = [&](const IndexEntry& e) { return !std::binary_search(allNullRows.begin(), allNullRows.end(), e.page << 8 | e.row); };
      for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].key == entries[i - 1].key && keyed(entries[i]))
          Raise(err::kDuplicateKey, "索引 '" + table.IndexNames(index.number) + "' の値 (" +
                                        describe(shown(rowAt(entries[i]), rowAt(entries[i - 1])), index) +
                                        ") が重複しています。重複する値は一意の索引に入れられません。");
    }
    const BuiltIndex built = BuildIndex(file, allocator, table.page, std::move(entries));
    PutDefinition(file, table, index.rootPageAt, built.root);
    PutDefinition(file, table, index.entryCountAt, built.distinctKeys);
    builtPages[index.number] = built.pages;
  }
  PutDefinition(file, table, file.layout().tdefRows, static_cast<uint32_t>(pointers.size()));
  PutDefinition(file, table, file.layout().tdefAutoNumber, lastAutoNumber);

  // The usage maps: the table's pages, the last of them as the one with
  // room; each long-value column's pages; then the file's free pages.
  const auto take = [&] { return allocator.Take(); };
  const std::vector<uint32_t>& data = dataPages.Pages();
  WriteUsageMap(file, table.ownedMap, std::set<uint32_t>(data.begin(), data.end()), take);
  WriteUsageMap(file, table.freeMap, data.empty() ? std::set<uint32_t>() : std::set<uint32_t>{data.back()}, take);
  // Each index keeps a map of its own pages.
  for (const RealIndex& index : table.realIndexes)
    if (index.ownedMap != 0) {
      const std::vector<uint32_t>& pages = builtPages[index.number];
      WriteUsageMap(file, index.ownedMap, std::set<uint32_t>(pages.begin(), pages.end()), take);
    }
  for (const LongValueMaps& maps : table.longValueMaps) {
    std::set<uint32_t> pages;
    const auto writer = longValueWriters.find(maps.columnNumber);
    if (writer != longValueWriters.end()) pages.insert(writer->second.Pages().begin(), writer->second.Pages().end());
    WriteUsageMap(file, maps.ownedMap, pages, take);
    WriteUsageMap(file, maps.freeMap, pages.empty() ? std::set<uint32_t>() : std::set<uint32_t>{*pages.rbegin()}, take);
  }
  // The free-page map covers the whole file; taking a page for it changes
  // what is free, so it is written until it holds still.
  // An inline map whose window Access moved on as the file grew keeps its
  // start: the pages before it are recorded neither way (Access never goes
  // back for them), so free ones there are left out rather than the window
  // moved back over pages whose state it does not record.
  const auto recorded = [&] {
    std::set<uint32_t> free(allocator.Free().begin(), allocator.Free().end());
    if (globalBefore.type == 0 && globalBefore.firstPage > 0) free.erase(free.begin(), free.lower_bound(globalBefore.firstPage));
    return free;
  };
  for (int round = 0; round < 3; ++round) {
    const size_t pagesBefore = file.PageCount();
    // A copy: taking a map page changes the allocator's set while it is written.
    const std::set<uint32_t> free = recorded();
    WriteUsageMap(file, kGlobalUsageMap, free, take);
    if (file.PageCount() == pagesBefore && free == recorded()) break;
  }

  return static_cast<long>(pointers.size());
}

}  // namespace

}  // namespace pendra::jet
