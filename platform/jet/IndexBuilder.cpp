#include "IndexBuilder.h"

#include <algorithm>

#include "DataPage.h"
#include "core/PlatformError.h"

namespace pendra::jet {

namespace {

std::string Be(uint32_t v, size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[n - 1 - i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// An entry's bytes on the page: key, row page (3 bytes), row (1 byte), and
// for a node its child page (4 bytes), all big-endian.
std::string EntryBytes(const IndexEntry& e, bool leaf) {
  return e.key + Be(e.page, 3) + Be(e.row, 1) + (leaf ? std::string() : Be(e.child, 4));
}

size_t CommonPrefix(const std::string& a, const std::string& b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

// The bytes of a page that entries may take: the room after the entry mask,
// and no more than the mask can mark.
size_t EntryArea(const JetFile& file) {
  const Layout& l = file.layout();
  return std::min(file.PageSize() - (l.indexMask + l.indexMaskSize), l.indexMaskSize * 8 - 1);
}

// A page's entries: a run of the level's entries, not a copy of them.
struct PagePlan {
  const IndexEntry* first = nullptr;
  size_t count = 0;
  uint32_t number = 0;
  uint32_t tail = 0;
  const IndexEntry& Last() const { return first[count - 1]; }
};

// Splits entries into pages: as many as fit the entry area, counting the
// prefix the page's entries share (which only shrinks as entries join).
std::vector<PagePlan> Pack(const JetFile& file, const std::vector<IndexEntry>& entries, bool leaf) {
  const size_t area = EntryArea(file);
  std::vector<PagePlan> plans;
  PagePlan current{entries.data()};
  size_t total = 0, prefix = 0;
  std::string first;
  for (const IndexEntry& entry : entries) {
    const std::string bytes = EntryBytes(entry, leaf);
    size_t newPrefix = current.count == 0 ? bytes.size() : std::min(prefix, CommonPrefix(first, bytes));
    // Only the key's bytes are shared (never the row pointer).
    newPrefix = std::min(newPrefix, entry.key.size());
    const size_t count = current.count + 1;
    const size_t newTotal = total + bytes.size();
    const size_t packed = count == 1 ? newTotal : newTotal - newPrefix * (count - 1);
    if (current.count != 0 && packed > area) {
      plans.push_back(current);
      current = PagePlan{&entry};
      total = 0;
    }
    if (current.count == 0) {
      first = bytes;
      prefix = entry.key.size();
    } else {
      prefix = std::min({prefix, CommonPrefix(first, bytes), entry.key.size()});
    }
    total += bytes.size();
    ++current.count;
  }
  if (current.count != 0 || plans.empty()) plans.push_back(current);
  return plans;
}

void WritePage(JetFile& file, const PagePlan& plan, bool leaf, uint32_t tablePage, uint32_t previous, uint32_t next) {
  const Layout& l = file.layout();
  char* b = file.PageBytes(plan.number);
  b[0] = static_cast<char>(leaf ? kIndexLeafPage : kIndexNodePage);
  b[1] = 0x01;
  PutLe32(b, 4, tablePage);
  PutLe32(b, l.indexPrev, previous);
  PutLe32(b, l.indexNext, next);
  PutLe32(b, l.indexTail, plan.tail);
  std::vector<std::string> bytes;
  for (size_t i = 0; i < plan.count; ++i) bytes.push_back(EntryBytes(plan.first[i], leaf));
  size_t prefix = 0;
  if (bytes.size() > 1) {
    prefix = plan.first[0].key.size();
    for (size_t i = 1; i < bytes.size(); ++i) prefix = std::min({prefix, CommonPrefix(bytes[0], bytes[i]), plan.first[i].key.size()});
  }
  PutLe16(b, l.indexPrefix, static_cast<uint32_t>(prefix));
  size_t offset = 0;
  const size_t entriesAt = l.indexMask + l.indexMaskSize;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const std::string piece = i == 0 ? bytes[i] : bytes[i].substr(prefix);
    // Never past the page: Pack and the size check in BuildIndex keep every
    // page's entries within its area.
    if (offset + piece.size() > EntryArea(file))
      Raise(err::kInvalidOperation, "索引のページ " + std::to_string(plan.number) + " にエントリーが入りきりません。");
    std::copy(piece.begin(), piece.end(), b + entriesAt + offset);
    offset += piece.size();
    b[l.indexMask + offset / 8] = static_cast<char>(b[l.indexMask + offset / 8] | (1 << (offset % 8)));
  }
  PutLe16(b, 2, static_cast<uint32_t>(file.PageSize() - (l.indexMask + l.indexMaskSize) - offset));
}

}  // namespace

BuiltIndex BuildIndex(JetFile& file, PageAllocator& pages, uint32_t tablePage, std::vector<IndexEntry> entries) {
  BuiltIndex built;
  // A node page must hold at least two entries (key, row pointer and child
  // page each) for the levels to narrow to one root; a longer key cannot be
  // written into pages at all, so the index is refused.
  const size_t area = EntryArea(file);
  for (const IndexEntry& e : entries)
    if (2 * (e.key.size() + 8) > area)
      Raise(err::kInvalidOperation, "索引のキーが長すぎます (" + std::to_string(e.key.size()) + " バイト、最大 " +
                                        std::to_string(area / 2 - 8) + " バイト)。この索引は書き込めません。");
  // A unique index's entries come sorted already (its keys were compared).
  if (!std::is_sorted(entries.begin(), entries.end())) std::sort(entries.begin(), entries.end());
  for (size_t i = 0; i < entries.size(); ++i)
    if (i == 0 || entries[i].key != entries[i - 1].key) ++built.distinctKeys;
  bool leaf = true;
  std::vector<IndexEntry> level = std::move(entries);
  for (;;) {
    std::vector<PagePlan> plans = Pack(file, level, leaf);
    std::vector<IndexEntry> lasts;  // each page's last entry, for the level above
    for (PagePlan& plan : plans) {
      plan.number = pages.Take();
      built.pages.push_back(plan.number);
      if (plan.count != 0) lasts.push_back(plan.Last());
      // A node with more than one child gives the last one as its tail.
      if (!leaf && plan.count > 1) {
        plan.tail = plan.Last().child;
        --plan.count;
      }
    }
    for (size_t i = 0; i < plans.size(); ++i)
      WritePage(file, plans[i], leaf, tablePage, i == 0 ? 0 : plans[i - 1].number, i + 1 == plans.size() ? 0 : plans[i + 1].number);
    if (plans.size() == 1) {
      built.root = plans[0].number;
      return built;
    }
    if (!leaf && plans.size() >= level.size())
      Raise(err::kInvalidOperation, "索引の節のページが狭まりません。この索引は書き込めません。");
    std::vector<IndexEntry> parents;
    for (size_t i = 0; i < plans.size(); ++i) {
      IndexEntry parent = lasts[i];
      parent.child = plans[i].number;
      parents.push_back(parent);
    }
    level = std::move(parents);
    leaf = false;
  }
}

}  // namespace pendra::jet
