#include "site/extract/page_links.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/ascii_case.h"
#include "site/css/css_reader.h"
#include "site/html/html_tokenizer.h"
#include "site/html/text_position.h"
#include "text/text_helpers.h"

namespace site {

namespace {

// The elements whose attributes name URLs, and the few others extraction
// has to know.
enum class Element : uint8_t {
  Other,
  A,
  Area,
  Link,
  Img,
  Script,
  Iframe,
  Frame,
  Embed,
  Source,
  Track,
  Audio,
  Video,
  Input,
  Object,
  Body,
  Table,
  Td,
  Th,
  Base,
  Meta,
  Use,    // SVG only
  Image,  // an img in HTML, an SVG image in SVG
  Svg,
  Math,
};

// Whether name is word; with the length known at compile time the
// comparison is a few instructions, which matters once per tag and
// attribute.
template <size_t N>
bool is(std::string_view name, const char (&word)[N]) {
  return name.size() == N - 1 && std::memcmp(name.data(), word, N - 1) == 0;
}

Element classifyElement(std::string_view name) {
  switch (name.size()) {
    case 1:
      return is(name, "a") ? Element::A : Element::Other;
    case 2:
      if (is(name, "td")) return Element::Td;
      return is(name, "th") ? Element::Th : Element::Other;
    case 3:
      if (is(name, "img")) return Element::Img;
      if (is(name, "svg")) return Element::Svg;
      return is(name, "use") ? Element::Use : Element::Other;
    case 4:
      if (is(name, "link")) return Element::Link;
      if (is(name, "meta")) return Element::Meta;
      if (is(name, "area")) return Element::Area;
      if (is(name, "base")) return Element::Base;
      if (is(name, "body")) return Element::Body;
      return is(name, "math") ? Element::Math : Element::Other;
    case 5:
      if (is(name, "table")) return Element::Table;
      if (is(name, "input")) return Element::Input;
      if (is(name, "image")) return Element::Image;
      if (is(name, "video")) return Element::Video;
      if (is(name, "audio")) return Element::Audio;
      if (is(name, "embed")) return Element::Embed;
      if (is(name, "frame")) return Element::Frame;
      return is(name, "track") ? Element::Track : Element::Other;
    case 6:
      if (is(name, "script")) return Element::Script;
      if (is(name, "source")) return Element::Source;
      if (is(name, "iframe")) return Element::Iframe;
      return is(name, "object") ? Element::Object : Element::Other;
    default:
      return Element::Other;
  }
}

// The attributes extraction reads.
enum class Attribute : uint8_t {
  Other,
  Id,
  Name,
  Href,
  XlinkHref,
  Src,
  Srcset,
  Poster,
  Data,
  Background,
  Style,
  HttpEquiv,
  Content,
};

Attribute classifyAttribute(std::string_view name) {
  switch (name.size()) {
    case 2:
      return is(name, "id") ? Attribute::Id : Attribute::Other;
    case 3:
      return is(name, "src") ? Attribute::Src : Attribute::Other;
    case 4:
      if (is(name, "href")) return Attribute::Href;
      if (is(name, "name")) return Attribute::Name;
      return is(name, "data") ? Attribute::Data : Attribute::Other;
    case 5:
      return is(name, "style") ? Attribute::Style : Attribute::Other;
    case 6:
      if (is(name, "srcset")) return Attribute::Srcset;
      return is(name, "poster") ? Attribute::Poster : Attribute::Other;
    case 7:
      return is(name, "content") ? Attribute::Content : Attribute::Other;
    case 10:
      if (is(name, "xlink:href")) return Attribute::XlinkHref;
      if (is(name, "background")) return Attribute::Background;
      return is(name, "http-equiv") ? Attribute::HttpEquiv : Attribute::Other;
    default:
      return Attribute::Other;
  }
}

// HTML start tags that end SVG and MathML content wherever they appear in
// it (the tree builder pops back to HTML), sorted.
constexpr std::string_view kForeignBreakouts[] = {
    "b",      "big",  "blockquote", "body",  "br",   "center", "code",    "dd",   "div",
    "dl",     "dt",   "em",         "embed", "h1",   "h2",     "h3",      "h4",   "h5",
    "h6",     "head", "hr",         "i",     "img",  "li",     "listing", "menu", "meta",
    "nobr",   "ol",   "p",          "pre",   "ruby", "s",      "small",   "span", "strike",
    "strong", "sub",  "sup",        "table", "tt",   "u",      "ul",      "var",
};

bool breaksOutOfForeignContent(const HtmlToken& tag) {
  if (tag.name == "font") {
    return findAttribute(tag, "color") != nullptr || findAttribute(tag, "face") != nullptr ||
           findAttribute(tag, "size") != nullptr;
  }
  return std::binary_search(std::begin(kForeignBreakouts), std::end(kForeignBreakouts), tag.name);
}

// What the reading of one piece works with.
struct PageReader {
  PageExtractor& ex;
  const ReferenceSink& sink;
};

void addReference(PageReader& reader, std::string_view value, TextPosition at) {
  reader.sink(value, at);
}

// The position of a page offset that is held.
TextPosition placeOf(PageReader& reader, size_t offset) {
  PageExtractor& ex = reader.ex;
  return positionAt(ex.lines, ex.held, ex.heldOffset, offset);
}

// Where an attribute's value starts: worked out before, if the bytes before
// it have been let go.
TextPosition valuePlace(PageReader& reader, const HtmlAttribute& attribute) {
  if (attribute.placedOffset == attribute.valueOffset) return attribute.place;
  return placeOf(reader, attribute.valueOffset);
}

// Each candidate URL of a srcset, split as the HTML standard's srcset
// parser splits them. Candidates are kept whatever their descriptors say:
// a URL written there is meant to load.
void addSrcsetReferences(PageReader& reader, std::string_view srcset, TextPosition at) {
  size_t pos = 0;
  const size_t size = srcset.size();
  for (;;) {
    while (pos < size && (isAsciiWhitespace(srcset[pos]) || srcset[pos] == ',')) ++pos;
    if (pos == size) return;
    const size_t urlStart = pos;
    while (pos < size && !isAsciiWhitespace(srcset[pos])) ++pos;
    std::string_view url = srcset.substr(urlStart, pos - urlStart);
    if (url.back() == ',') {
      while (!url.empty() && url.back() == ',') url.remove_suffix(1);
      addReference(reader, url, at);
      continue;
    }
    addReference(reader, url, at);
    // The descriptors run to a ',' outside parentheses.
    bool inParentheses = false;
    for (; pos < size; ++pos) {
      const char c = srcset[pos];
      if (inParentheses) {
        inParentheses = c != ')';
      } else if (c == '(') {
        inParentheses = true;
      } else if (c == ',') {
        ++pos;
        break;
      }
    }
  }
}

// A meta refresh's content ("5; url='next.html'"), read as the HTML
// standard's declarative refresh steps read it.
struct Refresh {
  uint32_t delay = 0;  // whole seconds; a fraction is ignored
  bool hasUrl = false;
  std::string_view url;
};

// Reads content into *refresh. False when the content is no refresh at all.
bool readRefresh(std::string_view content, Refresh* refresh) {
  size_t pos = 0;
  const size_t size = content.size();
  auto skipWhitespace = [&] {
    while (pos < size && isAsciiWhitespace(content[pos])) ++pos;
  };
  auto nextIs = [&](char lower) {
    return pos < size && (content[pos] == lower || content[pos] == lower - 32);
  };
  skipWhitespace();
  const size_t timeStart = pos;
  uint64_t delay = 0;
  while (pos < size && content[pos] >= '0' && content[pos] <= '9') {
    delay = std::min<uint64_t>(delay * 10 + uint64_t(content[pos] - '0'), UINT32_MAX);
    ++pos;
  }
  if (pos == timeStart && (pos == size || content[pos] != '.')) return false;
  refresh->delay = uint32_t(delay);
  refresh->hasUrl = false;
  while (pos < size && ((content[pos] >= '0' && content[pos] <= '9') || content[pos] == '.')) {
    ++pos;
  }
  if (pos == size) return true;
  if (content[pos] != ';' && content[pos] != ',' && !isAsciiWhitespace(content[pos])) {
    return false;
  }
  skipWhitespace();
  if (pos < size && (content[pos] == ';' || content[pos] == ',')) ++pos;
  skipWhitespace();
  if (pos == size) return true;
  size_t urlStart = pos;
  char quote = '\0';
  if (nextIs('u')) {
    ++pos;
    if (nextIs('r')) {
      ++pos;
      if (nextIs('l')) {
        ++pos;
        skipWhitespace();
        if (pos < size && content[pos] == '=') {
          ++pos;
          skipWhitespace();
          if (pos < size && (content[pos] == '"' || content[pos] == '\'')) quote = content[pos++];
          urlStart = pos;
        }
      }
    }
  } else if (pos < size && (content[pos] == '"' || content[pos] == '\'')) {
    quote = content[pos++];
    urlStart = pos;
  }
  std::string_view rest = content.substr(urlStart);
  if (quote != '\0') rest = rest.substr(0, rest.find(quote));
  refresh->hasUrl = true;
  refresh->url = rest;
  return true;
}

// The url()s and @imports the CSS reader finished, at their own places.
void addFoundCss(PageReader& reader) {
  for (const CssReference& found : reader.ex.cssFound) {
    addReference(reader, found.value, found.placed ? found.place : placeOf(reader, found.offset));
  }
  reader.ex.cssFound.clear();
}

// The url()s and @imports of a style attribute's value, all at its place.
void addStyleAttributeReferences(PageReader& reader, std::string_view css, TextPosition at) {
  std::vector<CssReference>& found = reader.ex.cssFound;
  found.clear();
  readCssReferences(css, &found);
  for (const CssReference& reference : found) addReference(reader, reference.value, at);
  found.clear();
}

// The next part of a style element's text, which ends with it when last.
void addStyleText(PageReader& reader, const HtmlToken& text) {
  PageExtractor& ex = reader.ex;
  if (!ex.inStyle) {
    ex.inStyle = true;
    startCss(ex.css);
    ex.cssFrom = text.offset;
  }
  const size_t end = text.offset + text.text.size();
  const std::string_view css =
      std::string_view(ex.held).substr(ex.cssFrom - ex.heldOffset, end - ex.cssFrom);
  ex.cssFrom += readCss(ex.css, css, ex.cssFrom, text.lastText, &ex.cssFound);
  addFoundCss(reader);
  if (text.lastText) ex.inStyle = false;
}

// Keeps the anchors of a page with very many repeated ones to one of each.
void addAnchor(PageExtractor& ex, std::string_view anchor) {
  std::vector<std::string>& anchors = ex.links.anchors;
  anchors.emplace_back(anchor);
  if (anchors.size() < 2 * ex.anchorsSorted + 4096) return;
  std::sort(anchors.begin(), anchors.end());
  anchors.erase(std::unique(anchors.begin(), anchors.end()), anchors.end());
  ex.anchorsSorted = anchors.size();
}

// Whether an attribute of element names a URL that the page loads or links.
// In SVG, a, use and image take href and xlink:href, the first if both.
bool namesUrl(Element element, bool inSvg, Attribute attribute, bool hasHref) {
  switch (element) {
    case Element::A:
      return attribute == Attribute::Href ||
             (inSvg && attribute == Attribute::XlinkHref && !hasHref);
    case Element::Use:
    case Element::Image:
      if (!inSvg) return element == Element::Image && attribute == Attribute::Src;
      return attribute == Attribute::Href || (attribute == Attribute::XlinkHref && !hasHref);
    case Element::Area:
    case Element::Link:
      return attribute == Attribute::Href;
    case Element::Img:
    case Element::Script:
    case Element::Iframe:
    case Element::Frame:
    case Element::Embed:
    case Element::Source:
    case Element::Track:
    case Element::Audio:
    case Element::Input:
      return attribute == Attribute::Src;
    case Element::Video:
      return attribute == Attribute::Src || attribute == Attribute::Poster;
    case Element::Object:
      return attribute == Attribute::Data;
    case Element::Body:
    case Element::Table:
    case Element::Td:
    case Element::Th:
      return attribute == Attribute::Background;
    default:
      return false;
  }
}

void readStartTag(PageReader& reader, const HtmlToken& tag, bool inSvg) {
  PageLinks& links = reader.ex.links;
  const Element element = classifyElement(tag.name);
  const bool takesSrcset = element == Element::Img || element == Element::Source ||
                           (element == Element::Image && !inSvg);
  bool refresh = false;
  if (element == Element::Meta) {
    const HtmlAttribute* httpEquiv = findAttribute(tag, "http-equiv");
    refresh = httpEquiv != nullptr && equalIgnoringCase(httpEquiv->value, "refresh");
  }
  if (element == Element::Base && !links.hasBase) {
    if (const HtmlAttribute* href = findAttribute(tag, "href")) {
      links.hasBase = true;
      links.base.assign(href->value);
      if (reader.ex.baseOnly) reader.ex.done = true;
    }
  }
  if (reader.ex.baseOnly) return;
  const bool hasHref = inSvg && findAttribute(tag, "href") != nullptr;
  for (const HtmlAttribute& attribute : tag.attributes) {
    const Attribute kind = classifyAttribute(attribute.name);
    if (kind == Attribute::Other) continue;
    if (kind == Attribute::Id || (kind == Attribute::Name && element == Element::A)) {
      if (!attribute.value.empty()) addAnchor(reader.ex, attribute.value);
    } else if (kind == Attribute::Style) {
      addStyleAttributeReferences(reader, attribute.value, valuePlace(reader, attribute));
    } else if (kind == Attribute::Srcset && takesSrcset) {
      addSrcsetReferences(reader, attribute.value, valuePlace(reader, attribute));
    } else if (kind == Attribute::Content && refresh) {
      Refresh read;
      if (!readRefresh(attribute.value, &read)) continue;
      if (read.hasUrl) addReference(reader, read.url, valuePlace(reader, attribute));
      if (!links.hasRefresh) {
        links.hasRefresh = true;
        links.refreshDelay = read.delay;
        links.refreshHasUrl = read.hasUrl;
        links.refreshUrl.assign(read.url);
      }
    } else if (namesUrl(element, inSvg, kind, hasHref)) {
      addReference(reader, attribute.value, valuePlace(reader, attribute));
    }
  }
}

// Reads the tokens of the text held.
void readHtml(PageReader& reader, bool final) {
  PageExtractor& ex = reader.ex;
  HtmlTokenizer& tokenizer = ex.tokenizer;
  continueHtml(tokenizer, ex.held, ex.heldOffset, final);
  HtmlToken token;
  while (!ex.done && nextHtmlToken(tokenizer, &token)) {
    if (token.kind == HtmlTokenKind::RawText) {
      if (is(token.name, "style") && !ex.baseOnly) addStyleText(reader, token);
      continue;
    }
    const bool foreign = ex.svgDepth > 0 || ex.mathDepth > 0;
    if (token.kind == HtmlTokenKind::EndTag) {
      if (is(token.name, "svg") && ex.svgDepth > 0) --ex.svgDepth;
      if (is(token.name, "math") && ex.mathDepth > 0) --ex.mathDepth;
    } else {
      if (foreign && breaksOutOfForeignContent(token)) ex.svgDepth = ex.mathDepth = 0;
      readStartTag(reader, token, ex.svgDepth > 0);
      if (!token.selfClosing && is(token.name, "svg")) ++ex.svgDepth;
      if (!token.selfClosing && is(token.name, "math")) ++ex.mathDepth;
    }
    tokenizer.foreignContent = ex.svgDepth > 0 || ex.mathDepth > 0;
  }
}

// Reads what is held, then lets go of what no tokenizer needs again, its
// lines counted first. Places that still have to be reported and lie in
// what is let go (the values of a tag that the piece cut, a URL of a style
// sheet under way) are worked out before it goes.
void readHeld(PageReader& reader, bool final) {
  PageExtractor& ex = reader.ex;
  size_t keep;
  if (ex.styleSheet) {
    const std::string_view css = std::string_view(ex.held).substr(ex.cssFrom - ex.heldOffset);
    ex.cssFrom += readCss(ex.css, css, ex.cssFrom, final, &ex.cssFound);
    addFoundCss(reader);
    keep = ex.cssFrom;
  } else {
    readHtml(reader, final);
    keep = std::max(ex.heldOffset, std::min(ex.tokenizer.resumeAt, ex.heldOffset + ex.held.size()));
    if (ex.inStyle) keep = std::min(keep, ex.cssFrom);
    if (htmlInTag(ex.tokenizer)) {
      for (size_t i = 0; i < ex.tokenizer.attributeCount; ++i) {
        HtmlAttribute& a = ex.tokenizer.attributes[i];
        if (a.placedOffset == a.valueOffset) continue;
        a.place = placeOf(reader, a.valueOffset);
        a.placedOffset = a.valueOffset;
      }
    }
  }
  CssReference& open = ex.css.open;
  if (ex.inStyle || ex.styleSheet) {
    if (ex.css.mode != CssReader::Mode::Top && ex.css.keep && !open.placed) {
      open.place = placeOf(reader, open.offset);
      open.placed = true;
    }
  }
  if (final) keep = ex.heldOffset + ex.held.size();
  countLines(ex.lines, ex.held, ex.heldOffset, keep);
  ex.held.erase(0, keep - ex.heldOffset);
  ex.heldOffset = keep;
}

}  // namespace

void startExtraction(PageExtractor& ex, bool styleSheet, bool baseOnly) {
  ex.styleSheet = styleSheet;
  ex.baseOnly = baseOnly;
  ex.done = false;
  ex.decoder = PageDecoder();
  ex.held.clear();
  ex.heldOffset = 0;
  ex.lines = LineCounter();
  startHtmlPieces(ex.tokenizer);
  ex.tokenizer.foreignEndTagsOnly = true;
  ex.svgDepth = 0;
  ex.mathDepth = 0;
  ex.inStyle = styleSheet;
  startCss(ex.css);
  ex.cssFrom = 0;
  ex.cssFound.clear();
  // The anchors' room is kept from page to page: most pages have many.
  std::vector<std::string> anchors = std::move(ex.links.anchors);
  anchors.clear();
  ex.links = PageLinks();
  ex.links.anchors = std::move(anchors);
  ex.anchorsSorted = 0;
}

void extractPiece(PageExtractor& ex, std::string_view bytes, const ReferenceSink& sink) {
  if (ex.done) return;
  decodePage(ex.decoder, bytes, false, &ex.held);
  PageReader reader{ex, sink};
  readHeld(reader, false);
}

void finishExtraction(PageExtractor& ex, const ReferenceSink& sink) {
  if (ex.done) return;
  decodePage(ex.decoder, std::string_view(), true, &ex.held);
  PageReader reader{ex, sink};
  readHeld(reader, true);
}

namespace {

PageLinks extractWhole(std::string_view bytes, size_t pieceSize, bool styleSheet) {
  PageExtractor ex;
  startExtraction(ex, styleSheet);
  std::vector<ExtractedReference> references;
  const ReferenceSink sink = [&](std::string_view value, TextPosition at) {
    ExtractedReference reference;
    reference.value.assign(value);
    reference.line = at.line;
    reference.column = at.column;
    references.push_back(std::move(reference));
  };
  if (pieceSize == 0) pieceSize = bytes.size();
  for (size_t at = 0; at < bytes.size(); at += pieceSize) {
    extractPiece(ex, bytes.substr(at, pieceSize), sink);
  }
  finishExtraction(ex, sink);
  ex.links.references = std::move(references);
  return std::move(ex.links);
}

}  // namespace

PageLinks extractHtml(std::string_view bytes, size_t pieceSize) {
  return extractWhole(bytes, pieceSize, false);
}

PageLinks extractCss(std::string_view bytes, size_t pieceSize) {
  return extractWhole(bytes, pieceSize, true);
}

}  // namespace site
