// The summary line on the error stream: scripts read it, so it stays the
// same where nothing was ignored, and counts ignored references when some
// were.
#include <gtest/gtest.h>

#include "site/app/site_run.h"

namespace site {
namespace {

TEST(SummaryLine, CountsAndIgnored) {
  struct {
    Summary summary;
    const char* line;
  } const rows[] = {
      {{4, 9, 23, 1, 0, 8, 2, 0.014},
       "4 pages, 9 files, 23 references (1 external, not checked): 8 errors, 2 warnings in 0.01 s"},
      {{1, 1, 1, 0, 0, 1, 1, 2.5},
       "1 page, 1 file, 1 reference (0 external, not checked): 1 error, 1 warning in 2.50 s"},
      {{2, 3, 7, 1, 5, 0, 0, 0},
       "2 pages, 3 files, 7 references (1 external, not checked, 5 ignored): 0 errors, 0 "
       "warnings in 0.00 s"},
  };
  for (const auto& row : rows) EXPECT_EQ(summaryLine(row.summary), row.line);
  // With --external the line says how the distinct URLs fared.
  Summary external = {3, 3, 20, 12, 1, 2, 1, 0.5};
  external.externalChecked = true;
  external.externalUrls = 9;
  external.externalWorking = 8;
  external.externalFailed = 1;
  external.externalCached = 3;
  EXPECT_EQ(summaryLine(external),
            "3 pages, 3 files, 20 references (12 external, 9 URLs checked: 8 working, 1 failed, "
            "3 from the cache, 1 ignored): 2 errors, 1 warning in 0.50 s");
}

TEST(ProgressText, CutToTheTerminal) {
  EXPECT_EQ(progressText(12, 400, 0), "tangler-site: 12 of 400 pages read");  // no width known
  EXPECT_EQ(progressText(12, 400, 80), "tangler-site: 12 of 400 pages read");
  EXPECT_EQ(progressText(12, 400, 35), "tangler-site: 12 of 400 pages read");
  EXPECT_EQ(progressText(12, 400, 34), "tangler-site: 12 of 400 pages rea");
  EXPECT_EQ(progressText(12, 400, 1), "");
  EXPECT_EQ(progressText(12, 400, 3, 95, 0),
            "tangler-site: 12 of 400 pages read, 3 of 95 links checked");
  EXPECT_EQ(progressText(12, 400, 3, 95, 40), "tangler-site: 12 of 400 pages read, 3 o");
}

}  // namespace
}  // namespace site
