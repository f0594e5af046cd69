// The HTML tokenizer: reads a page as the HTML standard's tokenizer does and
// hands out its start tags, end tags and the text of raw-text elements
// (script, style, ...), with attributes and byte offsets. It knows which
// elements hold raw text, but nothing of what a tag or attribute means:
// links are extraction's business (site/extract/).
//
// Tokens are views: names and values point into the page or into the
// tokenizer's own buffers, and stay valid until the next call. Buffers are
// reused from tag to tag, so a page costs no allocation per tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace site {

// The tokenizer states, named as in the HTML standard. RawText stands for
// its RCDATA, RAWTEXT and script data states alike: text up to the element's
// end tag (the script escape states are not modelled). Character references
// are decoded when a value is complete, so they need no state of their own.
// DOCTYPEs end at their first '>', as bogus comments do, and go through
// that state.
enum class HtmlState : uint8_t {
  Data,
  RawText,
  Plaintext,
  TagOpen,
  EndTagOpen,
  TagName,
  BeforeAttributeName,
  AttributeName,
  AfterAttributeName,
  BeforeAttributeValue,
  AttributeValueDoubleQuoted,
  AttributeValueSingleQuoted,
  AttributeValueUnquoted,
  AfterAttributeValueQuoted,
  SelfClosingStartTag,
  MarkupDeclarationOpen,
  CommentStart,
  CommentStartDash,
  Comment,
  CommentLessThanSign,
  CommentLessThanSignBang,
  CommentLessThanSignBangDash,
  CommentLessThanSignBangDashDash,
  CommentEndDash,
  CommentEnd,
  CommentEndBang,
  BogusComment,
  CdataSection,
};

struct HtmlAttribute {
  // Folded to ASCII lower case; NUL becomes U+FFFD.
  std::string_view name;
  // Character references decoded (to UTF-8), CR LF and CR made LF, NUL made
  // U+FFFD. Empty for an attribute written without a value.
  std::string_view value;
  size_t nameOffset = 0;
  // Offset in the page of the value's first byte: for a quoted value the
  // byte after the quote, for an attribute without a value its name.
  size_t valueOffset = 0;

  // The tokenizer's own: text that had to change lives here.
  std::string nameBuffer;
  std::string valueBuffer;
  bool nameBuffered = false;
  bool valueBuffered = false;
};

enum class HtmlTokenKind : uint8_t { StartTag, EndTag, RawText };

struct HtmlToken {
  HtmlTokenKind kind = HtmlTokenKind::StartTag;
  // The tag name, folded to ASCII lower case; for RawText, the name of the
  // element that holds the text.
  std::string_view name;
  bool selfClosing = false;
  // In page order, without the later ones of equal names. End tags keep
  // theirs too, though they mean nothing.
  std::span<const HtmlAttribute> attributes;
  size_t offset = 0;  // of the '<' of a tag, or the first byte of raw text
  // RawText only: the bytes as in the page, up to (not with) the end tag.
  std::string_view text;
};

// Tokenizer state for one page. The page must outlive it.
struct HtmlTokenizer {
  std::string_view page;
  size_t pos = 0;
  HtmlState state = HtmlState::Data;
  // Set by the caller while the current element is SVG or MathML: there
  // <![CDATA[ ... ]]> is a section of text, not a bogus comment, and
  // <script/> or <style/> closes at once.
  bool foreignContent = false;

  // The tag being read.
  bool endTag = false;
  size_t tagOffset = 0;
  std::string_view tagName;
  std::string tagNameBuffer;
  bool selfClosing = false;
  std::vector<HtmlAttribute> attributes;  // the first attributeCount are the tag's
  size_t attributeCount = 0;
  bool dropAttribute = false;  // the attribute being read repeats an earlier name
  // The names so far of a tag with many attributes, so that finding a
  // repeated name stays cheap however many a tag has.
  std::unordered_set<std::string> manyNames;
  bool manyNamesFilled = false;
  size_t valueStart = 0;
  std::string_view rawTextEnd;  // the element whose end tag ends RawText
};

// Starts tokenizing page at byte firstByte (past a byte order mark).
void startHtml(HtmlTokenizer& tokenizer, std::string_view page, size_t firstByte);

// Reads up to the next token and fills *token; false at the end of the
// page. A tag cut off by the end of the page is not a token, as the
// standard has it.
bool nextHtmlToken(HtmlTokenizer& tokenizer, HtmlToken* token);

// The attribute of that (lower case) name, or nullptr.
const HtmlAttribute* findAttribute(const HtmlToken& token, std::string_view name);

}  // namespace site
