#include "site/html/html_tokenizer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/ascii_case.h"
#include "site/html/character_references.h"
#include "text/text_helpers.h"

namespace site {

namespace {

// What a byte means to the inner loops, as bits, so that one table load
// tells a loop both whether to stop and whether the text needs a change.
enum : uint8_t {
  kSpace = 1,              // tab, LF, FF, CR, space
  kEndsTagName = 2,        // space, '/', '>'
  kEndsAttributeName = 4,  // space, '/', '>', '='
  kEndsUnquoted = 8,       // space, '>'
  kNameNeedsChange = 16,   // A-Z, NUL
  kValueNeedsChange = 32,  // '&', NUL, CR
};

constexpr std::array<uint8_t, 256> makeByteClasses() {
  std::array<uint8_t, 256> table{};
  for (const char c : {'\t', '\n', '\f', '\r', ' '}) {
    table[static_cast<unsigned char>(c)] |=
        kSpace | kEndsTagName | kEndsAttributeName | kEndsUnquoted;
  }
  table['/'] |= kEndsTagName | kEndsAttributeName;
  table['>'] |= kEndsTagName | kEndsAttributeName | kEndsUnquoted;
  table['='] |= kEndsAttributeName;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] |= kNameNeedsChange;
  table[0] |= kNameNeedsChange | kValueNeedsChange;
  table['&'] |= kValueNeedsChange;
  table['\r'] |= kValueNeedsChange;
  return table;
}

constexpr std::array<uint8_t, 256> kByteClasses = makeByteClasses();

uint8_t byteClass(char c) {
  return kByteClasses[static_cast<unsigned char>(c)];
}

bool isAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where a quoted value ends: the first quote byte at or after pos, or
// size. Sets *needsChange when a byte before it must change ('&', NUL,
// CR). Values are the longest runs inside tags, so many bytes are tested at
// a time: sixteen with SSE2; else eight, where a byte equal to b makes its
// lane of x ^ (b * kOnes) zero, and (v - kOnes) & ~v & kHighs marks the
// lowest zero lane exactly.
size_t findQuotedValueEnd(const char* data, size_t pos, size_t size, char quote,
                          bool* needsChange) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  auto zeroLanes = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const uint64_t quotes = kOnes * static_cast<unsigned char>(quote);
  for (;;) {
#if defined(__SSE2__)
    const __m128i quotes16 = _mm_set1_epi8(quote);
    const __m128i ampersands = _mm_set1_epi8('&');
    const __m128i returns = _mm_set1_epi8('\r');
    const __m128i zeros = _mm_setzero_si128();
    while (size - pos >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
      const __m128i hits = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes16), _mm_cmpeq_epi8(bytes, ampersands)),
          _mm_or_si128(_mm_cmpeq_epi8(bytes, returns), _mm_cmpeq_epi8(bytes, zeros)));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
      if (mask != 0) {
        pos += static_cast<size_t>(std::countr_zero(mask));
        break;
      }
      pos += 16;
    }
    (void)zeroLanes;
    (void)quotes;
#else
    if constexpr (std::endian::native == std::endian::little) {
      while (size - pos >= 8) {
        uint64_t word;
        std::memcpy(&word, data + pos, 8);
        const uint64_t hits = zeroLanes(word ^ quotes) | zeroLanes(word ^ (kOnes * '&')) |
                              zeroLanes(word ^ (kOnes * '\r')) | zeroLanes(word);
        if (hits != 0) {
          pos += static_cast<size_t>(std::countr_zero(hits)) / 8;
          break;
        }
        pos += 8;
      }
    }
#endif
    while (pos < size && data[pos] != quote && (byteClass(data[pos]) & kValueNeedsChange) == 0) {
      ++pos;
    }
    if (pos == size || data[pos] == quote) return pos;
    *needsChange = true;
    ++pos;
  }
}

