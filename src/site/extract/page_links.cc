#include "site/extract/page_links.h"

#include <algorithm>
#include <utility>

#include "site/css/css_reader.h"
#include "site/html/html_tokenizer.h"
#include "site/html/text_position.h"

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

struct ElementName {
  std::string_view name;
  Element element;
};

// Sorted by name for binary search.
constexpr ElementName kElements[] = {
    {"a", Element::A},           {"area", Element::Area},     {"audio", Element::Audio},
    {"base", Element::Base},     {"body", Element::Body},     {"embed", Element::Embed},
    {"frame", Element::Frame},   {"iframe", Element::Iframe}, {"image", Element::Image},
    {"img", Element::Img},       {"input", Element::Input},   {"link", Element::Link},
    {"math", Element::Math},     {"meta", Element::Meta},     {"object", Element::Object},
    {"script", Element::Script}, {"source", Element::Source}, {"svg", Element::Svg},
    {"table", Element::Table},   {"td", Element::Td},         {"th", Element::Th},
    {"track", Element::Track},   {"use", Element::Use},       {"video", Element::Video},
};

Element classifyElement(std::string_view name) {
  const ElementName* end = std::end(kElements);
  const ElementName* found = std::lower_bound(
      std::begin(kElements), end, name,
      [](const ElementName& entry, std::string_view key) { return entry.name < key; });
  return found != end && found->name == name ? found->element : Element::Other;
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

bool equalsIgnoringCase(std::string_view text, std::string_view lowerWord) {
  if (text.size() != lowerWord.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != lowerWord[i]) return false;
  }
  return true;
}

