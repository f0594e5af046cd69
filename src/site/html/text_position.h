// Line and column of a byte offset in a page or style sheet, as HTML counts
// lines: CR LF, a lone CR and LF each end one line. Columns are bytes, from
// 1. The text is read a piece at a time and never held whole, so the
// counter goes forward through it once, over whatever part of the text is
// held at the time: every byte is counted before it is let go, and the
// offsets that become references are turned into positions in text order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace site {

struct TextPosition {
  uint32_t line = 1;
  uint32_t column = 1;
};

// How far the lines of a text have been counted. Offsets are from the
// text's start (after a byte order mark, which editors do not show).
struct LineCounter {
  size_t offset = 0;     // counted up to here
  uint32_t line = 1;     // the line that holds offset
  size_t lineStart = 0;  // where that line starts
  // The byte before offset is a CR whose byte after was not held when it
  // was counted: whether it ends a line (it does unless an LF follows)
  // waits for that byte.
  bool pendingCr = false;
};

// Counts the lines of text up to offset to, out of held: the part of the
// text that starts at heldOffset and holds every byte from counter.offset
// on. Does nothing when to is not past counter.offset.
void countLines(LineCounter& counter, std::string_view held, size_t heldOffset, size_t to);

// The position of offset, counted as countLines() does; offset must be
// held, and no earlier than an offset asked for before. A CR right before
// the end of held counts as a line end (the end of the text). Lines and
// columns past 2^32-1 stay at that value.
TextPosition positionAt(LineCounter& counter, std::string_view held, size_t heldOffset,
                        size_t offset);

}  // namespace site