template <size_t N>
bool is(std::string_view name, const char (&word)[N]) {
  return name.size() == N - 1 && std::memcmp(name.data(), word, N - 1) == 0;
}

// The element whose content is text up to its end tag, if name is one;
// else empty. Checked on every start tag, so by length first.
std::string_view rawTextElement(std::string_view name) {
  switch (name.size()) {
    case 3:
      return is(name, "xmp") ? "xmp" : "";
    case 5:
      if (is(name, "style")) return "style";
      return is(name, "title") ? "title" : "";
    case 6:
      if (is(name, "script")) return "script";
      return is(name, "iframe") ? "iframe" : "";
    case 7:
      return is(name, "noembed") ? "noembed" : "";
    case 8:
      if (is(name, "noframes")) return "noframes";
      return is(name, "textarea") ? "textarea" : "";
    default:
      return "";
  }
}

// A tag or attribute name as the standard builds it: lower case, NUL as
// U+FFFD.
void foldName(std::string_view raw, std::string* out) {
  out->clear();
  for (const char c : raw) {
    if (c == '\0') {
      out->append(kReplacementCharacter);
    } else {
      out->push_back(toLowerAscii(c));
    }
  }
}

// An attribute value as the standard builds it from raw page bytes.
void decodeValue(std::string_view raw, std::string* out) {
  out->clear();
  size_t pos = 0;
  while (pos < raw.size()) {
    size_t run = pos;
    while (run < raw.size() && (byteClass(raw[run]) & kValueNeedsChange) == 0) ++run;
    out->append(raw.substr(pos, run - pos));
    if (run == raw.size()) break;
    pos = run;
    switch (raw[pos]) {
      case '&':
        pos += appendCharacterReference(raw.substr(pos), true, out);
        break;
      case '\0':
        out->append(kReplacementCharacter);
        ++pos;
        break;
      default:  // CR, alone or before LF: one line feed
        out->push_back('\n');
        pos += pos + 1 < raw.size() && raw[pos + 1] == '\n' ? 2 : 1;
        break;
    }
  }
}

// Names and values that live in an attribute's own buffers are views into
// them; moving the attributes (the vector growing) moves small buffers, so
// the views are set again.
void repointBufferedViews(HtmlTokenizer& t) {
  for (size_t i = 0; i < t.attributeCount; ++i) {
    HtmlAttribute& a = t.attributes[i];
    if (a.nameBuffered) a.name = a.nameBuffer;
    if (a.valueBuffered) a.value = a.valueBuffer;
  }
}

// Appends part to the carry of a name or value, up to kMaxHtmlText bytes in
// all.
void appendCarry(HtmlTokenizer& t, std::string_view part) {
  const size_t room = kMaxHtmlText - std::min(kMaxHtmlText, t.carry.size());
  t.carry.append(part.substr(0, room));
}

// The raw bytes of the name or value that ends at end of the page text:
// page[begin, end) after what earlier pieces held of it, at most
// kMaxHtmlText bytes. *fromCarry tells whether they are in t.carry (then
// they must be copied before the next piece); *classes gets the classes of
// carried bytes too.
std::string_view takeCarried(HtmlTokenizer& t, std::string_view part, uint8_t* classes) {
  appendCarry(t, part);
  t.carrying = false;
  for (const char c : t.carry) *classes |= byteClass(c);
  return t.carry;
}

inline std::string_view takeRaw(HtmlTokenizer& t, size_t begin, size_t end, uint8_t* classes,
                                bool* fromCarry) {
  const std::string_view part(t.page.data() + begin, end - begin);
  *fromCarry = t.carrying;
  if (!t.carrying) [[likely]] {
    return part.size() <= kMaxHtmlText ? part : part.substr(0, kMaxHtmlText);
  }
  return takeCarried(t, part, classes);
}

// Up to this many attributes a tag's names are compared one by one.
constexpr size_t kFewAttributes = 32;

