#include "site/html/text_position.h"

#include <cstring>

namespace site {

namespace {

constexpr uint32_t kMaxCount = UINT32_MAX;

uint32_t saturatedAdd(uint32_t value, size_t add) {
  return add >= kMaxCount - value ? kMaxCount : value + static_cast<uint32_t>(add);
}

// The line feeds in [text, text + size). The fixed-length inner loop is
// one the compilers turn into vector compares at -O2.
size_t countLineFeeds(const char* text, size_t size) {
  constexpr size_t kBlock = 64;
  size_t count = 0;
  size_t pos = 0;
  for (; size - pos >= kBlock; pos += kBlock) {
    unsigned char inBlock = 0;
    for (size_t i = 0; i < kBlock; ++i) inBlock += text[pos + i] == '\n' ? 1 : 0;
    count += inBlock;
  }
  for (; pos < size; ++pos) count += text[pos] == '\n' ? 1 : 0;
  return count;
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
    // No carriage return: every line feed ends a line. Count them, then
    // find the last one, which is near.
    const size_t feeds = countLineFeeds(data + begin, offset - begin);
    if (feeds > 0) {
      line = saturatedAdd(line, feeds);
      size_t last = offset;
      while (data[last - 1] != '\n') --last;
      lineStart = last;
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
