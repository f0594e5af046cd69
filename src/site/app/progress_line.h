// The progress line on a terminal's error stream: redrawn in place, cut to
// the terminal's width, and cleared at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace site {

struct ProgressLine {
  size_t shown = 0;  // the width of the line drawn last
  size_t limit = SIZE_MAX;
};

// Draws text(columns) over the line drawn before.
void drawProgress(ProgressLine* progress, const std::function<std::string(unsigned)>& text);

// Redraws the line every tenth of a second until done() holds.
void showProgressUntil(ProgressLine* progress, const std::function<bool()>& done,
                       const std::function<std::string(unsigned)>& text);

// Blanks the line out, if one is drawn.
void clearProgress(ProgressLine* progress);

// The progress line drawn on a terminal, "tangler-site: 12 of 40 pages
// read", cut to fit a terminal of columns columns with the last one left
// free (columns 0: not cut).
std::string progressText(size_t pagesRead, size_t pagesFound, unsigned columns);

// The same with --external: "tangler-site: 12 of 40 pages read, 30 of 95
// links checked" (distinct URLs with their answer, of those found so far).
std::string progressText(size_t pagesRead, size_t pagesFound, uint64_t linksChecked,
                         uint64_t linksFound, unsigned columns);

}  // namespace site
