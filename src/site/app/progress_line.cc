#include "site/app/progress_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/terminal.h"

namespace site {

void drawProgress(ProgressLine* progress, const std::function<std::string(unsigned)>& text) {
  const unsigned columns = standardErrorColumns();
  progress->limit = columns > 0 ? columns - 1 : SIZE_MAX;
  std::string line = "\r";
  line += text(columns);
  const size_t width = line.size() - 1;
  // Blanks over what a longer line left, if the window narrowed.
  const size_t before = std::min(progress->shown, progress->limit);
  if (before > width) line.append(before - width, ' ');
  progress->shown = width;
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void showProgressUntil(ProgressLine* progress, const std::function<bool()>& done,
                       const std::function<std::string(unsigned)>& text) {
  while (!done()) {
    drawProgress(progress, text);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void clearProgress(ProgressLine* progress) {
  if (progress->shown == 0) return;
  std::string clear(std::min(progress->shown, progress->limit) + 2, ' ');
  clear.front() = clear.back() = '\r';
  std::fwrite(clear.data(), 1, clear.size(), stderr);
  std::fflush(stderr);
  progress->shown = 0;
}

std::string progressText(size_t pagesRead, size_t pagesFound, unsigned columns) {
  // Built piece by piece: g++ 12 at -O3 warns (-Wrestrict) wrongly on
  // "literal" + std::string&& here.
  std::string text = "tangler-site: ";
  text += std::to_string(pagesRead);
  text += " of ";
  text += std::to_string(pagesFound);
  text += " pages read";
  // The last column stays free: a console that wraps there would scroll.
  if (columns > 0 && text.size() > columns - 1) text.resize(columns - 1);
  return text;
}

std::string progressText(size_t pagesRead, size_t pagesFound, uint64_t linksChecked,
                         uint64_t linksFound, unsigned columns) {
  std::string text = progressText(pagesRead, pagesFound, 0);
  text += ", ";
  text += std::to_string(linksChecked);
  text += " of ";
  text += std::to_string(linksFound);
  text += " links checked";
  if (columns > 0 && text.size() > columns - 1) text.resize(columns - 1);
  return text;
}

}  // namespace site
