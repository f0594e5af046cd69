#include "check/page_lookup.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/ascii_case.h"
#include "reffile/reference_file.h"

namespace tangler {

namespace {

constexpr uint32_t kNoBlock = PageBlock::kNone;
constexpr size_t kMarksField = 16;  // before a page's name: its marks' range
using PageSlots = HashSlots<40, 0>;
// How a page's marks are laid out in its entry (see finishPageLookup()).
constexpr uint64_t kHashed = 0;      // hashes, 4-byte offsets, names
constexpr uint64_t kHashedWide = 1;  // hashes, 8-byte offsets, names
constexpr uint64_t kPlain = 2;       // names alone
constexpr size_t kPlainMarks = 16;

// Lengths and counts are written seven bits a byte, low bits first, the top
// bit set on every byte but the last.
void appendCount(std::string* text, uint64_t count) {
  do {
    const auto low = static_cast<unsigned char>(count & 0x7F);
    count >>= 7;
    text->push_back(static_cast<char>(count != 0 ? low | 0x80 : low));
  } while (count != 0);
}

uint64_t countAt(const char* at, const char** after) {
  uint64_t count = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    count |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  *after = at;
  return count;
}

size_t appendText(std::string* text, std::string_view value) {
  const size_t at = text->size();
  appendCount(text, value.size());
  text->append(value);
  return at;
}

std::string_view textAt(const std::string& text, size_t at) {
  const char* start = nullptr;
  const uint64_t size = countAt(text.data() + at, &start);
  return std::string_view(start, size);
}

std::string_view pageName(const std::string& text, size_t entry) {
  return textAt(text, entry + kMarksField);
}

void setMarks(std::string* text, size_t entry, uint64_t begin, uint64_t end) {
  std::memcpy(text->data() + entry, &begin, 8);
  std::memcpy(text->data() + entry + 8, &end, 8);
}

void getMarks(const std::string& text, size_t entry, uint64_t* begin, uint64_t* end) {
  std::memcpy(begin, text.data() + entry, 8);
  std::memcpy(end, text.data() + entry + 8, 8);
}

// Names are compared exactly once their slot is found; folding case in the
// hash costs nothing, since the pages are recorded in lower case anyway.
uint64_t hashOf(std::string_view name) {
  return hashIgnoringCase(name);
}

uint32_t markHash(std::string_view mark) {
  return static_cast<uint32_t>(hashIgnoringCase(mark) >> 32);
}

// The slot of name: the one that holds it, or the empty one where it would go.
size_t findPageSlot(const PageLookup& lookup, std::string_view name, uint64_t hash) {
  return findSlot(lookup.slots, hash,
                  [&](uint64_t entry) { return textAt(lookup.text, entry) == name; });
}

// The slots are asked for from memory this many items ahead of their turn.
constexpr size_t kAhead = 16;

// The pages by name, each with its blocks chained in file order. While
// this runs a slot holds the page's first block; then, its entry.
// Fills *pages with each page's first block and *pageSlots with its slot,
// in file order.
void indexPages(PageLookup* lookup, std::vector<PageBlock>& blocks, std::vector<uint32_t>* pages,
                std::vector<size_t>* pageSlots) {
  const std::string& text = lookup->text;
  resetSlots(&lookup->slots, blocks.size());
  std::vector<uint64_t>& slots = lookup->slots.slots;
  std::vector<uint32_t> lastBlock(blocks.size(), kNoBlock);  // by first block
  std::vector<uint64_t> blockHashes(blocks.size());
  for (size_t b = 0; b < blocks.size(); ++b)
    blockHashes[b] = hashOf(pageName(text, blocks[b].entry));
  for (size_t b = 0; b < blocks.size(); ++b) {
    if (b + kAhead < blocks.size()) {
      __builtin_prefetch(&slots[lookup->slots.home(blockHashes[b + kAhead])]);
    }
    const std::string_view name = pageName(text, blocks[b].entry);
    const uint64_t hash = blockHashes[b];
    const size_t i = findSlot(lookup->slots, hash, [&](uint64_t block) {
      return pageName(text, blocks[block].entry) == name;
    });
    if (slots[i] == 0) {
      slots[i] = PageSlots::pack(hash, b);
      pages->push_back(static_cast<uint32_t>(b));
      pageSlots->push_back(i);
      lastBlock[b] = static_cast<uint32_t>(b);
    } else {
      const size_t first = PageSlots::valueOf(slots[i]);
      blocks[lastBlock[first]].nextOfPage = static_cast<uint32_t>(b);
      lastBlock[first] = static_cast<uint32_t>(b);
    }
  }
  std::vector<uint32_t>().swap(lastBlock);
  std::vector<uint64_t>().swap(blockHashes);
}

// A search for an anchor reads a page's blocks in file order and fails at
// a page record that follows the same page's block directly: blocks after
// that one are never reached. A page with one reachable block keeps its
// marks where they lie; the others' are gathered after all of them.
// Sets each page's marks range in its entry.
void gatherReachableMarks(PageLookup* lookup, const std::vector<PageBlock>& blocks,
                          const std::vector<uint32_t>& pages) {
  std::string& text = lookup->text;
  std::vector<size_t>& marks = lookup->marks;
  std::vector<size_t> gathered;
  for (uint32_t p : pages) {
    const PageBlock& first = blocks[p];
    if (first.followedBySamePage || first.nextOfPage == kNoBlock) {
      setMarks(&text, first.entry, first.marksBegin, first.marksEnd);
      continue;
    }
    // Gathered runs are placed after the file's marks, so they are numbered
    // from there.
    const uint64_t begin = marks.size() + gathered.size();
    for (uint32_t b = p; b != kNoBlock; b = blocks[b].nextOfPage) {
      gathered.insert(gathered.end(), marks.begin() + static_cast<ptrdiff_t>(blocks[b].marksBegin),
                      marks.begin() + static_cast<ptrdiff_t>(blocks[b].marksEnd));
      if (blocks[b].followedBySamePage) break;
    }
    setMarks(&text, first.entry, begin, marks.size() + gathered.size());
  }
  marks.insert(marks.end(), gathered.begin(), gathered.end());
  std::vector<size_t>().swap(gathered);
}

// Each page is written out again, in file order, with its marks beside it
// so that a look-up of an anchor reads a few neighbouring cache lines: its
// name, the number of its marks and how they are laid out (count << 2 |
// kind), then for a few marks (kPlainMarks at most) their names alone, to
// be compared one by one; for more, their hashes (4 bytes each), the
// offsets of their names from the entry's start (4 or, past 32 bits, 8
// bytes each), and the names. The marks are sorted by hash, then text,
// and without repeats.
// Replaces the lookup's text by the packed entries and points each page's
// slot at its entry.
void packEntries(PageLookup* lookup, const std::vector<PageBlock>& blocks,
                 const std::vector<uint32_t>& pages, const std::vector<size_t>& pageSlots) {
  std::string& text = lookup->text;
  const std::vector<size_t>& marks = lookup->marks;
  std::vector<uint64_t>& slots = lookup->slots.slots;
  std::string packed;
  packed.reserve(text.size() + marks.size() * 8);
  std::vector<std::pair<uint32_t, size_t>> run;
  for (size_t k = 0; k < pages.size(); ++k) {
    if (k + kAhead < pages.size()) __builtin_prefetch(&slots[pageSlots[k + kAhead]], 1);
    const size_t entry = blocks[pages[k]].entry;
    uint64_t begin = 0;
    uint64_t end = 0;
    getMarks(text, entry, &begin, &end);
    run.clear();
    for (uint64_t i = begin; i < end; ++i) {
      run.emplace_back(markHash(textAt(text, marks[i])), marks[i]);
    }
    std::sort(run.begin(), run.end(), [&text](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first
                                : textAt(text, a.second) < textAt(text, b.second);
    });
    size_t kept = 0;
    for (size_t i = 0; i < run.size(); ++i) {
      if (i > 0 && run[i].first == run[kept - 1].first &&
          textAt(text, run[i].second) == textAt(text, run[kept - 1].second)) {
        continue;
      }
      run[kept++] = run[i];
    }
    const size_t at = packed.size();
    uint64_t& slot = slots[pageSlots[k]];
    slot = (slot & ~PageSlots::kValueMask) | (at + 1);
    appendText(&packed, pageName(text, entry));
    if (kept <= kPlainMarks) {
      appendCount(&packed, uint64_t(kept) << 2 | kPlain);
      for (size_t i = 0; i < kept; ++i) appendText(&packed, textAt(text, run[i].second));
      continue;
    }
    // The most the entry can take, lengths at ten bytes each.
    uint64_t most = packed.size() - at + 10 + kept * 12;
    for (size_t i = 0; i < kept; ++i) most += textAt(text, run[i].second).size() + 10;
    const bool wide = most > UINT32_MAX;
    const size_t width = wide ? 8 : 4;
    appendCount(&packed, uint64_t(kept) << 2 | (wide ? kHashedWide : kHashed));
    for (size_t i = 0; i < kept; ++i) {
      packed.append(reinterpret_cast<const char*>(&run[i].first), 4);
    }
    const size_t offsets = packed.size();
    packed.append(kept * width, '\0');
    for (size_t i = 0; i < kept; ++i) {
      const uint64_t offset = packed.size() - at;
      char* const to = packed.data() + offsets + i * width;
      if (wide) {
        std::memcpy(to, &offset, 8);
      } else {
        const auto narrow = static_cast<uint32_t>(offset);
        std::memcpy(to, &narrow, 4);
      }
      appendText(&packed, textAt(text, run[i].second));
    }
  }
  text.swap(packed);
}

}  // namespace

void startPageLookup(PageLookupBuilder* builder, PageLookup* lookup) {
  builder->lookup = lookup;
  builder->blocks.clear();
  lookup->text.clear();
  lookup->marks.clear();
  lookup->slots.slots.clear();
}

void addPageRecord(PageLookupBuilder& builder, std::string_view name) {
  std::string& text = builder.lookup->text;
  std::vector<PageBlock>& blocks = builder.blocks;
  const size_t marks = builder.lookup->marks.size();
  if (!blocks.empty()) {
    PageBlock& last = blocks.back();
    last.marksEnd = marks;
    last.followedBySamePage = pageName(text, last.entry) == name;
  }
  PageBlock block;
  block.entry = text.size();
  text.append(kMarksField, '\0');
  appendText(&text, name);
  block.marksBegin = marks;
  blocks.push_back(block);
}

void addMarkRecord(PageLookupBuilder& builder, std::string_view mark) {
  // A mark before any page record belongs to no page.
  if (builder.blocks.empty()) return;
  builder.lookup->marks.push_back(appendText(&builder.lookup->text, mark));
}

bool buildPageLookup(TextReader& reader, PageLookup* lookup) {
  PageLookupBuilder builder;
  startPageLookup(&builder, lookup);
  if (!reader.rewind()) return false;
  auto take = [&](std::string_view line) {
    const RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      addPageRecord(builder, viewRecord(line, kind).value);
    } else if (kind == RecordKind::Mark) {
      addMarkRecord(builder, viewRecord(line, kind).value);
    }
  };
  // The lines are taken where the reader holds them; only page and mark
  // records matter here, and only those begin with their prefixes' first
  // letters in either case (prefixesStartApart()).
  const bool read = readLineRuns(reader, [&](std::string_view lines, bool whole) {
    if (!whole) {
      take(lines);
      return;
    }
    for (size_t end = lines.find('\n'); end != std::string_view::npos; end = lines.find('\n')) {
      const char first = static_cast<char>(lines[0] | 0x20);
      if (end > 0 && (first == kPagePrefix[0] || first == kMarkPrefix[0])) {
        take(lines.substr(0, end));
      }
      lines.remove_prefix(end + 1);
    }
  });
  if (!read) return false;
  finishPageLookup(builder);
  return true;
}

