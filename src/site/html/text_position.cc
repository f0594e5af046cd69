#include "site/html/text_position.h"

#include <cstring>

namespace site {

namespace {

constexpr uint32_t kMaxCount = UINT32_MAX;

uint32_t saturatedAdd(uint32_t value, size_t add) {
  return add >= kMaxCount - value ? kMaxCount : value + static_cast<uint32_t>(add);
}

}  // namespace

LineCounter startLineCounter(std::string_view text, size_t firstByte) {
  LineCounter counter;
  counter.text = text;
  counter.firstByte = firstByte < text.size() ? firstByte : text.size();
  counter.offset = counter.firstByte;
  counter.lineStart = counter.firstByte;
  return counter;
}

TextPosition positionAt(LineCounter& counter, size_t offset) {
  if (offset > counter.text.size()) offset = counter.text.size();
  if (offset < counter.firstByte) offset = counter.firstByte;
  if (offset < counter.offset) counter = startLineCounter(counter.text, counter.firstByte);
  const char* data = counter.text.data();
  const size_t size = counter.text.size();
  const size_t begin = counter.offset;
  uint32_t line = counter.line;
  size_t lineStart = counter.lineStart;
  if (begin < offset && std::memchr(data + begin, '\r', offset - begin) == nullptr) {
    // No carriage return: every line feed ends a line, and memchr finds
    // them faster than a loop over the bytes.
    const char* at = data + begin;
    const char* end = data + offset;
    while (const void* found = std::memchr(at, '\n', static_cast<size_t>(end - at))) {
      at = static_cast<const char*>(found) + 1;
      line = saturatedAdd(line, 1);
      lineStart = static_cast<size_t>(at - data);
    }
  } else {
    for (size_t i = begin; i < offset; ++i) {
      const char c = data[i];
      if (c == '\n' || (c == '\r' && (i + 1 == size || data[i + 1] != '\n'))) {
        line = saturatedAdd(line, 1);
        lineStart = i + 1;
      }
    }
  }
  counter.offset = offset;
  counter.line = line;
  counter.lineStart = lineStart;
  TextPosition position;
  position.line = line;
  position.column = saturatedAdd(1, offset - lineStart);
  return position;
}

}  // namespace site
