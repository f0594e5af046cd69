// The markup tokenizer in its plainest form: one byte at a time through the
// reader's get() and unget(), every token read in full. The tokenizer under
// src/scan/ must give the same tokens, texts and line numbers; the tests and
// the fuzz target hold the two side by side.
#pragma once

#include <cstdint>
#include <string>

#include "platform/text_file.h"
#include "scan/markup_tokenizer.h"

namespace tangler {

struct ByteTokenizer {
  TextReader* input = nullptr;
  uint32_t lineNumber = 1;
  std::string tokenText;
  bool closePending = false;
};

// nextToken(), skipToTagEnd() and skipToTagOpen() of markup_tokenizer.h.
TokenKind byteNextToken(ByteTokenizer& t);
void byteSkipToTagEnd(ByteTokenizer& t, TokenKind lastKind);
TokenKind byteSkipToTagOpen(ByteTokenizer& t);

// Reads page with both tokenizers side by side through one series of calls
// (nextToken, clearClosePending, skipToTagEnd, skipToTagOpen) drawn from
// seed, comparing after each call what it answered, the token text where it
// has one, the line number and the pending close. Returns the first
// difference described, or the empty text when they always agree.
std::string compareTokenizers(const std::string& page, uint64_t seed);

}  // namespace tangler