void finishPageLookup(PageLookupBuilder& builder) {
  PageLookup* lookup = builder.lookup;
  std::vector<PageBlock>& blocks = builder.blocks;
  if (!blocks.empty()) blocks.back().marksEnd = lookup->marks.size();
  std::vector<uint32_t> pages;    // first block of each page
  std::vector<size_t> pageSlots;  // the slot of each page
  indexPages(lookup, blocks, &pages, &pageSlots);
  gatherReachableMarks(lookup, blocks, pages);
  packEntries(lookup, blocks, pages, pageSlots);
  blocks.clear();
  std::vector<size_t>().swap(lookup->marks);
}

uint64_t pageHash(std::string_view name) {
  return hashOf(name);
}

void prefetchPageSlot(const PageLookup& lookup, uint64_t hash) {
  if (lookup.slots.slots.empty()) return;
  __builtin_prefetch(&lookup.slots.slots[lookup.slots.home(hash)]);
}

void prefetchPageEntry(const PageLookup& lookup, uint64_t hash) {
  if (lookup.slots.slots.empty()) return;
  const uint64_t slot = lookup.slots.slots[lookup.slots.home(hash)];
  if (slot != 0 && PageSlots::hashMatches(slot, hash)) {
    // The name, the marks' hashes and offsets, and the first marks' names
    // take a line or two.
    const size_t entry = PageSlots::valueOf(slot);
    __builtin_prefetch(lookup.text.data() + entry);
    if (entry + 64 < lookup.text.size()) __builtin_prefetch(lookup.text.data() + entry + 64);
  }
}

