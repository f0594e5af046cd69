#include "site/html/text_position.h"

#include <cassert>
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

// Counts held[begin, end) (indexes into held). A CR is a line end unless
// the byte after it is an LF; a CR at end looks at held[end] when there is
// one, else is left pending.
void countRange(LineCounter& counter, std::string_view held, size_t heldOffset, size_t begin,
                size_t end) {
  const char* data = held.data();
  uint32_t line = counter.line;
  size_t lineStart = counter.lineStart;
  if (counter.pendingCr && begin < held.size()) {
    counter.pendingCr = false;
    if (data[begin] != '\n') {
      line = saturatedAdd(line, 1);
      lineStart = heldOffset + begin;
    }
  }
  if (begin < end && std::memchr(data + begin, '\r', end - begin) == nullptr) {
    // No carriage return: every line feed ends a line. Count them, then
    // find the last one, which is near.
    const size_t feeds = countLineFeeds(data + begin, end - begin);
    if (feeds > 0) {
      line = saturatedAdd(line, feeds);
      size_t last = end;
      while (data[last - 1] != '\n') --last;
      lineStart = heldOffset + last;
    }
  } else {
    for (size_t i = begin; i < end; ++i) {
      const char c = data[i];
      if (c == '\n') {
        line = saturatedAdd(line, 1);
        lineStart = heldOffset + i + 1;
      } else if (c == '\r') {
        if (i + 1 < held.size()) {
          if (data[i + 1] != '\n') {
            line = saturatedAdd(line, 1);
            lineStart = heldOffset + i + 1;
          }
        } else {
          counter.pendingCr = true;
        }
      }
    }
  }
  counter.offset = heldOffset + end;
  counter.line = line;
  counter.lineStart = lineStart;
}

}  // namespace

void countLines(LineCounter& counter, std::string_view held, size_t heldOffset, size_t to) {
  if (to <= counter.offset) return;
  countRange(counter, held, heldOffset, counter.offset - heldOffset, to - heldOffset);
}

TextPosition positionAt(LineCounter& counter, std::string_view held, size_t heldOffset,
                        size_t offset) {
  assert(offset >= heldOffset && offset - heldOffset <= held.size());
  if (offset > counter.offset) {
    countRange(counter, held, heldOffset, counter.offset - heldOffset, offset - heldOffset);
  }
  TextPosition position;
  if (counter.pendingCr && offset == counter.offset) {
    // Whether the CR before offset ends a line: it does unless an LF is
    // next; at the end of what is held, that is the end of the text.
    const size_t next = offset - heldOffset;
    if (next >= held.size() || held[next] != '\n') {
      position.line = saturatedAdd(counter.line, 1);
      position.column = 1;
      return position;
    }
  }
  position.line = counter.line;
  position.column = offset < counter.lineStart ? 1 : saturatedAdd(1, offset - counter.lineStart);
  return position;
}

}  // namespace site
