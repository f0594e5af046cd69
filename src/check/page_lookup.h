// Whether a reference names a scanned page, or an anchor on one, answered
// from the reference file without reading it again for every reference.
// Names compare byte for byte against the lower-case page records; letter
// case in references is the case checks' business.
//
// A page scanned twice (matched by two patterns) answers as a search of the
// file in order would: its blocks count up to the first one that the same
// page's record follows directly, and no further.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hash_slots.h"
#include "platform/text_file.h"

namespace tangler {

// The answers a reference file gives, worked out in one pass: for each page
// name, the marks a search for one of its anchors can reach (those of its
// blocks up to and including the first one that the same page's record
// follows directly), sorted. Every name and mark lies in one block of text;
// the tables hold only positions in it, so that the memory taken is the
// bytes of the names and marks and a few words for each, and a look-up
// touches a handful of cache lines.
struct PageLookup {
  // Once finished, each page as one entry: its name, the number of its
  // reachable marks, their hashes in ascending order (ties by text), where
  // each mark's name lies from the entry's start, and the marks' names; a
  // name is its length, seven bits a byte, and its bytes. While the look-up
  // is put together: each page as its marks' range in marks (two 64-bit
  // positions) and its name, each mark as its name alone.
  std::string text;
  std::vector<size_t> marks;  // into text, while put together
  // By name: the hash's top 24 bits above the entry's start + 1 (40 bits).
  HashSlots<40, 0> slots;
};

// Builds the lookup from the reference file open in reader, read from its
// start. The reader is left at its end. False when the file cannot be
// rewound or read to its end.
bool buildPageLookup(TextReader& reader, PageLookup* lookup);

// The same look-up put together from the page and mark records as they come,
// in file order (no other record changes it), without reading a file: what
// the scan writes can be taken as it is written.
struct PageBlock {
  static constexpr uint32_t kNone = UINT32_MAX;
  size_t entry = 0;       // into the lookup's text: the marks field, then the name
  size_t marksBegin = 0;  // into the list of all marks, in file order
  size_t marksEnd = 0;
  uint32_t nextOfPage = kNone;      // the same page's next block in file order
  bool followedBySamePage = false;  // the next page record names the same page
};
struct PageLookupBuilder {
  PageLookup* lookup = nullptr;
  std::vector<PageBlock> blocks;  // one for each page record so far
};
void startPageLookup(PageLookupBuilder* builder, PageLookup* lookup);
void addPageRecord(PageLookupBuilder& builder, std::string_view name);
void addMarkRecord(PageLookupBuilder& builder, std::string_view mark);
void finishPageLookup(PageLookupBuilder& builder);

// True when target is a scanned page (hasAnchor false) or a scanned page
// holding a mark whose value is anchor (hasAnchor true).
bool findPage(const PageLookup& lookup, std::string_view target, bool hasAnchor,
              std::string_view anchor);
// The same, for a caller that has target's pageHash() at hand already.
bool findPage(const PageLookup& lookup, std::string_view target, uint64_t targetHash,
              bool hasAnchor, std::string_view anchor);

// Look-ups made one after another each wait for memory in turn. A caller that
// knows which pages it will look up next can ask for that memory early:
// first the table slot (prefetchPageSlot), then, once that has had time to
// arrive, the entry it leads to (prefetchPageEntry). Neither changes any
// answer.
uint64_t pageHash(std::string_view name);
void prefetchPageSlot(const PageLookup& lookup, uint64_t hash);
void prefetchPageEntry(const PageLookup& lookup, uint64_t hash);

}  // namespace tangler
