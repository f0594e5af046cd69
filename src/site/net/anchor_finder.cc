#include "site/net/anchor_finder.h"

#include <algorithm>

#include "site/url/resolve.h"

namespace site {

namespace {

void noteAnchor(AnchorFinder& f, std::string_view anchor) {
  if (anchor.empty()) return;
  f.anchors.emplace_back(anchor);
  for (WantedAnchor& wanted : f.wanted) {
    if (!wanted.found && (anchor == wanted.raw || anchor == wanted.decoded)) {
      wanted.found = true;
      ++f.foundCount;
    }
  }
  if (!f.wanted.empty() && f.foundCount == f.wanted.size()) f.allFound = true;
}

void readStartTag(AnchorFinder& f, const HtmlToken& tag) {
  for (const HtmlAttribute& attribute : tag.attributes) {
    if (attribute.name == "id" || (attribute.name == "name" && tag.name == "a")) {
      noteAnchor(f, attribute.value);
    }
  }
}

// Tokenizes what is pending, as far as it can be told complete; atEnd:
// the body is over, so whatever is cut off at the end is dropped.
void tokenizePending(AnchorFinder& f, bool atEnd) {
  size_t first = 0;
  if (!f.markChecked) {
    if (f.pending.size() < 3 && !atEnd) return;
    const std::string_view start = f.pending;
    if (start.starts_with("\xFE\xFF") || start.starts_with("\xFF\xFE")) {
      f.utf16 = true;
      f.pending.clear();
      return;
    }
    if (start.starts_with("\xEF\xBB\xBF")) first = 3;
    f.markChecked = true;
  }
  HtmlTokenizer& t = f.tokenizer;
  startHtml(t, f.pending, first);
  t.state = f.resumeState;
  t.rawTextEnd = f.resumeRawTextEnd;
  t.foreignContent = f.svgDepth > 0 || f.mathDepth > 0;
  t.foreignEndTagsOnly = true;
  size_t safe = first;
  HtmlState safeState = f.resumeState;
  std::string_view safeRawTextEnd = f.resumeRawTextEnd;
  HtmlToken token;
  while (!f.allFound && nextHtmlToken(t, &token)) {
    if (token.kind == HtmlTokenKind::RawText) {
      if (token.name == "plaintext") {
        f.plaintext = true;
        break;
      }
      // Text that ran to the end of what is here may go on in the next
      // piece; text that met its end tag is done with.
      if (token.offset + token.text.size() < f.pending.size()) {
        safe = t.pos;
        safeState = HtmlState::Data;
      }
      continue;
    }
    if (token.kind == HtmlTokenKind::EndTag) {
      if (token.name == "svg" && f.svgDepth > 0) --f.svgDepth;
      if (token.name == "math" && f.mathDepth > 0) --f.mathDepth;
    } else {
      readStartTag(f, token);
      if (!token.selfClosing && token.name == "svg") ++f.svgDepth;
      if (!token.selfClosing && token.name == "math") ++f.mathDepth;
    }
    t.foreignContent = f.svgDepth > 0 || f.mathDepth > 0;
    if (t.state == HtmlState::Plaintext) {
      f.plaintext = true;
      break;
    }
    safe = t.pos;
    safeState = t.state;
    safeRawTextEnd = t.rawTextEnd;
  }
  if (atEnd || f.allFound || f.plaintext) {
    f.pending.clear();
    return;
  }
  f.pending.erase(0, safe);
  f.resumeState = safeState;
  f.resumeRawTextEnd = safeRawTextEnd;
  // What is left is tokenized again with the next pieces; waiting until it
  // has doubled keeps a long comment from being read over and over.
  f.nextTry = std::max(f.pending.size() * 2, f.pending.size() + 4096);
}

}  // namespace

void startAnchorFinder(AnchorFinder* finder, const std::vector<std::string>& fragments,
                       bool readAll) {
  const uint64_t maxBytes = finder->maxBytes;
  *finder = AnchorFinder();
  finder->maxBytes = maxBytes;
  if (readAll) return;
  for (const std::string& fragment : fragments) {
    WantedAnchor wanted;
    std::string_view written;
    if (!anchorToCheck(fragment, &written, &wanted.decoded)) continue;
    wanted.raw = std::string(written);
    finder->wanted.push_back(std::move(wanted));
  }
}

bool feedAnchorFinder(AnchorFinder& f, std::string_view bytes) {
  if (f.allFound || f.capped || f.plaintext || f.utf16 || f.finished) return false;
  if (f.bytesSeen + bytes.size() >= f.maxBytes) {
    bytes = bytes.substr(0, size_t(f.maxBytes - f.bytesSeen));
    f.capped = true;
  }
  f.bytesSeen += bytes.size();
  f.pending.append(bytes);
  if (f.capped) {
    finishAnchorFinder(f);
    return false;
  }
  if (f.pending.size() >= f.nextTry) tokenizePending(f, false);
  return !(f.allFound || f.plaintext || f.utf16);
}

void finishAnchorFinder(AnchorFinder& f) {
  if (f.finished) return;
  if (!f.allFound && !f.plaintext && !f.utf16) tokenizePending(f, true);
  f.pending.clear();
  f.pending.shrink_to_fit();
  std::sort(f.anchors.begin(), f.anchors.end());
  f.anchors.erase(std::unique(f.anchors.begin(), f.anchors.end()), f.anchors.end());
  f.finished = true;
}

bool anchorsHaveFragment(const std::vector<std::string>& anchors, std::string_view fragment) {
  std::string_view raw;
  std::string decoded;
  if (!anchorToCheck(fragment, &raw, &decoded)) return true;
  return std::binary_search(anchors.begin(), anchors.end(), raw) ||
         std::binary_search(anchors.begin(), anchors.end(), decoded);
}

}  // namespace site
