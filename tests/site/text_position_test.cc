#include "site/html/text_position.h"

#include <gtest/gtest.h>

#include <string>

namespace site {
namespace {

// Every offset of texts with long runs of line feeds (past the counter's
// 255-word batches), lone CRs and CR LFs, asked in order and out of order,
// against a byte-by-byte count.
TEST(TextPosition, MatchesCountingByHand) {
  const std::string texts[] = {
      std::string(5000, '\n') + "abc",
      "a\r\nb\rc\n\rd" + std::string(3000, 'x') + "\n\n",
      "\xEF\xBB\xBF"
      "ab\ncd",
  };
  for (const std::string& text : texts) {
    const size_t firstByte = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    LineCounter counter = startLineCounter(text, firstByte);
    uint32_t line = 1;
    size_t lineStart = firstByte;
    for (size_t offset = firstByte; offset <= text.size(); offset += 7) {
      for (size_t i = offset > 7 && offset - 7 >= firstByte ? offset - 7 : firstByte; i < offset;
           ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
          ++line;
          lineStart = i + 1;
        }
      }
      TextPosition at = positionAt(counter, offset);
      ASSERT_EQ(at.line, line) << offset;
      ASSERT_EQ(at.column, offset - lineStart + 1) << offset;
      // Going back counts again from the start.
      LineCounter fresh = startLineCounter(text, firstByte);
      positionAt(fresh, text.size());
      at = positionAt(fresh, offset);
      ASSERT_EQ(at.line, line) << offset;
      ASSERT_EQ(at.column, offset - lineStart + 1) << offset;
    }
  }
}

}  // namespace
}  // namespace site