// A tag begins at page offset offset; its name at page[nameStart].
void beginTag(HtmlTokenizer& t, size_t offset, bool endTag, size_t nameStart) {
  t.manyNamesFilled = false;
  t.endTag = endTag;
  t.tagOffset = offset;
  t.selfClosing = false;
  t.attributeCount = 0;
  t.partStart = nameStart;
  t.carrying = false;
  t.carry.clear();
}

void setTagName(HtmlTokenizer& t, size_t begin, size_t end, uint8_t classes) {
  bool fromCarry;
  const std::string_view raw = takeRaw(t, begin, end, &classes, &fromCarry);
  if ((classes & kNameNeedsChange) == 0) {
    if (!fromCarry) {
      t.tagName = raw;
      return;
    }
    t.tagNameBuffer.assign(raw);
  } else {
    foldName(raw, &t.tagNameBuffer);
  }
  t.tagName = t.tagNameBuffer;
}

// An attribute begins at page[offset].
void beginAttribute(HtmlTokenizer& t, size_t offset) {
  if (t.attributeCount == t.attributes.size()) {
    const HtmlAttribute* before = t.attributes.data();
    t.attributes.emplace_back();
    if (t.attributes.data() != before) repointBufferedViews(t);
  }
  HtmlAttribute& a = t.attributes[t.attributeCount++];
  a.nameOffset = t.pageOffset + offset;
  a.valueOffset = a.nameOffset;
  a.placedOffset = SIZE_MAX;
  a.name = std::string_view();
  a.value = std::string_view();
  a.nameBuffered = false;
  a.valueBuffered = false;
  t.dropAttribute = false;
  t.partStart = offset;
}

// Leaving the attribute name state: the name is complete, and a name seen
// before on this tag drops the new attribute.
void setAttributeName(HtmlTokenizer& t, size_t end, uint8_t classes) {
  HtmlAttribute& a = t.attributes[t.attributeCount - 1];
  bool fromCarry;
  const std::string_view raw = takeRaw(t, t.partStart, end, &classes, &fromCarry);
  if ((classes & kNameNeedsChange) == 0 && !fromCarry) {
    a.name = raw;
    a.nameBuffered = false;
  } else {
    if ((classes & kNameNeedsChange) == 0) {
      a.nameBuffer.assign(raw);
    } else {
      foldName(raw, &a.nameBuffer);
    }
    a.nameBuffered = true;
    a.name = a.nameBuffer;
  }
  bool repeated = false;
  if (t.attributeCount <= kFewAttributes) {
    for (size_t i = 0; i + 1 < t.attributeCount && !repeated; ++i) {
      repeated = t.attributes[i].name == a.name;
    }
  } else {
    if (!t.manyNamesFilled) {
      t.manyNames.clear();
      for (size_t i = 0; i + 1 < t.attributeCount; ++i) {
        t.manyNames.emplace(t.attributes[i].name);
      }
      t.manyNamesFilled = true;
    }
    repeated = !t.manyNames.emplace(a.name).second;
  }
  if (repeated) {
    --t.attributeCount;
    t.dropAttribute = true;
  }
}

void setAttributeValue(HtmlTokenizer& t, size_t begin, size_t end, uint8_t classes) {
  if (t.dropAttribute) return;
  HtmlAttribute& a = t.attributes[t.attributeCount - 1];
  a.valueOffset = t.valueOffset;
  bool fromCarry;
  const std::string_view raw = takeRaw(t, begin, end, &classes, &fromCarry);
  if ((classes & kValueNeedsChange) == 0 && !fromCarry) {
    a.value = raw;
    a.valueBuffered = false;
    return;
  }
  if ((classes & kValueNeedsChange) == 0) {
    a.valueBuffer.assign(raw);
  } else {
    decodeValue(raw, &a.valueBuffer);
  }
  a.valueBuffered = true;
  a.value = a.valueBuffer;
}

