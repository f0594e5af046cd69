#include "site/report/utf8_repair.h"

#include <cstddef>

namespace site {

std::string repairUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    size_t bad = 0;
    const size_t length = utf8SequenceLength(bytes, at, &bad);
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
