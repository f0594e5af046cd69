// What one page or style sheet holds for the checks: its references with
// their places, its anchors and its base. Extraction fills it from bytes
// alone; resolution and checking read it and never see the markup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace site {

struct ExtractedReference {
  // The attribute value or CSS URL as the page holds it, character
  // references (HTML) or escapes (CSS) decoded, nothing else done to it:
  // whitespace stripping and the rest of resolution come later.
  std::string value;
  uint32_t line = 0;  // where the value starts, in bytes from 1
  uint32_t column = 0;
};

struct PageLinks {
  std::vector<ExtractedReference> references;  // in document order
  std::vector<std::string> anchors;            // id of every element, name of every a
  bool hasBase = false;                        // a base element with an href was seen
  std::string base;                            // the first such href, decoded
  // The meta refresh a browser acts on: the first <meta http-equiv=refresh>
  // whose content reads as a refresh (a later one never counts).
  bool hasRefresh = false;
  uint32_t refreshDelay = 0;   // its whole seconds, UINT32_MAX when more
  bool refreshHasUrl = false;  // it names a URL (without one it reloads the page)
  std::string refreshUrl;      // that URL, decoded, as its reference holds it
};

// Every reference and anchor of an HTML page: the attributes that name
// URLs, srcset candidates, the meta refresh URL, and the url()/@import of
// its style elements and style attributes; and its first meta refresh.
// Places: an attribute value starts at its first byte (for a quoted value
// the byte after the quote; a valueless attribute at its name); srcset
// candidates, the refresh URL and a style attribute's urls share their
// attribute's place; in a style element, a url( at its 'u' and an @import
// string at its opening quote. A byte order mark is not a column.
PageLinks extractHtml(std::string_view bytes);

// The url() and @import references of a style sheet (no anchors, no base).
PageLinks extractCss(std::string_view bytes);

}  // namespace site
