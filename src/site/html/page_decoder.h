// How the bytes of a page become the text the tokenizer reads, as browsers
// sniff them: a UTF-16 byte order mark (either order) makes the page
// UTF-16, converted to UTF-8; a UTF-8 mark is dropped; anything else is
// read as the bytes are (every encoding a site would use for its markup is
// ASCII-compatible). The bytes come a piece at a time, cut anywhere: in a
// mark, between the two bytes of a UTF-16 unit or between the two units of
// a surrogate pair.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace site {

enum class PageEncoding : uint8_t { Unknown, Bytes, Utf16Le, Utf16Be };

// What decoding carries from one piece to the next.
struct PageDecoder {
  PageEncoding encoding = PageEncoding::Unknown;  // until the first bytes tell
  std::string head;                               // those first bytes, meanwhile
  int oddByte = -1;                               // the first byte of a UTF-16 unit
  uint32_t lead = 0;                              // a high surrogate, before its low one
};

// Appends the text of the next bytes of the page to *text; end when the
// page ends with them. A surrogate without its other half, and an odd last
// byte, become U+FFFD.
void decodePage(PageDecoder& decoder, std::string_view bytes, bool end, std::string* text);

}  // namespace site
