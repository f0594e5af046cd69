// Looking a page, or an anchor on a page, up among the scanned pages of the
// reference file. Texts compare exactly: page records hold lower-case names,
// so a reference that spells a page with capital letters never finds it.
//
// A page listed twice (scanned through two patterns) follows the file's
// order: when its two blocks follow each other directly, an anchor that the
// first copy lacks fails at the second copy's page record without searching
// it; when other blocks lie between them, the second copy is searched too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_file.h"

// The answers a reference file gives, worked out in one pass: for each page
// name, the marks a search for one of its anchors can reach (those of its
// blocks up to and including the first one that the same page's record
// follows directly), sorted. Every name and mark lies in one block of text;
// the tables hold only positions in it, so that the memory taken is the
// bytes of the names and marks and a few words for each, and a look-up
// touches a handful of cache lines.
struct PageLookup {
  struct Page {
    size_t name = 0;        // into text
    size_t marksBegin = 0;  // this page's reachable marks: marks[marksBegin, marksEnd)
    size_t marksEnd = 0;
  };
  std::string text;             // each name and mark as its length (7 bits a byte) and bytes
  std::vector<Page> pages;      // in the order of their first page records
  std::vector<size_t> marks;    // into text
  std::vector<uint64_t> slots;  // open addressing: hash's high half << 32 | page index + 1
};

// Builds the lookup from the reference file open in reader, read from its
// start. The reader is left at its end.
void buildPageLookup(TextReader& reader, PageLookup* lookup);

// True when target is a scanned page (hasAnchor false) or a scanned page
// holding a mark whose value is anchor (hasAnchor true).
bool findPage(const PageLookup& lookup, std::string_view target, bool hasAnchor,
              std::string_view anchor);

// The same answer found the straightforward way: rewind reader and read the
// whole reference file for this one lookup. Kept as the reference the fast
// lookup is tested against.
bool findPageByScanning(TextReader& reader, const std::string& target, bool hasAnchor,
                        const std::string& anchor);