// A value starts at page[begin].
void beginValue(HtmlTokenizer& t, size_t begin) {
  t.valueStart = begin;
  t.valueOffset = t.pageOffset + begin;
  if (!t.dropAttribute) t.attributes[t.attributeCount - 1].valueOffset = t.valueOffset;
}

bool emitTag(HtmlTokenizer& t, size_t pos, HtmlToken* token) {
  t.pos = pos;
  t.state = HtmlState::Data;
  token->kind = t.endTag ? HtmlTokenKind::EndTag : HtmlTokenKind::StartTag;
  token->name = t.tagName;
  token->selfClosing = t.selfClosing;
  token->attributes = std::span<const HtmlAttribute>(t.attributes.data(), t.attributeCount);
  token->offset = t.tagOffset;
  token->text = std::string_view();
  if (t.endTag) return true;
  const std::string_view rawText = rawTextElement(t.tagName);
  // In SVG and MathML, <script/> is a whole element.
  if (!rawText.empty() && !(t.foreignContent && t.selfClosing)) {
    t.state = HtmlState::RawText;
    t.rawTextEnd = rawText;
  } else if (is(t.tagName, "plaintext")) {
    t.state = HtmlState::Plaintext;
  }
  return true;
}

// Hands out page[begin, end) as raw text of element; with last the text
// ends there, else more follows in state.
bool emitText(HtmlTokenizer& t, size_t begin, size_t end, std::string_view element, bool last,
              HtmlState state, HtmlToken* token) {
  t.pos = end;
  t.state = last ? HtmlState::Data : state;
  t.textOpen = !last;
  token->kind = HtmlTokenKind::RawText;
  token->name = element;
  token->selfClosing = false;
  token->attributes = std::span<const HtmlAttribute>();
  token->offset = t.pageOffset + begin;
  token->text = t.page.substr(begin, end - begin);
  token->lastText = last;
  return true;
}

bool isTagState(HtmlState state) {
  switch (state) {
    case HtmlState::TagName:
    case HtmlState::BeforeAttributeName:
    case HtmlState::AttributeName:
    case HtmlState::AfterAttributeName:
    case HtmlState::BeforeAttributeValue:
    case HtmlState::AttributeValueDoubleQuoted:
    case HtmlState::AttributeValueSingleQuoted:
    case HtmlState::AttributeValueUnquoted:
    case HtmlState::AfterAttributeValueQuoted:
    case HtmlState::SelfClosingStartTag:
      return true;
    default:
      return false;
  }
}

// The text given ends before the page does: stops in state, to go on in
// the next text from page[keep] on. A tag under way keeps what it needs
// of this text in its own buffers: the part of the name or value being
// read, and the names and values read so far.
bool suspend(HtmlTokenizer& t, HtmlState state, size_t keep) {
  const size_t size = t.page.size();
  t.state = state;
  t.pos = size;
  t.resumeAt = t.pageOffset + keep;
  if (!isTagState(state)) return false;
  if (!t.carrying) t.carry.clear();
  switch (state) {
    case HtmlState::TagName:
    case HtmlState::AttributeName:
      appendCarry(t, t.page.substr(t.partStart));
      t.carrying = true;
      t.partStart = 0;
      break;
    case HtmlState::AttributeValueDoubleQuoted:
    case HtmlState::AttributeValueSingleQuoted:
    case HtmlState::AttributeValueUnquoted:
      if (!t.dropAttribute) {
        appendCarry(t, t.page.substr(t.valueStart));
        t.carrying = true;
      }
      t.valueStart = 0;
      break;
    default:
      break;
  }
  if (state != HtmlState::TagName && t.tagName.data() != t.tagNameBuffer.data()) {
    t.tagNameBuffer.assign(t.tagName);
    t.tagName = t.tagNameBuffer;
  }
  // In the attribute name state the last attribute has no name yet.
  const size_t named = t.attributeCount - (state == HtmlState::AttributeName ? 1 : 0);
  for (size_t i = 0; i < named; ++i) {
    HtmlAttribute& a = t.attributes[i];
    if (!a.nameBuffered) {
      a.nameBuffer.assign(a.name);
      a.name = a.nameBuffer;
      a.nameBuffered = true;
    }
    if (!a.valueBuffered) {
      a.valueBuffer.assign(a.value);
      a.value = a.valueBuffer;
      a.valueBuffered = true;
    }
  }
  return false;
}