bool findPage(const PageLookup& lookup, std::string_view target, bool hasAnchor,
              std::string_view anchor) {
  return findPage(lookup, target, hashOf(target), hasAnchor, anchor);
}

bool findPage(const PageLookup& lookup, std::string_view target, uint64_t targetHash,
              bool hasAnchor, std::string_view anchor) {
  if (lookup.slots.slots.empty()) return false;
  const uint64_t slot = lookup.slots.slots[findPageSlot(lookup, target, targetHash)];
  if (slot == 0) return false;
  if (!hasAnchor) return true;
  const size_t entry = PageSlots::valueOf(slot);
  const char* const start = lookup.text.data() + entry;
  const char* at = nullptr;
  const uint64_t nameSize = countAt(start, &at);
  const uint64_t field = countAt(at + nameSize, &at);
  const uint64_t count = field >> 2;
  if ((field & 3) == kPlain) {
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t size = countAt(at, &at);
      if (size == anchor.size() && std::string_view(at, size) == anchor) return true;
      at += size;
    }
    return false;
  }
  const size_t width = (field & 3) == kHashedWide ? 8 : 4;
  const char* const offsets = at + count * 4;
  const uint32_t hash = markHash(anchor);
  auto hashAt = [at](uint64_t i) {
    uint32_t h;
    std::memcpy(&h, at + i * 4, 4);
    return h;
  };
  uint64_t low = 0;  // the first mark whose hash is not below hash
  for (uint64_t high = count; low < high;) {
    const uint64_t middle = low + (high - low) / 2;
    if (hashAt(middle) < hash) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  for (uint64_t i = low; i < count && hashAt(i) == hash; ++i) {
    uint64_t offset = 0;
    if (width == 8) {
      std::memcpy(&offset, offsets + i * 8, 8);
    } else {
      uint32_t narrow;
      std::memcpy(&narrow, offsets + i * 4, 4);
      offset = narrow;
    }
    if (textAt(lookup.text, entry + offset) == anchor) return true;
  }
  return false;
}

}  // namespace tangler
