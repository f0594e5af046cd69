// --exclude patterns read as .gitignore lines and matched against walked
// paths: where each kind of pattern applies and where it must not; and the
// order a directory's entries are walked in.
#include "site/walk/glob.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "site/walk/walk.h"

namespace site {
namespace {

TEST(WalkOrder, IsPathOrderWithEachDirectorysSlash) {
  struct Entry {
    std::string name;
    bool directory;
  };
  // Already in walk order: "a/..." after "a-b" and "a.png" ('-' and '.' sort
  // before '/'), before "a0" and a byte above 0x7F.
  const std::vector<Entry> order = {
      {"a", false},        {"a-b", true}, {"a.png", false},
      {"a", true},         {"a0", false}, {"a\xC3\xA9.png", false},
      {"a\xC3\xA9", true}, {"b", false},
  };
  for (size_t i = 0; i < order.size(); ++i) {
    for (size_t j = 0; j < order.size(); ++j) {
      EXPECT_EQ(walkOrderLess(order[i].name, order[i].directory, order[j].name, order[j].directory),
                i < j)
          << order[i].name << (order[i].directory ? "/" : "") << " ~ " << order[j].name
          << (order[j].directory ? "/" : "");
    }
  }
}

TEST(ExcludePattern, Matches) {
  struct {
    const char* pattern;
    const char* path;
    bool directory;
    bool matches;
  } const rows[] = {
      // No '/' but a trailing one: a name at any depth.
      {"*.gz", "a.gz", false, true},
      {"*.gz", "deep/er/a.gz", false, true},
      {"*.gz", "a.GZ", false, false},  // letter case counts
      {"*.gz", "a.gz/b", false, false},
      {"drafts", "x/drafts", false, true},
      {"drafts/", "drafts", true, true},
      {"drafts/", "x/y/drafts", true, true},
      {"drafts/", "drafts", false, false},  // a file: directories alone
      {"drafts/", "drafts.html", false, false},
      {"*", "a/b", false, true},
      // Anchored at ROOT.
      {"/drafts", "drafts", true, true},
      {"/drafts", "x/drafts", true, false},
      {"./drafts", "drafts", false, true},
      {"./drafts", "x/drafts", false, false},
      {"docs/*.html", "docs/a.html", false, true},
      {"docs/*.html", "docs/sub/a.html", false, false},
      {"docs/*.html", "x/docs/a.html", false, false},
      {"docs/old/", "docs/old", true, true},
      {"docs/old/", "docs/old", false, false},
      // "**/": zero or more directories; "/**" all below.
      {"**/tmp", "tmp", false, true},
      {"**/tmp", "a/b/tmp", true, true},
      {"a/**/b", "a/b", false, true},
      {"a/**/b", "a/x/y/b", false, true},
      {"a/**/b", "x/a/b", false, false},
      {"build/**", "build/x/y", false, true},
      {"build/**", "build", true, false},
  };
  for (const auto& row : rows) {
    ExcludePattern pattern;
    ASSERT_TRUE(parseExclude(row.pattern, &pattern)) << row.pattern;
    EXPECT_EQ(excludeMatches(pattern, row.path, row.directory), row.matches)
        << row.pattern << " on " << row.path;
  }
}

TEST(ExcludePattern, Reading) {
  ExcludePattern pattern;
  EXPECT_FALSE(parseExclude("/", &pattern));
  EXPECT_FALSE(parseExclude("./", &pattern));
  ASSERT_TRUE(parseExclude("/./x//", &pattern));
  EXPECT_EQ(pattern.glob, "x");
  EXPECT_FALSE(pattern.anyDepth);
  EXPECT_TRUE(pattern.directoryOnly);
}

}  // namespace
}  // namespace site
