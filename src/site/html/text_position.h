// Line and column of a byte offset in a page or style sheet, as HTML counts
// lines: CR LF, a lone CR and LF each end one line. Columns are bytes, from
// 1. The tokenizers hand out offsets; the few that become references are
// turned into positions here, in document order, so the page is counted once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace site {

struct TextPosition {
  uint32_t line = 1;
  uint32_t column = 1;
};

// Counts lines forward through text. text must outlive the counter.
struct LineCounter {
  std::string_view text;
  size_t firstByte = 0;  // where line 1 starts
  size_t offset = 0;     // counted up to here
  uint32_t line = 1;     // the line that holds offset
  size_t lineStart = 0;  // where that line starts
};

// A counter over text whose first line starts at firstByte (past a byte
// order mark, which editors do not show as a column).
LineCounter startLineCounter(std::string_view text, size_t firstByte);

// The position of offset; offsets before firstByte or past the end are
// taken as those bounds. Cheapest when offsets come
// in increasing order; an earlier offset counts again from the start.
// Lines and columns past 2^32-1 stay at that value.
TextPosition positionAt(LineCounter& counter, size_t offset);

}  // namespace site
