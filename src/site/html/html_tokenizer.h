// The HTML tokenizer: reads a page as the HTML standard's tokenizer does and
// hands out its start tags, end tags and the text of raw-text elements
// (script, style, ...), with attributes and byte offsets. It knows which
// elements hold raw text, but nothing of what a tag or attribute means:
// links are extraction's business (site/extract/).
//
// A page is read whole or a piece at a time: the tokenizer stops at the end
// of what it is given and goes on in the next piece, holding only the bytes
// of a tag that a piece cut (names and values at most kMaxHtmlText bytes
// each) and the few bytes it must see again; comments and raw text are
// passed over, never held.
//
// Tokens are views: names and values point into the text given or into the
// tokenizer's own buffers, and stay valid until the next call. Buffers are
// reused from tag to tag, so a page costs no allocation per tag. Offsets
// are from the start of the page, whatever piece is being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "site/html/text_position.h"

namespace site {

// The most bytes of one tag or attribute name or attribute value that are
// kept: the rest of a longer one is read past and dropped, so that a 100 MB
// data: URL costs no more than this. Its first bytes still tell what it is.
constexpr size_t kMaxHtmlText = size_t(1) << 20;

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
  // The reader's own: where the offset placedOffset is, worked out while the
  // bytes before it were still held (a tag a piece cut); SIZE_MAX when none.
  size_t placedOffset = SIZE_MAX;
  TextPosition place;

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
  // An element's text may come as several tokens, one after the other, when
  // it runs across pieces; lastText is set on the one that ends it.
  std::string_view text;
  bool lastText = true;
};

// Tokenizer state for one page.
struct HtmlTokenizer {
  std::string_view page;  // the text being read: the whole page, or what is held of it
  size_t pageOffset = 0;  // the page offset of page[0]
  bool final = true;      // page runs to the end of the page
  size_t pos = 0;
  // Where reading goes on in the next text given: the page offset of the
  // first byte it must hold.
  size_t resumeAt = 0;
  HtmlState state = HtmlState::Data;
  // Set by the caller while the current element is SVG or MathML: there
  // <![CDATA[ ... ]]> is a section of text, not a bogus comment, and
  // <script/> or <style/> closes at once.
  bool foreignContent = false;
  // Set by a caller that needs end tags only to know where SVG and MathML
  // end: the end tags of other elements are then passed over, not handed
  // out (one written with attributes still may be).
  bool foreignEndTagsOnly = false;

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
  size_t valueStart = 0;        // in page
  size_t valueOffset = 0;       // the same, as a page offset
  size_t partStart = 0;         // in page: where the name being read starts
  size_t markupStart = 0;       // page offset of the '<' that opened the markup being read
  std::string carry;            // the part of a name or value that earlier pieces held
  bool carrying = false;        // carry holds the start of the name or value being read
  bool textOpen = false;        // raw text has been handed out, its end not yet
  std::string_view rawTextEnd;  // the element whose end tag ends RawText
};

// Starts tokenizing a whole page at byte firstByte (past a byte order
// mark). The page must outlive the tokens.
void startHtml(HtmlTokenizer& tokenizer, std::string_view page, size_t firstByte);

// Starts tokenizing a page that will come a piece at a time.
void startHtmlPieces(HtmlTokenizer& tokenizer);

// Gives the tokenizer the text held of the page: held starts at page
// offset heldOffset, no later than tokenizer.resumeAt, and runs on past it;
// final when it runs to the end of the page. held must outlive the tokens.
void continueHtml(HtmlTokenizer& tokenizer, std::string_view held, size_t heldOffset, bool final);

// Reads up to the next token and fills *token; false at the end of the
// text given (then resumeAt says what the next must hold). A tag cut off
// by the end of the page is not a token, as the standard has it.
bool nextHtmlToken(HtmlTokenizer& tokenizer, HtmlToken* token);

// Whether the tokenizer stopped inside a tag, whose attributes so far are
// tokenizer.attributes[0, attributeCount).
bool htmlInTag(const HtmlTokenizer& tokenizer);

// The attribute of that (lower case) name, or nullptr.
const HtmlAttribute* findAttribute(const HtmlToken& token, std::string_view name);

}  // namespace site
