// Whether a reference names a scanned page, or an anchor on one, answered
// from the reference file without reading it again for every reference.
// Names compare byte for byte against the lower-case page records; letter
// case in references is the case checks' business.
//
// A page scanned twice (matched by two patterns) answers as a search of the
// file in order would: its blocks count up to the first one that the same
// page's record follows directly, and no further.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text_file.h"

// The answers a reference file gives, worked out in one pass: for each page
// name, the marks a search for one of its anchors can reach (those of its
// blocks up to and including the first one that the same page's record
// follows directly), sorted in one shared array so that a look-up touches
// little memory.
struct PageLookup {
  struct Page {
    uint32_t marksBegin = 0;  // this page's reachable marks: marks[marksBegin, marksEnd)
    uint32_t marksEnd = 0;
  };
  std::unordered_map<std::string, Page> pages;
  std::vector<std::string> marks;
};

// Builds the lookup from the reference file open in reader, read from its
// start. The reader is left at its end. False when the file cannot be
// rewound or read to its end.
bool buildPageLookup(TextReader& reader, PageLookup* lookup);

// True when target is a scanned page (hasAnchor false) or a scanned page
// holding a mark whose value is anchor (hasAnchor true).
bool findPage(const PageLookup& lookup, const std::string& target, bool hasAnchor,
              const std::string& anchor);
