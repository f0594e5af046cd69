#include "site/html/text_position.h"

#include <gtest/gtest.h>

#include <string>

namespace site {
namespace {

// Every offset of texts with long runs of line feeds (past the counter's
// 64-byte blocks), lone CRs and CR LFs, asked in order, against a
// byte-by-byte count; the text held a piece at a time as a reader holds it
// (each piece let go once counted), so that a piece may end between a CR
// and its LF.
TEST(TextPosition, MatchesCountingByHand) {
  const std::string texts[] = {
      std::string(5000, '\n') + "abc",
      "a\r\nb\rc\n\rd" + std::string(3000, 'x') + "\n\n",
      "ab\ncd\r\r\n\r",
  };
  for (const std::string& text : texts) {
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(64), text.size()}) {
      SCOPED_TRACE("piece " + std::to_string(piece));
      LineCounter counter;
      uint32_t line = 1;
      size_t lineStart = 0;
      size_t counted = 0;  // by hand
      for (size_t heldOffset = 0; heldOffset < text.size(); heldOffset += piece) {
        // Held: this piece and the byte after it, which the reader has seen
        // by the time it asks.
        const std::string_view held = std::string_view(text).substr(heldOffset, piece + 1);
        for (size_t offset = heldOffset; offset < heldOffset + piece && offset < text.size();
             offset += 3) {
          for (; counted < offset; ++counted) {
            const char c = text[counted];
            if (c == '\n' ||
                (c == '\r' && (counted + 1 == text.size() || text[counted + 1] != '\n'))) {
              ++line;
              lineStart = counted + 1;
            }
          }
          const TextPosition at = positionAt(counter, held, heldOffset, offset);
          ASSERT_EQ(at.line, line) << offset;
          ASSERT_EQ(at.column, offset - lineStart + 1) << offset;
        }
        // Let go of the piece, which holds no byte after it when it ends
        // the text given so far.
        countLines(counter, text.substr(heldOffset, piece), heldOffset,
                   std::min(text.size(), heldOffset + piece));
      }
    }
  }
}

}  // namespace
}  // namespace site
