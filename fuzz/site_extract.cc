// Page bytes through the HTML tokenizer and extraction, and the same bytes
// read as a style sheet. Whatever the bytes, nothing may crash, and what
// comes out must be well formed: tag and attribute names in lower case and
// unique per tag, offsets inside the page and in order, every value valid
// UTF-8 when the page is, and every reference placed on a line and column
// that exist, never before the reference ahead of it; read in pieces, the
// page gives what it gives whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "site/extract/page_links.h"
#include "site/html/html_tokenizer.h"
#include "site/html/page_decoder.h"
#include "text/text_helpers.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Where each line of the text extraction reads (the page decoded: a byte
// order mark dropped, UTF-16 converted) starts, as HTML counts lines (CR
// LF, CR, LF).
std::vector<size_t> lineStarts(std::string_view text) {
  std::vector<size_t> starts{0};
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
      starts.push_back(i + 1);
    }
  }
  return starts;
}

void checkLinks(const site::PageLinks& links, std::string_view page, bool utf8) {
  site::PageDecoder decoder;
  std::string text;
  site::decodePage(decoder, page, true, &text);
  page = text;
  const std::vector<size_t> starts = lineStarts(page);
  uint32_t line = 1;
  uint32_t column = 1;
  for (const site::ExtractedReference& r : links.references) {
    check(r.line >= 1 && r.line <= starts.size() && r.column >= 1);
    const size_t lineEnd = r.line < starts.size() ? starts[r.line] : page.size();
    check(starts[r.line - 1] + r.column - 1 <= lineEnd);
    check(r.line > line || (r.line == line && r.column >= column));
    line = r.line;
    column = r.column;
    check(!utf8 || isValidUtf8(r.value));
  }
  for (const std::string& anchor : links.anchors)
    check(!anchor.empty() && (!utf8 || isValidUtf8(anchor)));
  check(links.hasBase || links.base.empty());
  check(!utf8 || isValidUtf8(links.base));
  check(links.hasRefresh || (!links.refreshHasUrl && links.refreshUrl.empty()));
  check(links.refreshHasUrl || links.refreshUrl.empty());
  check(!utf8 || isValidUtf8(links.refreshUrl));
}

void checkTokens(std::string_view page, bool utf8) {
  site::HtmlTokenizer tokenizer;
  site::startHtml(tokenizer, page, 0);
  site::HtmlToken token;
  size_t previous = 0;
  while (site::nextHtmlToken(tokenizer, &token)) {
    check(token.offset >= previous && token.offset < page.size());
    previous = token.offset;
    if (token.kind == site::HtmlTokenKind::RawText) {
      check(token.text.data() == page.data() + token.offset &&
            token.offset + token.text.size() <= page.size());
      continue;
    }
    check(!token.name.empty() && (!utf8 || isValidUtf8(token.name)));
    for (size_t i = 0; i < token.attributes.size(); ++i) {
      const site::HtmlAttribute& a = token.attributes[i];
      check(!a.name.empty() && a.nameOffset > token.offset && a.valueOffset >= a.nameOffset &&
            a.valueOffset < page.size());
      for (char c : a.name) check(c < 'A' || c > 'Z');
      check(!utf8 || (isValidUtf8(a.name) && isValidUtf8(a.value)));
      for (size_t k = 0; k < i; ++k) check(token.attributes[k].name != a.name);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const bool utf8 = isValidUtf8(page);
  checkTokens(page, utf8);
  const site::PageLinks whole = site::extractHtml(page);
  checkLinks(whole, page, utf8);
  // Read in pieces, the page gives the same references at the same places.
  const site::PageLinks pieces = site::extractHtml(page, 1 + size % 13);
  check(pieces.references.size() == whole.references.size());
  for (size_t i = 0; i < whole.references.size(); ++i) {
    check(pieces.references[i].value == whole.references[i].value &&
          pieces.references[i].line == whole.references[i].line &&
          pieces.references[i].column == whole.references[i].column);
  }
  check(pieces.anchors == whole.anchors && pieces.base == whole.base &&
        pieces.refreshUrl == whole.refreshUrl);
  const site::PageLinks css = site::extractCss(page);
  check(css.anchors.empty() && !css.hasBase);
  checkLinks(css, page, utf8);
  return 0;
}
