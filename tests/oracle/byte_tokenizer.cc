#include "byte_tokenizer.h"

#include "platform/ascii_case.h"

namespace tangler {

namespace {

bool isWordByte(int c) {
  if (c <= 0x20) return false;
  if (c >= 0x7F) return true;
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

TokenKind classify(const std::string& word) {
  static const char* const kKeywords[] = {"A",   "FRAME", "HREF", "IMG",
                                          "SRC", "NAME",  "BODY", "BACKGROUND"};
  static const TokenKind kKinds[] = {TokenKind::KeywordA,    TokenKind::KeywordFrame,
                                     TokenKind::KeywordHref, TokenKind::KeywordImg,
                                     TokenKind::KeywordSrc,  TokenKind::KeywordName,
                                     TokenKind::KeywordBody, TokenKind::KeywordBackground};
  for (size_t i = 0; i < std::size(kKeywords); ++i) {
    if (equalIgnoringCase(word, kKeywords[i])) return kKinds[i];
  }
  return TokenKind::Word;
}

void scanString(ByteTokenizer& t) {
  t.tokenText.clear();
  for (;;) {
    int c = t.input->get();
    if (c < 0 || c == '"') return;
    if (c == '\n') {
      ++t.lineNumber;
      return;
    }
    if (c < 0x20) continue;
    if (t.tokenText.size() < kMaxTokenText) t.tokenText.push_back(static_cast<char>(c));
  }
}

TokenKind scanWord(ByteTokenizer& t, int first) {
  t.tokenText.assign(1, static_cast<char>(first));
  for (;;) {
    int c = t.input->get();
    if (c < 0) break;
    if (!isWordByte(c)) {
      t.input->unget(c);
      break;
    }
    if (t.tokenText.size() < kMaxTokenText) t.tokenText.push_back(static_cast<char>(c));
  }
  return classify(t.tokenText);
}

}  // namespace

TokenKind byteNextToken(ByteTokenizer& t) {
  if (t.closePending) return TokenKind::TagClose;
  for (;;) {
    int c = t.input->get();
    if (c < 0) return TokenKind::End;
    if (c == '\n') {
      ++t.lineNumber;
    } else if (c <= 0x20) {
      continue;
    } else if (c == '<') {
      return TokenKind::TagOpen;
    } else if (c == '=') {
      return TokenKind::Equals;
    } else if (c == '>') {
      t.closePending = true;
      return TokenKind::TagClose;
    } else if (c == '"') {
      scanString(t);
      return TokenKind::String;
    } else {
      return scanWord(t, c);
    }
  }
}

void byteSkipToTagEnd(ByteTokenizer& t, TokenKind lastKind) {
  if (t.closePending) {
    t.closePending = false;
    return;
  }
  if (lastKind == TokenKind::TagClose) return;
  for (;;) {
    TokenKind kind = byteNextToken(t);
    if (kind == TokenKind::TagClose || kind == TokenKind::End) return;
  }
}

TokenKind byteSkipToTagOpen(ByteTokenizer& t) {
  for (;;) {
    t.closePending = false;
    TokenKind kind = byteNextToken(t);
    if (kind == TokenKind::TagOpen || kind == TokenKind::End) return kind;
  }
}

std::string compareTokenizers(const std::string& page, uint64_t seed) {
  TextReader fastInput;
  TextReader byteInput;
  fastInput.openMemory(page);
  byteInput.openMemory(page);
  MarkupTokenizer fast;
  fast.input = &fastInput;
  ByteTokenizer slow;
  slow.input = &byteInput;

  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  auto draw = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  TokenKind last = TokenKind::TagOpen;
  int endsSeen = 0;
  // A pending close that is never cleared answers without reading, so the
  // number of calls is bounded rather than the bytes.
  const size_t calls = page.size() * 4 + 64;
  for (size_t call = 0; call < calls && endsSeen < 3; ++call) {
    const uint64_t pick = draw() % 8;
    std::string what;
    TokenKind fastKind = TokenKind::End;
    TokenKind slowKind = TokenKind::End;
    if (pick < 3) {
      what = "nextToken";
      fastKind = nextToken(fast);
      slowKind = byteNextToken(slow);
      last = slowKind;
    } else if (pick == 3) {
      what = "nextTokenKind";
      fastKind = nextTokenKind(fast);
      slowKind = byteNextToken(slow);
      last = slowKind;
    } else if (pick == 4) {
      what = "clearClosePending";
      clearClosePending(fast);
      slow.closePending = false;
    } else if (pick == 5) {
      what = "skipToTagEnd";
      skipToTagEnd(fast, last);
      byteSkipToTagEnd(slow, last);
    } else {
      what = "skipToTagOpen";
      fastKind = skipToTagOpen(fast);
      slowKind = byteSkipToTagOpen(slow);
      last = slowKind;
    }
    // nextTokenKind() sets the text of strings alone.
    const bool hasText =
        (pick < 3 && slowKind >= TokenKind::String) || (pick == 3 && slowKind == TokenKind::String);
    std::string difference;
    if (fastKind != slowKind) {
      difference = "kind " + std::to_string(static_cast<int>(fastKind)) + " instead of " +
                   std::to_string(static_cast<int>(slowKind));
    } else if (hasText && fast.tokenText != slow.tokenText) {
      difference = "text \"" + fast.tokenText + "\" instead of \"" + slow.tokenText + "\"";
    } else if (fast.lineNumber != slow.lineNumber) {
      difference = "line " + std::to_string(fast.lineNumber) + " instead of " +
                   std::to_string(slow.lineNumber);
    } else if (fast.closePending != slow.closePending) {
      difference = "pending close differs";
    }
    if (!difference.empty()) {
      return "call " + std::to_string(call) + " (" + what + "): " + difference;
    }
    if (slowKind == TokenKind::End && what != "clearClosePending" && what != "skipToTagEnd") {
      ++endsSeen;
    }
  }
  return {};
}

}  // namespace tangler
