// Finds the anchors of a remote HTML page as its body streams in, for
// --remote-anchors: the id of every element and the name of every a, as the
// page extraction takes them, through the same HTML tokenizer. The body is
// read in bounded pieces: what has been tokenized up to the last complete
// tag is dropped, and the rest (a tag or comment cut off by the piece's
// end) waits for more bytes. So memory stays near the longest tag or
// comment, and reading stops as soon as every anchor asked for is seen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/html/html_tokenizer.h"

namespace site {

// One fragment that a reference asks a remote page for: found when an
// anchor equals it as written or percent-decoded.
struct WantedAnchor {
  std::string raw;
  std::string decoded;
  bool found = false;
};

struct AnchorFinder {
  std::vector<WantedAnchor> wanted;  // empty: every anchor of the page is read
  size_t foundCount = 0;
  uint64_t maxBytes = 8u << 20;  // the body is never read past this
  uint64_t bytesSeen = 0;
  std::vector<std::string> anchors;  // in page order until finished, then sorted and distinct
  // Why reading ended: all wanted anchors seen (the rest of the page was
  // not read), maxBytes reached, or the page can hold no more anchors
  // (<plaintext>), or a UTF-16 page, whose anchors are not read.
  bool allFound = false;
  bool capped = false;
  bool plaintext = false;
  bool utf16 = false;
  bool finished = false;

  // The bytes from the last point where the tokenizer can start again.
  std::string pending;
  size_t nextTry = 0;  // tokenize again once pending is this long
  HtmlState resumeState = HtmlState::Data;
  std::string_view resumeRawTextEnd;
  uint32_t svgDepth = 0;
  uint32_t mathDepth = 0;
  bool markChecked = false;  // the byte-order mark has been looked for
  HtmlTokenizer tokenizer;   // reused, for its buffers
};

// Sets finder up for a page that references ask for fragments of (raw,
// after '#'); fragments that every page has ("", "top", text fragments)
// are left out. With none left, wanted is empty and every anchor is read.
void startAnchorFinder(AnchorFinder* finder, const std::vector<std::string>& fragments,
                       bool readAll);

// Takes the next piece of the body. False once nothing more needs reading
// (see the flags above): the caller stops the transfer and calls
// finishAnchorFinder().
bool feedAnchorFinder(AnchorFinder& finder, std::string_view bytes);

// The end of the body (or of its reading): tokenizes what waits, sorts the
// anchors.
void finishAnchorFinder(AnchorFinder& finder);

// Whether the page's anchors (sorted and distinct, as a finished finder
// leaves them) satisfy fragment (raw, after '#'): an anchor equal to it as
// written or percent-decoded; "", "top" and text fragments always do.
bool anchorsHaveFragment(const std::vector<std::string>& anchors, std::string_view fragment);

}  // namespace site
