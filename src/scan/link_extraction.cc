#include "scan/link_extraction.h"

#include <cstdint>

#include "platform/ascii_case.h"
#include "reffile/reference_file.h"
#include "scan/markup_tokenizer.h"
#include "scan/pattern_expansion.h"

namespace {

// Which attribute of a tag is read, and what its value becomes.
struct AttributeRule {
  TokenKind attribute;
  RecordKind record;
};

constexpr AttributeRule kFrameRules[] = {{TokenKind::KeywordSrc, RecordKind::Ref}};
constexpr AttributeRule kAnchorRules[] = {{TokenKind::KeywordHref, RecordKind::Ref},
                                          {TokenKind::KeywordName, RecordKind::Mark}};
constexpr AttributeRule kImageRules[] = {{TokenKind::KeywordSrc, RecordKind::Image}};
constexpr AttributeRule kBodyRules[] = {{TokenKind::KeywordBackground, RecordKind::Image}};

void writeRecord(TextWriter& out, RecordKind kind, const std::string& value, uint32_t line) {
  switch (kind) {
    case RecordKind::Ref:
      writeRef(out, value, line);
      break;
    case RecordKind::Mark:
      writeMark(out, value, line);
      break;
    case RecordKind::Image:
      writeImage(out, value, line);
      break;
    default:
      break;
  }
}

// Reads the attributes of one tag up to its end and writes a record for each
// attribute of the rules whose value is a quoted string right after '='.
// Returns the token that ended the tag (TagClose or End).
template <size_t N>
TokenKind readAttributes(MarkupTokenizer& t, TextWriter& out, const AttributeRule (&rules)[N]) {
  for (;;) {
    TokenKind kind = nextToken(t);
    if (kind == TokenKind::End || kind == TokenKind::TagClose) return kind;
    const AttributeRule* rule = nullptr;
    for (const AttributeRule& candidate : rules) {
      if (candidate.attribute == kind) {
        rule = &candidate;
        break;
      }
    }
    if (rule == nullptr) continue;
    // Whatever stands where '=' or the value should be is used up, even when
    // it is the next attribute's name. A '>' there is not lost: the close
    // stays pending and the next read answers it again.
    if (nextToken(t) != TokenKind::Equals) continue;
    if (nextToken(t) != TokenKind::String) continue;
    writeRecord(out, rule->record, t.tokenText, t.lineNumber);
  }
}

}  // namespace

void extractLinks(TextReader& input, TextWriter& refFile) {
  MarkupTokenizer t;
  t.input = &input;
  t.lineNumber = 1;
  t.tokenText.reserve(kMaxTokenText);

  while (skipToTagOpen(t) == TokenKind::TagOpen) {
    TokenKind tag = nextToken(t);
    switch (tag) {
      case TokenKind::TagClose:  // '<>'
        break;
      case TokenKind::KeywordFrame:
        skipToTagEnd(t, readAttributes(t, refFile, kFrameRules));
        break;
      case TokenKind::KeywordA:
        skipToTagEnd(t, readAttributes(t, refFile, kAnchorRules));
        break;
      case TokenKind::KeywordImg:
        skipToTagEnd(t, readAttributes(t, refFile, kImageRules));
        break;
      case TokenKind::KeywordBody:
        skipToTagEnd(t, readAttributes(t, refFile, kBodyRules));
        break;
      default:
        skipToTagEnd(t, tag);
        break;
    }
  }
}

bool scanPage(RunState& state, FileSystem& fs, TextWriter& refFile, const std::string& path) {
  TextReader reader;
  // The failure messages name the page as the pattern gave it, before it is
  // lower-cased for the record.
  if (!openOrExit(state, fs, path, &reader)) return false;
  // Pages are known by their lower-case names from here on: the check phase
  // opens them again by that name, and references are compared against it.
  writePage(refFile, lowerCaseAscii(path));
  extractLinks(reader, refFile);
  if (reader.readError()) {
    reportReadFailure(state, path);
    return false;
  }
  reader.close();
  return true;
}

bool scanPattern(RunState& state, FileSystem& fs, TextWriter& refFile, const std::string& pattern) {
  PatternExpansion expansion;
  std::string path;
  if (!firstMatch(fs, &expansion, pattern, &path)) {
    note(state, "no " + pattern);
    return true;
  }
  do {
    if (!scanPage(state, fs, refFile, path)) return false;
  } while (nextMatch(&expansion, &path));
  return true;
}
