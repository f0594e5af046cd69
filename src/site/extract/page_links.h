// What one page or style sheet holds for the checks: its references with
// their places, its anchors and its base. Extraction reads the file a piece
// at a time and hands each reference on as it finds it, so that only
// anchors and a few facts are kept per page; resolution and checking never
// see the markup.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "site/css/css_reader.h"
#include "site/html/html_tokenizer.h"
#include "site/html/page_decoder.h"
#include "site/html/text_position.h"

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
  // In document order; empty when extraction hands them on as it reads.
  std::vector<ExtractedReference> references;
  std::vector<std::string> anchors;  // id of every element, name of every a
  bool hasBase = false;              // a base element with an href was seen
  std::string base;                  // the first such href, decoded
  // The meta refresh a browser acts on: the first <meta http-equiv=refresh>
  // whose content reads as a refresh (a later one never counts).
  bool hasRefresh = false;
  uint32_t refreshDelay = 0;   // its whole seconds, UINT32_MAX when more
  bool refreshHasUrl = false;  // it names a URL (without one it reloads the page)
  std::string refreshUrl;      // that URL, decoded, as its reference holds it
};

// Takes each reference as extraction finds it: the value as ExtractedReference
// describes it (valid only during the call), and where it starts.
using ReferenceSink = std::function<void(std::string_view value, TextPosition at)>;

// One page or style sheet being read, a piece at a time. Reused from file
// to file, it keeps its buffers.
struct PageExtractor {
  bool styleSheet = false;
  // Looks for the page's first <base href> and nothing else; done is set
  // once it is found, and the rest need not be read.
  bool baseOnly = false;
  bool done = false;
  PageDecoder decoder;
  // The text held: what the tokenizers must see again, then the newest
  // piece. Starts at text offset heldOffset.
  std::string held;
  size_t heldOffset = 0;
  LineCounter lines;
  HtmlTokenizer tokenizer;
  // Open svg and math elements: the tree builder's view of whether the
  // current element is foreign, kept only as far as links need it.
  uint32_t svgDepth = 0;
  uint32_t mathDepth = 0;
  // A style element's text (or the style sheet) is being read; the CSS
  // reader must see the text from offset cssFrom again.
  bool inStyle = false;
  CssReader css;
  size_t cssFrom = 0;
  std::vector<CssReference> cssFound;  // scratch
  // Anchors, base and refresh (references go to the sink); complete once
  // the file has ended.
  PageLinks links;
  size_t anchorsSorted = 0;  // anchors were last sorted and made unique at this count
};

// Starts reading a page, or a style sheet (no anchors, no base).
void startExtraction(PageExtractor& extractor, bool styleSheet, bool baseOnly = false);

// Reads the next bytes of the file, cut anywhere; hands each reference it
// finds to sink, in document order.
void extractPiece(PageExtractor& extractor, std::string_view bytes, const ReferenceSink& sink);

// The end of the file: hands on the last references; extractor.links is
// complete.
void finishExtraction(PageExtractor& extractor, const ReferenceSink& sink);

// Every reference and anchor of an HTML page// Every reference and anchor of an HTML page: the
// attributes that name URLs, srcset candidates, the meta refresh URL, and the url()/@import of its
// style elements and style attributes; and its first meta refresh. Places: an attribute value
// starts at its first byte (for a quoted value the byte after the quote; a valueless attribute at
// its name); srcset candidates, the refresh URL and a style attribute's urls share their
// attribute's place; in a style element, a url( at its 'u' and an @import
// string at its opening quote. A byte order mark is not a column; a UTF-16
// page is read as its UTF-8 conversion. The bytes go through extraction in
// pieces of pieceSize bytes (0: whole), which changes nothing found.
PageLinks extractHtml(std::string_view bytes, size_t pieceSize = 0);

// The url() and @import references of a style sheet (no anchors, no base).
PageLinks extractCss(std::string_view bytes, size_t pieceSize = 0);

}  // namespace site