// Where raw text ends: at "</name" followed by a space, '/' or '>' (any
// letter case), else at the end of the page.
size_t findRawTextEnd(std::string_view page, size_t from, std::string_view name) {
  const char* data = page.data();
  const size_t size = page.size();
  while (from < size) {
    const void* found = std::memchr(data + from, '<', size - from);
    if (found == nullptr) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(found) - data);
    const size_t after = at + 2 + name.size();
    if (after < size && data[at + 1] == '/' && (byteClass(data[after]) & kEndsTagName) != 0) {
      size_t i = 0;
      while (i < name.size() && toLowerAscii(data[at + 2 + i]) == name[i]) ++i;
      if (i == name.size()) return at;
    }
    from = at + 1;
  }
  return size;
}

}  // namespace

void startHtmlPieces(HtmlTokenizer& tokenizer) {
  tokenizer.page = std::string_view();
  tokenizer.pageOffset = 0;
  tokenizer.final = false;
  tokenizer.pos = 0;
  tokenizer.resumeAt = 0;
  tokenizer.state = HtmlState::Data;
  tokenizer.foreignContent = false;
  tokenizer.attributeCount = 0;
  tokenizer.carrying = false;
  tokenizer.carry.clear();
  tokenizer.textOpen = false;
}

void startHtml(HtmlTokenizer& tokenizer, std::string_view page, size_t firstByte) {
  startHtmlPieces(tokenizer);
  tokenizer.resumeAt = firstByte < page.size() ? firstByte : page.size();
  continueHtml(tokenizer, page, 0, true);
}

void continueHtml(HtmlTokenizer& tokenizer, std::string_view held, size_t heldOffset, bool final) {
  tokenizer.page = held;
  tokenizer.pageOffset = heldOffset;
  tokenizer.final = final;
  tokenizer.pos = tokenizer.resumeAt - heldOffset;
}

bool htmlInTag(const HtmlTokenizer& tokenizer) {
  return isTagState(tokenizer.state);
}

