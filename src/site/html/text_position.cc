#include "site/html/text_position.h"

#include <bit>
#include <cassert>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace site {

namespace {

constexpr uint32_t kMaxCount = UINT32_MAX;

uint32_t saturatedAdd(uint32_t value, size_t add) {
  return add >= kMaxCount - value ? kMaxCount : value + static_cast<uint32_t>(add);
}

// What one pass over some text finds of its line ends.
struct LineFeeds {
  size_t count = 0;        // line feeds
  size_t afterLast = 0;    // the index after the last one, when count > 0
  bool sawReturn = false;  // a carriage return is among the bytes
};

// The line feeds of [text, text + size) and whether a carriage return is
// there too, in one pass: sixteen bytes at a time with SSE2. Most ranges are
// the few hundred bytes between two references.
LineFeeds scanLineFeeds(const char* text, size_t size) {
  LineFeeds found;
  size_t pos = 0;
#if defined(__SSE2__)
  const __m128i feeds = _mm_set1_epi8('\n');
  const __m128i returns = _mm_set1_epi8('\r');
  unsigned returnBits = 0;
  for (; size - pos >= 16; pos += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
    const unsigned feedBits =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feeds)));
    returnBits |= static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, returns)));
    if (feedBits != 0) {
      found.count += static_cast<size_t>(std::popcount(feedBits));
      found.afterLast = pos + 32 - static_cast<size_t>(std::countl_zero(feedBits));
    }
  }
  found.sawReturn = returnBits != 0;
#endif
  for (; pos < size; ++pos) {
    if (text[pos] == '\n') {
      ++found.count;
      found.afterLast = pos + 1;
    } else if (text[pos] == '\r') {
      found.sawReturn = true;
    }
  }
  return found;
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
  const LineFeeds feeds = begin < end ? scanLineFeeds(data + begin, end - begin) : LineFeeds();
  if (!feeds.sawReturn) {
    // No carriage return: every line feed ends a line.
    if (feeds.count > 0) {
      line = saturatedAdd(line, feeds.count);
      lineStart = heldOffset + begin + feeds.afterLast;
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
