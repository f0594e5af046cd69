// The CSS reader: finds the URLs a style sheet loads, url(...) tokens and
// the strings of @import rules, by tokenizing it as the CSS syntax standard
// does (comments, strings and their escapes, identifiers, numbers), so that
// a "url(" inside a comment, a string or a longer name is not taken.
//
// A style sheet is read whole or a piece at a time. Comments, strings and
// URLs are read across pieces without being held; any other token that a
// piece cuts is read again, whole, with the next piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/html/text_position.h"

namespace site {

// The most bytes of one URL or @import string that are kept: the rest of a
// longer one is read past and dropped.
constexpr size_t kMaxCssText = size_t(1) << 20;

struct CssReference {
  // Escapes decoded (to UTF-8), nothing else done to it; at most about
  // kMaxCssText bytes.
  std::string value;
  // Offset in the style sheet (or page) of the url( token's first byte (its
  // 'u'), or of the opening quote of an @import string.
  size_t offset = 0;
  // Set by the caller while the URL is being read, when the text at offset
  // is let go before its end is seen: the position of offset.
  bool placed = false;
  TextPosition place;
};

// What reading a style sheet carries from one piece to the next.
struct CssReader {
  enum class Mode : uint8_t { Top, Comment, String, Url, UrlSpace, BadUrl };
  Mode mode = Mode::Top;
  bool importPending = false;  // after @import, before its first token
  bool inNamespace = false;    // inside an @namespace rule
  int quote = 0;               // of the string being read
  bool keep = false;           // the string or URL being read is a reference
  CssReference open;           // that string or URL, so far
  std::string name;            // scratch
};

// Starts reading a style sheet.
void startCss(CssReader& reader);

// Reads the next text of a style sheet, whose first byte is at offset;
// end when the sheet ends with it. Appends the references it finishes to
// *out, in order. Returns how many bytes of text it is done with: the rest
// must start the text of the next call. url() tokens that the standard
// makes bad-url tokens (a space or quote inside an unquoted URL) and
// strings cut by a line end load nothing and are left out, and so are the
// URLs of @namespace rules, which name and do not load.
size_t readCss(CssReader& reader, std::string_view text, size_t offset, bool end,
               std::vector<CssReference>* out);

// Appends the references of a whole style sheet to *out, in order, with
// offsets from its start.
void readCssReferences(std::string_view css, std::vector<CssReference>* out);

}  // namespace site
