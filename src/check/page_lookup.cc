#include "check/page_lookup.h"

#include <algorithm>
#include <string>

#include "reffile/reference_file.h"

namespace {

constexpr uint32_t kNoBlock = UINT32_MAX;

// One page block as the file holds it.
struct Block {
  size_t name = 0;        // into the lookup's text
  size_t marksBegin = 0;  // into the list of all marks, in file order
  size_t marksEnd = 0;
  uint32_t nextOfPage = kNoBlock;   // the same page's next block in file order
  bool followedBySamePage = false;  // the next page record names the same page
};

size_t appendText(std::string* text, std::string_view value) {
  const size_t at = text->size();
  size_t size = value.size();
  do {
    const auto low = static_cast<unsigned char>(size & 0x7F);
    size >>= 7;
    text->push_back(static_cast<char>(size != 0 ? low | 0x80 : low));
  } while (size != 0);
  text->append(value);
  return at;
}

std::string_view textAt(const std::string& text, size_t at) {
  size_t size = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(text[at++]);
    size |= static_cast<size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return std::string_view(text).substr(at, size);
}

uint64_t hashName(std::string_view name) {
  uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  return h;
}

// The slot of name: the one that holds it, or the empty one where it would go.
size_t findSlot(const PageLookup& lookup, std::string_view name, uint64_t hash) {
  const size_t mask = lookup.slots.size() - 1;
  const uint64_t tag = hash >> 32;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    const uint64_t slot = lookup.slots[i];
    if (slot == 0) return i;
    if ((slot >> 32) == tag) {
      const PageLookup::Page& page = lookup.pages[(slot & 0xFFFFFFFFu) - 1];
      if (textAt(lookup.text, page.name) == name) return i;
    }
  }
}

}  // namespace

void buildPageLookup(TextReader& reader, PageLookup* lookup) {
  lookup->text.clear();
  lookup->pages.clear();
  lookup->marks.clear();
  lookup->slots.clear();
  std::vector<Block> blocks;
  std::vector<size_t>& marks = lookup->marks;  // in file order until sorted below
  reader.rewind();
  std::string line;
  while (reader.readLine(&line)) {
    const RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      const RecordView record = viewRecord(line);
      if (!blocks.empty()) {
        Block& last = blocks.back();
        last.marksEnd = marks.size();
        last.followedBySamePage = textAt(lookup->text, last.name) == record.value;
      }
      Block block;
      block.name = appendText(&lookup->text, record.value);
      block.marksBegin = marks.size();
      blocks.push_back(block);
    } else if (kind == RecordKind::Mark && !blocks.empty()) {
      marks.push_back(appendText(&lookup->text, viewRecord(line).value));
    }
  }
  if (!blocks.empty()) blocks.back().marksEnd = marks.size();

  // The pages by name, each with its blocks chained in file order.
  size_t slotCount = 16;
  while (slotCount < blocks.size() * 2) slotCount *= 2;
  lookup->slots.assign(slotCount, 0);
  std::vector<uint32_t> lastBlock;
  std::vector<uint32_t> firstBlock;
  for (size_t b = 0; b < blocks.size(); ++b) {
    const std::string_view name = textAt(lookup->text, blocks[b].name);
    const uint64_t hash = hashName(name);
    const size_t slot = findSlot(*lookup, name, hash);
    if (lookup->slots[slot] == 0) {
      PageLookup::Page page;
      page.name = blocks[b].name;
      lookup->pages.push_back(page);
      firstBlock.push_back(static_cast<uint32_t>(b));
      lastBlock.push_back(static_cast<uint32_t>(b));
      lookup->slots[slot] = (hash >> 32) << 32 | lookup->pages.size();
    } else {
      const size_t index = (lookup->slots[slot] & 0xFFFFFFFFu) - 1;
      blocks[lastBlock[index]].nextOfPage = static_cast<uint32_t>(b);
      lastBlock[index] = static_cast<uint32_t>(b);
    }
  }

  // A search for an anchor reads a page's blocks in file order and fails at
  // a page record that follows the same page's block directly: blocks after
  // that one are never reached. A page with one reachable block keeps its
  // marks where they lie; the others' are gathered after all of them.
  const std::string& text = lookup->text;
  auto less = [&text](size_t a, size_t b) { return textAt(text, a) < textAt(text, b); };
  auto same = [&text](size_t a, size_t b) { return textAt(text, a) == textAt(text, b); };
  std::vector<size_t> gathered;
  std::vector<bool> isGathered(lookup->pages.size(), false);
  for (size_t p = 0; p < lookup->pages.size(); ++p) {
    PageLookup::Page& page = lookup->pages[p];
    const Block& first = blocks[firstBlock[p]];
    if (first.followedBySamePage || first.nextOfPage == kNoBlock) {
      page.marksBegin = first.marksBegin;
      page.marksEnd = first.marksEnd;
    } else {
      page.marksBegin = gathered.size();
      for (uint32_t b = firstBlock[p]; b != kNoBlock; b = blocks[b].nextOfPage) {
        gathered.insert(gathered.end(),
                        marks.begin() + static_cast<ptrdiff_t>(blocks[b].marksBegin),
                        marks.begin() + static_cast<ptrdiff_t>(blocks[b].marksEnd));
        if (blocks[b].followedBySamePage) break;
      }
      page.marksEnd = gathered.size();
      isGathered[p] = true;
    }
  }
  std::vector<Block>().swap(blocks);
  const size_t gatheredAt = marks.size();
  marks.insert(marks.end(), gathered.begin(), gathered.end());
  std::vector<size_t>().swap(gathered);
  for (size_t p = 0; p < lookup->pages.size(); ++p) {
    PageLookup::Page& page = lookup->pages[p];
    if (isGathered[p]) {
      page.marksBegin += gatheredAt;
      page.marksEnd += gatheredAt;
    }
    auto begin = marks.begin() + static_cast<ptrdiff_t>(page.marksBegin);
    auto end = marks.begin() + static_cast<ptrdiff_t>(page.marksEnd);
    std::sort(begin, end, less);
    page.marksEnd = static_cast<size_t>(std::unique(begin, end, same) - marks.begin());
  }
}

bool findPage(const PageLookup& lookup, std::string_view target, bool hasAnchor,
              std::string_view anchor) {
  if (lookup.slots.empty()) return false;
  const size_t slot = findSlot(lookup, target, hashName(target));
  if (lookup.slots[slot] == 0) return false;
  if (!hasAnchor) return true;
  const PageLookup::Page& page = lookup.pages[(lookup.slots[slot] & 0xFFFFFFFFu) - 1];
  const std::string& text = lookup.text;
  auto first = lookup.marks.begin() + static_cast<ptrdiff_t>(page.marksBegin);
  auto last = lookup.marks.begin() + static_cast<ptrdiff_t>(page.marksEnd);
  auto at = std::lower_bound(first, last, anchor, [&text](size_t mark, std::string_view value) {
    return textAt(text, mark) < value;
  });
  return at != last && textAt(text, *at) == anchor;
}

bool findPageByScanning(TextReader& reader, const std::string& target, bool hasAnchor,
                        const std::string& anchor) {
  reader.rewind();
  bool inBlock = false;
  std::string line;
  while (reader.readLine(&line)) {
    RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      Record record = parseRecord(line);
      if (record.value == target) {
        if (inBlock) return false;
        if (!hasAnchor) return true;
        inBlock = true;
      } else {
        inBlock = false;
      }
    } else if (kind == RecordKind::Mark && inBlock && parseRecord(line).value == anchor) {
      return true;
    }
  }
  return false;
}