bool isAsciiWhitespace(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

size_t byteOrderMarkLength(std::string_view bytes) {
  return bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

struct PageReader {
  PageLinks links;
  LineCounter lines;
  std::vector<CssReference> css;  // reused for every style sheet of the page
};

void addReference(PageReader& reader, std::string_view value, TextPosition at) {
  ExtractedReference reference;
  reference.value.assign(value);
  reference.line = at.line;
  reference.column = at.column;
  reader.links.references.push_back(std::move(reference));
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

// The URL of a meta refresh's content ("5; url='next.html'"), read as the
// HTML standard's declarative refresh steps read it. False when there is
// none (a plain reload, or content that is no refresh).
bool refreshUrl(std::string_view content, std::string_view* url) {
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
  while (pos < size && content[pos] >= '0' && content[pos] <= '9') ++pos;
  if (pos == timeStart && (pos == size || content[pos] != '.')) return false;
  while (pos < size && ((content[pos] >= '0' && content[pos] <= '9') || content[pos] == '.')) {
    ++pos;
  }
  if (pos == size) return false;
  if (content[pos] != ';' && content[pos] != ',' && !isAsciiWhitespace(content[pos])) {
    return false;
  }
  skipWhitespace();
  if (pos < size && (content[pos] == ';' || content[pos] == ',')) ++pos;
  skipWhitespace();
  if (pos == size) return false;
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
  *url = rest;
  return true;
}

// The url()s and @imports of style sheet text that starts at offset base of
// the page; all at one place when it is a style attribute's value.
void addCssReferences(PageReader& reader, std::string_view css, size_t base,
                      const TextPosition* sharedPlace) {
  reader.css.clear();
  readCssReferences(css, &reader.css);
  for (CssReference& found : reader.css) {
    const TextPosition at =
        sharedPlace != nullptr ? *sharedPlace : positionAt(reader.lines, base + found.offset);
    ExtractedReference reference;
    reference.value = std::move(found.value);
    reference.line = at.line;
    reference.column = at.column;
    reader.links.references.push_back(std::move(reference));
  }
}

// Whether an attribute of element names a URL that the page loads or links.
// In SVG, a, use and image take href and xlink:href, the first if both.
bool namesUrl(Element element, bool inSvg, std::string_view attribute, const HtmlToken& tag) {
  switch (element) {
    case Element::A:
      if (inSvg && attribute == "xlink:href") return findAttribute(tag, "href") == nullptr;
      return attribute == "href";
    case Element::Use:
    case Element::Image:
      if (!inSvg) return element == Element::Image && attribute == "src";
      if (attribute == "xlink:href") return findAttribute(tag, "href") == nullptr;
      return attribute == "href";
    case Element::Area:
    case Element::Link:
      return attribute == "href";
    case Element::Img:
    case Element::Script:
    case Element::Iframe:
    case Element::Frame:
    case Element::Embed:
    case Element::Source:
    case Element::Track:
    case Element::Audio:
    case Element::Input:
      return attribute == "src";
    case Element::Video:
      return attribute == "src" || attribute == "poster";
    case Element::Object:
      return attribute == "data";
    case Element::Body:
    case Element::Table:
    case Element::Td:
    case Element::Th:
      return attribute == "background";
    default:
      return false;
  }
}

void readStartTag(PageReader& reader, const HtmlToken& tag, bool inSvg) {
  const Element element = classifyElement(tag.name);
  const bool takesSrcset = element == Element::Img || element == Element::Source ||
                           (element == Element::Image && !inSvg);
  bool refresh = false;
  if (element == Element::Meta) {
    const HtmlAttribute* httpEquiv = findAttribute(tag, "http-equiv");
    refresh = httpEquiv != nullptr && equalsIgnoringCase(httpEquiv->value, "refresh");
  }
  if (element == Element::Base && !reader.links.hasBase) {
    if (const HtmlAttribute* href = findAttribute(tag, "href")) {
      reader.links.hasBase = true;
      reader.links.base.assign(href->value);
    }
  }
  for (const HtmlAttribute& attribute : tag.attributes) {
    const std::string_view name = attribute.name;
    if (name == "id" || (name == "name" && element == Element::A)) {
      if (!attribute.value.empty()) reader.links.anchors.emplace_back(attribute.value);
    } else if (name == "style") {
      const TextPosition at = positionAt(reader.lines, attribute.valueOffset);
      addCssReferences(reader, attribute.value, 0, &at);
    } else if (name == "srcset" && takesSrcset) {
      addSrcsetReferences(reader, attribute.value, positionAt(reader.lines, attribute.valueOffset));
    } else if (name == "content" && refresh) {
      std::string_view url;
      if (refreshUrl(attribute.value, &url)) {
        addReference(reader, url, positionAt(reader.lines, attribute.valueOffset));
      }
    } else if (namesUrl(element, inSvg, name, tag)) {
      addReference(reader, attribute.value, positionAt(reader.lines, attribute.valueOffset));
    }
  }
}

}  // namespace

PageLinks extractHtml(std::string_view bytes) {
  PageReader reader;
  const size_t firstByte = byteOrderMarkLength(bytes);
  reader.lines = startLineCounter(bytes, firstByte);
  HtmlTokenizer tokenizer;
  startHtml(tokenizer, bytes, firstByte);
  // Open svg and math elements: the tree builder's view of whether the
  // current element is foreign, kept only as far as links need it.
  uint32_t svgDepth = 0;
  uint32_t mathDepth = 0;
  HtmlToken token;
  while (nextHtmlToken(tokenizer, &token)) {
    if (token.kind == HtmlTokenKind::RawText) {
      if (token.name == "style") addCssReferences(reader, token.text, token.offset, nullptr);
      continue;
    }
    const bool foreign = svgDepth > 0 || mathDepth > 0;
    if (token.kind == HtmlTokenKind::EndTag) {
      if (token.name == "svg" && svgDepth > 0) --svgDepth;
      if (token.name == "math" && mathDepth > 0) --mathDepth;
    } else {
      if (foreign && breaksOutOfForeignContent(token)) svgDepth = mathDepth = 0;
      readStartTag(reader, token, svgDepth > 0);
      if (!token.selfClosing && token.name == "svg") ++svgDepth;
      if (!token.selfClosing && token.name == "math") ++mathDepth;
    }
    tokenizer.foreignContent = svgDepth > 0 || mathDepth > 0;
  }
  return std::move(reader.links);
}

PageLinks extractCss(std::string_view bytes) {
  PageReader reader;
  const size_t firstByte = byteOrderMarkLength(bytes);
  reader.lines = startLineCounter(bytes, firstByte);
  addCssReferences(reader, bytes.substr(firstByte), firstByte, nullptr);
  return std::move(reader.links);
}

}  // namespace site
