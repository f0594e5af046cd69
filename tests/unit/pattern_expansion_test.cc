#include "files/pattern_expansion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan_temp_dir.h"

using namespace tangler;

namespace {

// Looks at the disk afresh every time: nothing is kept while caching is off.
FileSystem fs;

std::vector<std::string> expand(const std::string& pattern) {
  PatternExpansion expansion;
  std::vector<std::string> paths;
  std::string path;
  for (bool found = firstMatch(fs, &expansion, pattern, &path); found;
       found = nextMatch(&expansion, &path)) {
    paths.push_back(path);
  }
  return paths;
}

using Paths = std::vector<std::string>;

TEST(PatternPrefix, DriveAndDirectoryAsWritten) {
  EXPECT_EQ(patternPrefix("*.htm"), "");
  EXPECT_EQ(patternPrefix("c:*.htm"), "c:");
  EXPECT_EQ(patternPrefix("C:\\Site\\*.htm"), "C:\\Site\\");
  EXPECT_EQ(patternPrefix("site/*.htm"), "site/");
  EXPECT_EQ(patternPrefix("a\\b/c?.htm"), "a\\b/");
  EXPECT_EQ(patternPrefix("\\*.htm"), "\\");
  EXPECT_EQ(patternPrefix("/x"), "/");
  EXPECT_EQ(patternPrefix("c"), "");
  EXPECT_EQ(patternPrefix(""), "");
}

TEST(PatternExpansion, YieldsStoredNamesSkippingFoldersAndHiddenFiles) {
  ScanTempDir dir;
  dir.write("a.htm", "");
  dir.write("B.HTM", "");
  dir.write(".hidden.htm", "");
  dir.write("notes.txt", "");
  dir.makeDirectory("c.htm");
  EXPECT_EQ(expand("*.htm"), (Paths{"a.htm", "B.HTM"}));
}

TEST(PatternExpansion, KeepsTheDirectoryAsWrittenWithEitherSeparator) {
  ScanTempDir dir;
  dir.write("Site/Index.htm", "");
  dir.write("Site/news.HTM", "");
  EXPECT_EQ(expand("site/*.htm"), (Paths{"site/Index.htm", "site/news.HTM"}));
  EXPECT_EQ(expand("SITE\\*.htm"), (Paths{"SITE\\Index.htm", "SITE\\news.HTM"}));
  EXPECT_EQ(expand("./Site/n*"), (Paths{"./Site/news.HTM"}));
}

TEST(PatternExpansion, AbsolutePatternKeepsItsPath) {
  ScanTempDir dir;
  dir.write("p.htm", "");
  EXPECT_EQ(expand(dir.path() + "/*.htm"), (Paths{dir.path() + "/p.htm"}));
}

TEST(PatternExpansion, NothingMatching) {
  ScanTempDir dir;
  dir.write("a.html", "x");
  EXPECT_EQ(expand("*.gif"), Paths{});
  EXPECT_EQ(expand("missing/*.htm"), Paths{});
}

TEST(PatternExpansion, NewExpansionStartsAfresh) {
  ScanTempDir dir;
  dir.write("a.htm", "");
  dir.write("b.htm", "");
  dir.write("c.gif", "");
  PatternExpansion expansion;
  std::string path;
  ASSERT_TRUE(firstMatch(fs, &expansion, "*.htm", &path));
  EXPECT_EQ(path, "a.htm");
  ASSERT_TRUE(firstMatch(fs, &expansion, "*.gif", &path));
  EXPECT_EQ(path, "c.gif");
  EXPECT_FALSE(nextMatch(&expansion, &path));
  EXPECT_FALSE(nextMatch(&expansion, &path));
}

TEST(PatternExpansion, LongPathsAreNotCut) {
  ScanTempDir dir;
  std::string folder(200, 'd');
  std::string name(200, 'n');
  dir.write(folder + "/" + name + ".htm", "");
  EXPECT_EQ(expand(folder + "/*.htm"), (Paths{folder + "/" + name + ".htm"}));
}

}  // namespace
