#include "IndexTree.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "DataPage.h"

namespace pendra::jet {

namespace {

constexpr int kMaxDepth = 16;

uint32_t Be(std::string_view b, size_t at, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

std::string Page(uint32_t page) { return "ページ " + std::to_string(page); }

}  // namespace

bool IndexEntry::operator<(const IndexEntry& other) const {
  const int c = key.compare(other.key);  // std::string compares as unsigned char
  if (c != 0) return c < 0;
  if (page != other.page) return page < other.page;
  return row < other.row;
}

IndexPage ReadIndexPage(const JetFile& file, uint32_t number) {
  const std::string_view b = file.Page(number);
  const Layout& l = file.layout();
  IndexPage page;
  page.number = number;
  const auto type = static_cast<uint8_t>(b[0]);
  if (type != kIndexLeafPage && type != kIndexNodePage) RaiseDamaged(file.path(), Page(number) + " は索引のページではありません");
  page.leaf = type == kIndexLeafPage;
  page.owner = Le32(b, 4);
  page.previous = Le32(b, l.indexPrev);
  page.next = Le32(b, l.indexNext);
  page.tail = Le32(b, l.indexTail);
  const size_t prefixLength = Le16(b, l.indexPrefix);
  const size_t entriesAt = l.indexMask + l.indexMaskSize;
  const size_t trailer = page.leaf ? 4 : 8;
  std::string prefix;
  size_t start = 0;
  for (size_t bit = 0; bit < l.indexMaskSize * 8; ++bit) {
    if ((static_cast<uint8_t>(b[l.indexMask + bit / 8]) & (1u << (bit % 8))) == 0) continue;
    const size_t end = bit;
    if (end <= start || entriesAt + end > b.size()) RaiseDamaged(file.path(), Page(number) + " の索引エントリーの境界が正しくありません");
    std::string bytes = (page.entries.empty() ? std::string() : prefix) + std::string(b.substr(entriesAt + start, end - start));
    if (page.entries.empty()) {
      if (prefixLength > bytes.size()) RaiseDamaged(file.path(), Page(number) + " の共通部分の長さが正しくありません");
      prefix = bytes.substr(0, prefixLength);
    }
    if (bytes.size() < trailer) RaiseDamaged(file.path(), Page(number) + " の索引エントリーが短すぎます");
    IndexEntry entry;
    const size_t keyLength = bytes.size() - trailer;
    entry.key = bytes.substr(0, keyLength);
    entry.page = Be(bytes, keyLength, 3);
    entry.row = static_cast<uint8_t>(bytes[keyLength + 3]);
    if (!page.leaf) entry.child = Be(bytes, keyLength + 4, 4);
    page.entries.push_back(std::move(entry));
    start = end;
  }
  return page;
}

IndexWalk WalkIndex(const JetFile& file, const TableDefinition& table, const RealIndex& index,
                    const std::function<void(IndexEntry&&)>& leafEntry) {
  IndexWalk walk;
  std::set<uint32_t> seen;
  // Each level's pages, left to right, with their links (not their
  // entries: a large index's are never all held here).
  struct Links {
    uint32_t number, previous, next;
  };
  std::map<int, std::vector<Links>> levels;
  const auto problem = [&](const std::string& text) {
    if (walk.problems.size() < 20) walk.problems.push_back(text);
  };
  // The leaf entries in the tree's order, each after the one before.
  size_t leaves = 0;
  std::optional<IndexEntry> lastLeaf;
  std::string outOfOrder;  // told after the tree's own problems
  struct Ends {
    std::optional<IndexEntry> first, last;
  };
  // Returns the subtree's first and last entries (none when it is empty or broken).
  std::function<Ends(uint32_t, int)> visit = [&](uint32_t number, int depth) -> Ends {
    if (depth > kMaxDepth) {
      problem("索引の木が深すぎます (" + Page(number) + ")");
      return {};
    }
    if (!seen.insert(number).second) {
      problem(Page(number) + " が索引の木に二度現れます");
      return {};
    }
    walk.pages.push_back(number);
    IndexPage page = ReadIndexPage(file, number);
    if (page.owner != table.page) problem(Page(number) + " は別のテーブル (" + std::to_string(page.owner) + ") の索引のページです");
    for (size_t i = 1; i < page.entries.size(); ++i)
      if (!(page.entries[i - 1] < page.entries[i])) problem(Page(number) + " の索引エントリーが順番どおりではありません");
    levels[depth].push_back({page.number, page.previous, page.next});
    if (page.leaf) {
      if (page.tail != 0) problem(Page(number) + " は葉なのに末尾のページを持っています");
      if (page.entries.empty()) return {};
      Ends ends{page.entries.front(), page.entries.back()};
      for (IndexEntry& entry : page.entries) {
        if (lastLeaf && !(*lastLeaf < entry) && outOfOrder.empty())
          outOfOrder = "索引エントリーが順番どおりではありません (" + std::to_string(leaves) + " 番目)";
        lastLeaf = entry;
        ++leaves;
        leafEntry(std::move(entry));
      }
      return ends;
    }
    Ends ends;
    const IndexEntry* previous = nullptr;
    for (const IndexEntry& entry : page.entries) {
      const Ends child = visit(entry.child, depth + 1);
      if (child.first && previous && !(*previous < *child.first))
        problem(Page(entry.child) + " の最初のエントリーが親の前のエントリー以下です");
      if (child.last && !child.last->SameAs(entry))
        problem(Page(number) + " のエントリーが子 " + Page(entry.child) + " の最後のエントリーと違います");
      previous = &entry;
      if (!ends.first) ends.first = child.first;
      ends.last = child.last;
    }
    if (page.tail != 0 && (page.entries.empty() || page.entries.back().child != page.tail)) {
      const Ends tail = visit(page.tail, depth + 1);
      if (!ends.first) ends.first = tail.first;
      ends.last = tail.last;
    }
    return ends;
  };
  if (index.rootPage == 0 || !file.HasPage(index.rootPage)) {
    problem("索引の根のページ " + std::to_string(index.rootPage) + " がありません");
    return walk;
  }
  visit(index.rootPage, 0);
  if (!outOfOrder.empty()) problem(outOfOrder);
  // Each level's pages are chained left to right.
  for (const auto& [depth, pages] : levels) {
    for (size_t i = 0; i < pages.size(); ++i) {
      const uint32_t previous = i == 0 ? 0 : pages[i - 1].number;
      const uint32_t next = i + 1 == pages.size() ? 0 : pages[i + 1].number;
      if (pages[i].previous != previous || pages[i].next != next)
        problem(Page(pages[i].number) + " の前後のページ (" + std::to_string(pages[i].previous) + ", " +
                std::to_string(pages[i].next) + ") が木の並びと違います");
    }
  }
  return walk;
}

IndexWalk WalkIndex(const JetFile& file, const TableDefinition& table, const RealIndex& index) {
  std::vector<IndexEntry> entries;
  IndexWalk walk = WalkIndex(file, table, index, [&](IndexEntry&& entry) { entries.push_back(std::move(entry)); });
  walk.entries = std::move(entries);
  return walk;
}

}  // namespace pendra::jet
