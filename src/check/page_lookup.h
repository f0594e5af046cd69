// Looking a page, or an anchor on a page, up among the scanned pages of the
// reference file. Texts compare exactly: page records hold lower-case names,
// so a reference that spells a page with capital letters never finds it.
//
// A page listed twice (scanned through two patterns) follows the file's
// order: when its two blocks follow each other directly, an anchor that the
// first copy lacks fails at the second copy's page record without searching
// it; when other blocks lie between them, the second copy is searched too.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text_file.h"

// The page blocks of a reference file, read once, with their marks.
struct PageLookup {
  struct Block {
    std::string page;
    std::vector<std::string> marks;
    bool followedBySamePage = false;  // the next page record names the same page
  };
  std::vector<Block> blocks;
  // Page name -> indices into blocks, in file order.
  std::unordered_map<std::string, std::vector<size_t>> byName;
};

// Builds the lookup from the reference file open in reader, read from its
// start. The reader is left at its end.
void buildPageLookup(TextReader& reader, PageLookup* lookup);

// True when target is a scanned page (hasAnchor false) or a scanned page
// holding a mark whose value is anchor (hasAnchor true).
bool findPage(const PageLookup& lookup, const std::string& target, bool hasAnchor,
              const std::string& anchor);

// The same answer found the straightforward way: rewind reader and read the
// whole reference file for this one lookup. Kept as the reference the fast
// lookup is tested against.
bool findPageByScanning(TextReader& reader, const std::string& target, bool hasAnchor,
                        const std::string& anchor);
