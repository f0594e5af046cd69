#include "check/page_lookup.h"

#include <algorithm>
#include <string>

#include "reffile/reference_file.h"

namespace {

// One page block as the file holds it.
struct Block {
  std::string page;
  size_t marksBegin = 0;  // into the list of all marks, in file order
  size_t marksEnd = 0;
  bool followedBySamePage = false;  // the next page record names the same page
};

}  // namespace

bool buildPageLookup(TextReader& reader, PageLookup* lookup) {
  lookup->pages.clear();
  lookup->marks.clear();
  std::vector<Block> blocks;
  std::vector<std::string> fileMarks;
  if (!reader.rewind()) return false;
  std::string line;
  while (reader.readLine(&line) && !reader.readError()) {
    RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      Record record = parseRecord(line);
      if (!blocks.empty()) {
        blocks.back().marksEnd = fileMarks.size();
        blocks.back().followedBySamePage = blocks.back().page == record.value;
      }
      blocks.push_back(Block{std::move(record.value), fileMarks.size(), 0, false});
    } else if (kind == RecordKind::Mark && !blocks.empty()) {
      fileMarks.push_back(parseRecord(line).value);
    }
  }
  if (reader.readError()) return false;
  if (!blocks.empty()) blocks.back().marksEnd = fileMarks.size();

  // The blocks of each page together, in file order within a page.
  std::vector<uint32_t> order(blocks.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return blocks[a].page < blocks[b].page; });

  lookup->marks.reserve(fileMarks.size());
  lookup->pages.reserve(order.size());
  for (size_t i = 0; i < order.size();) {
    const std::string& page = blocks[order[i]].page;
    PageLookup::Page entry;
    entry.marksBegin = static_cast<uint32_t>(lookup->marks.size());
    // A search for an anchor reads this page's blocks in file order and
    // fails at a page record that follows the same page's block directly:
    // blocks after that one are never reached.
    bool reachable = true;
    size_t j = i;
    for (; j < order.size() && blocks[order[j]].page == page; ++j) {
      const Block& block = blocks[order[j]];
      if (!reachable) continue;
      for (size_t m = block.marksBegin; m < block.marksEnd; ++m) {
        lookup->marks.push_back(std::move(fileMarks[m]));
      }
      if (block.followedBySamePage) reachable = false;
    }
    auto first = lookup->marks.begin() + entry.marksBegin;
    std::sort(first, lookup->marks.end());
    lookup->marks.erase(std::unique(first, lookup->marks.end()), lookup->marks.end());
    entry.marksEnd = static_cast<uint32_t>(lookup->marks.size());
    lookup->pages.emplace(page, entry);
    i = j;
  }
  return true;
}

bool findPage(const PageLookup& lookup, const std::string& target, bool hasAnchor,
              const std::string& anchor) {
  auto found = lookup.pages.find(target);
  if (found == lookup.pages.end()) return false;
  if (!hasAnchor) return true;
  auto first = lookup.marks.begin() + found->second.marksBegin;
  auto last = lookup.marks.begin() + found->second.marksEnd;
  return std::binary_search(first, last, anchor);
}