bool nextHtmlToken(HtmlTokenizer& t, HtmlToken* token) {
  const char* const data = t.page.data();
  const size_t size = t.page.size();
  size_t pos = t.pos;
  // The state lives in a local while the loop runs. Along a tag's usual
  // path, each state's code goes straight on to the next one's, without
  // the switch: an indirect jump per step was most of a tag's cost.
  HtmlState state = t.state;
// Sets the next state; goes straight to its code (at label) while there
// are bytes, else back round the loop, which deals with the end.
#define GO_TO(next, label)      \
  {                             \
    state = next;               \
    if (pos < size) goto label; \
    break;                      \
  }
  for (;;) {
    if (pos >= size) {
      if (!t.final) return suspend(t, state, size);
      // The end of the page: text so far is done with, a tag or comment
      // still open is dropped.
      switch (state) {
        case HtmlState::RawText:
        case HtmlState::Plaintext:
          break;
        default:
          t.pos = size;
          t.state = HtmlState::Data;
          return false;
      }
    }
    switch (state) {
      case HtmlState::Data:
      dataState : {
        // Text between tags is often a line end and some indentation:
        // look at a few bytes before paying for a call.
        const size_t near = size - pos < 16 ? size : pos + 16;
        while (pos < near && data[pos] != '<') ++pos;
        if (pos < near) {
          t.markupStart = t.pageOffset + pos;
          ++pos;
          GO_TO(HtmlState::TagOpen, tagOpen);
        }
        if (pos == size) break;
        const void* found = std::memchr(data + pos, '<', size - pos);
        if (found == nullptr) {
          pos = size;
          break;
        }
        pos = static_cast<size_t>(static_cast<const char*>(found) - data);
        t.markupStart = t.pageOffset + pos;
        ++pos;
        GO_TO(HtmlState::TagOpen, tagOpen);
      }
      case HtmlState::RawText: {
        const size_t end = findRawTextEnd(t.page, pos, t.rawTextEnd);
        if (end < size || t.final) {
          if (end > pos || t.textOpen) {
            return emitText(t, pos, end, t.rawTextEnd, true, state, token);
          }
          state = HtmlState::Data;
          break;
        }
        // More of the page follows: what cannot be the start of the end tag
        // is handed out, the rest seen again with the next piece.
        const size_t window = t.rawTextEnd.size() + 2;
        size_t safe = size;
        for (size_t i = size - pos > window ? size - window : pos; i < size; ++i) {
          if (data[i] == '<') {
            safe = i;
            break;
          }
        }
        if (safe > pos) return emitText(t, pos, safe, t.rawTextEnd, false, state, token);
        return suspend(t, state, pos);
      }
      case HtmlState::Plaintext:
        if (size > pos) return emitText(t, pos, size, "plaintext", t.final, state, token);
        state = HtmlState::Data;
        break;
      case HtmlState::TagOpen:
      tagOpen : {
        const char c = data[pos];
        if (c == '!') {
          ++pos;
          state = HtmlState::MarkupDeclarationOpen;
        } else if (c == '/') {
          ++pos;
          GO_TO(HtmlState::EndTagOpen, endTagOpen);
        } else if (isAsciiAlpha(c)) {
          beginTag(t, t.markupStart, false, pos);
          goto tagName;  // at a letter: a byte is there
        } else if (c == '?') {
          state = HtmlState::BogusComment;
        } else {
          state = HtmlState::Data;  // the '<' was text
        }
        break;
      }
      case HtmlState::EndTagOpen:
      endTagOpen : {
        const char c = data[pos];
        if (isAsciiAlpha(c)) {
          beginTag(t, t.markupStart, true, pos);
          goto tagName;
        } else if (c == '>') {
          ++pos;  // "</>" is nothing
          state = HtmlState::Data;
        } else {
          state = HtmlState::BogusComment;
        }
        break;
      }
      case HtmlState::TagName:
      tagName : {
        state = HtmlState::TagName;
        const size_t begin = pos;
        uint8_t classes = 0;
        while (pos < size && (byteClass(data[pos]) & kEndsTagName) == 0) {
          classes |= byteClass(data[pos]);
          ++pos;
        }
        if (pos == size) {
          t.partStart = begin;
          break;
        }
        setTagName(t, begin, pos, classes);
        const char c = data[pos++];
        if (c == '>') {
          if (t.endTag && t.foreignEndTagsOnly && !is(t.tagName, "svg") && !is(t.tagName, "math")) {
            GO_TO(HtmlState::Data, dataState);
          }
          return emitTag(t, pos, token);
        }
        if (c == '/') GO_TO(HtmlState::SelfClosingStartTag, selfClosingStartTag);
        GO_TO(HtmlState::BeforeAttributeName, beforeAttributeName);
      }
      case HtmlState::BeforeAttributeName:
      beforeAttributeName : {
        while (pos < size && (byteClass(data[pos]) & kSpace) != 0) ++pos;
        if (pos == size) break;
        const char c = data[pos];
        if (c == '/' || c == '>') GO_TO(HtmlState::AfterAttributeName, afterAttributeName);
        beginAttribute(t, pos);
        // A name may start with '=': it is taken as a character.
        if (c == '=') ++pos;
        GO_TO(HtmlState::AttributeName, attributeName);
      }
      case HtmlState::AttributeName:
      attributeName : {
        uint8_t classes = 0;
        while (pos < size && (byteClass(data[pos]) & kEndsAttributeName) == 0) {
          classes |= byteClass(data[pos]);
          ++pos;
        }
        if (pos == size) break;
        setAttributeName(t, pos, classes);
        if (data[pos] == '=') {
          ++pos;
          GO_TO(HtmlState::BeforeAttributeValue, beforeAttributeValue);
        }
        GO_TO(HtmlState::AfterAttributeName, afterAttributeName);
      }
      case HtmlState::AfterAttributeName:
      afterAttributeName : {
        while (pos < size && (byteClass(data[pos]) & kSpace) != 0) ++pos;
        if (pos == size) break;
        const char c = data[pos];
        if (c == '/') {
          ++pos;
          state = HtmlState::SelfClosingStartTag;
        } else if (c == '=') {
          ++pos;
          state = HtmlState::BeforeAttributeValue;
        } else if (c == '>') {
          return emitTag(t, pos + 1, token);
        } else {
          beginAttribute(t, pos);
          state = HtmlState::AttributeName;
        }
        break;
      }
      case HtmlState::BeforeAttributeValue:
      beforeAttributeValue : {
        while (pos < size && (byteClass(data[pos]) & kSpace) != 0) ++pos;
        if (pos == size) break;
        const char c = data[pos];
        if (c == '"') {
          beginValue(t, ++pos);
          GO_TO(HtmlState::AttributeValueDoubleQuoted, attributeValueQuoted);
        } else if (c == '\'') {
          beginValue(t, ++pos);
          GO_TO(HtmlState::AttributeValueSingleQuoted, attributeValueQuoted);
        } else if (c == '>') {
          return emitTag(t, pos + 1, token);  // a missing value is empty
        } else {
          beginValue(t, pos);
          state = HtmlState::AttributeValueUnquoted;
        }
        break;
      }
      case HtmlState::AttributeValueDoubleQuoted:
      case HtmlState::AttributeValueSingleQuoted:
      attributeValueQuoted : {
        const char quote = state == HtmlState::AttributeValueDoubleQuoted ? '"' : '\'';
        bool needsChange = false;
        pos = findQuotedValueEnd(data, pos, size, quote, &needsChange);
        if (pos == size) break;
        setAttributeValue(t, t.valueStart, pos, needsChange ? kValueNeedsChange : 0);
        ++pos;
        GO_TO(HtmlState::AfterAttributeValueQuoted, afterAttributeValueQuoted);
      }
      case HtmlState::AttributeValueUnquoted: {
        uint8_t classes = 0;
        while (pos < size && (byteClass(data[pos]) & kEndsUnquoted) == 0) {
          classes |= byteClass(data[pos]);
          ++pos;
        }
        if (pos == size) break;
        setAttributeValue(t, t.valueStart, pos, classes);
        if (data[pos++] == '>') return emitTag(t, pos, token);
        state = HtmlState::BeforeAttributeName;
        break;
      }
      case HtmlState::AfterAttributeValueQuoted:
      afterAttributeValueQuoted : {
        const char c = data[pos];
        if ((byteClass(c) & kSpace) != 0) {
          ++pos;
          GO_TO(HtmlState::BeforeAttributeName, beforeAttributeName);
        } else if (c == '/') {
          ++pos;
          GO_TO(HtmlState::SelfClosingStartTag, selfClosingStartTag);
        } else if (c == '>') {
          return emitTag(t, pos + 1, token);
        }
        GO_TO(HtmlState::BeforeAttributeName, beforeAttributeName);
      }
      case HtmlState::SelfClosingStartTag:
      selfClosingStartTag:
        if (data[pos] == '>') {
          t.selfClosing = true;
          return emitTag(t, pos + 1, token);
        }
        state = HtmlState::BeforeAttributeName;
        break;
      case HtmlState::MarkupDeclarationOpen: {
        // Too few bytes to tell yet: seen again with the next piece.
        const std::string_view rest = t.page.substr(pos);
        if (!t.final && ((rest.size() < 2 && std::string_view("--").starts_with(rest)) ||
                         (t.foreignContent && rest.size() < 7 &&
                          std::string_view("[CDATA[").starts_with(rest)))) {
          return suspend(t, state, pos);
        }
        if (rest.starts_with("--")) {
          pos += 2;
          state = HtmlState::CommentStart;
        } else if (t.foreignContent && t.page.substr(pos).starts_with("[CDATA[")) {
          pos += 7;
          state = HtmlState::CdataSection;
        } else {
          state = HtmlState::BogusComment;  // DOCTYPEs too
        }
        break;
      }
      case HtmlState::CommentStart:
        if (data[pos] == '-') {
          ++pos;
          state = HtmlState::CommentStartDash;
        } else if (data[pos] == '>') {
          ++pos;  // "<!-->"
          state = HtmlState::Data;
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::CommentStartDash:
        if (data[pos] == '-') {
          ++pos;
          state = HtmlState::CommentEnd;
        } else if (data[pos] == '>') {
          ++pos;  // "<!--->"
          state = HtmlState::Data;
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::Comment:
        while (pos < size && data[pos] != '-' && data[pos] != '<') ++pos;
        if (pos == size) break;
        state = data[pos] == '-' ? HtmlState::CommentEndDash : HtmlState::CommentLessThanSign;
        ++pos;
        break;
      case HtmlState::CommentLessThanSign:
        if (data[pos] == '!') {
          ++pos;
          state = HtmlState::CommentLessThanSignBang;
        } else if (data[pos] == '<') {
          ++pos;
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::CommentLessThanSignBang:
        if (data[pos] == '-') {
          ++pos;
          state = HtmlState::CommentLessThanSignBangDash;
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::CommentLessThanSignBangDash:
        if (data[pos] == '-') {
          ++pos;
          state = HtmlState::CommentLessThanSignBangDashDash;
        } else {
          state = HtmlState::CommentEndDash;
        }
        break;
      case HtmlState::CommentLessThanSignBangDashDash:
        // A nested "<!--" is only an error: the comment goes on.
        state = HtmlState::CommentEnd;
        break;
      case HtmlState::CommentEndDash:
        if (data[pos] == '-') {
          ++pos;
          state = HtmlState::CommentEnd;
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::CommentEnd:
        if (data[pos] == '>') {
          ++pos;
          state = HtmlState::Data;
        } else if (data[pos] == '!') {
          ++pos;
          state = HtmlState::CommentEndBang;
        } else if (data[pos] == '-') {
          ++pos;  // "--->": the extra dash is comment text
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::CommentEndBang:
        if (data[pos] == '-') {
          ++pos;
          state = HtmlState::CommentEndDash;
        } else if (data[pos] == '>') {
          ++pos;  // "--!>"
          state = HtmlState::Data;
        } else {
          state = HtmlState::Comment;
        }
        break;
      case HtmlState::BogusComment: {
        const void* found = std::memchr(data + pos, '>', size - pos);
        if (found == nullptr) {
          pos = size;
          if (!t.final) break;  // goes on in the next piece
        } else {
          pos = static_cast<size_t>(static_cast<const char*>(found) - data) + 1;
        }
        state = HtmlState::Data;
        break;
      }
      case HtmlState::CdataSection: {
        const size_t end = t.page.find("]]>", pos);
        if (end != std::string_view::npos) {
          pos = end + 3;
        } else if (!t.final) {
          // A "]]" at the end may be the start of the end.
          return suspend(t, state, size - pos > 2 ? size - 2 : pos);
        } else {
          pos = size;
        }
        state = HtmlState::Data;
        break;
      }
    }
  }
#undef GO_TO
}

const HtmlAttribute* findAttribute(const HtmlToken& token, std::string_view name) {
  for (const HtmlAttribute& attribute : token.attributes) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

}  // namespace site
