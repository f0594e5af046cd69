#include "site/report/utf8_repair.h"

#include <cstddef>

namespace site {

namespace {

// The length of the well-formed sequence at bytes[at], or 0 when none starts
// there; *bad is then the number of bytes of the ill-formed prefix (at least
// one), which become one U+FFFD. The ranges of the second byte are those of
// the Unicode standard's table of well-formed UTF-8 byte sequences.
size_t sequenceLength(std::string_view bytes, size_t at, size_t* bad) {
  const unsigned char lead = static_cast<unsigned char>(bytes[at]);
  size_t trailing = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
  } else if (lead == 0xE0) {
    trailing = 2;
    low = 0xA0;  // no overlong forms
  } else if (lead == 0xED) {
    trailing = 2;
    high = 0x9F;  // no surrogates
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    trailing = 2;
  } else if (lead == 0xF0) {
    trailing = 3;
    low = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    trailing = 3;
  } else if (lead == 0xF4) {
    trailing = 3;
    high = 0x8F;  // nothing above U+10FFFF
  } else {
    *bad = 1;
    return 0;
  }
  for (size_t k = 1; k <= trailing; ++k) {
    if (at + k >= bytes.size()) {
      *bad = k;
      return 0;
    }
    const unsigned char next = static_cast<unsigned char>(bytes[at + k]);
    const unsigned char min = k == 1 ? low : 0x80;
    const unsigned char max = k == 1 ? high : 0xBF;
    if (next < min || next > max) {
      *bad = k;
      return 0;
    }
  }
  return trailing + 1;
}

}  // namespace

std::string repairUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    size_t bad = 0;
    const size_t length = sequenceLength(bytes, at, &bad);
    if (length > 0) {
      text.append(bytes.substr(at, length));
      at += length;
    } else {
      text.append(kReplacementCharacter);
      at += bad;
    }
  }
  return text;
}

}  // namespace site
