// The Windows directory services: the system does the matching, the case
// folding and the ordering, so these tests check what tangler adds or
// leaves out (skipped entries, stored names, pass-through paths) against
// the system's own answers.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "platform_test_support.h"

namespace {

using namespace std::string_literals;
using platform_test::ChangeDir;
using platform_test::existsRaw;
using platform_test::makeDir;
using platform_test::TempDir;
using platform_test::writeRaw;
using Names = std::vector<std::string>;

Names sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

class Win32DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(makeDir(dir_ / "Sub"));
    ASSERT_TRUE(writeRaw(dir_ / "Index.HTM", "home"));
    ASSERT_TRUE(writeRaw(dir_ / "Sub\\Page.Htm", "page"));
  }
  void touch(const std::string& name, DWORD attributes = 0) {
    ASSERT_TRUE(writeRaw(dir_ / name, name));
    if (attributes != 0) {
      ASSERT_TRUE(SetFileAttributesA((dir_ / name).c_str(), attributes));
    }
  }
  TempDir dir_;
  FileSystem fs_;
};

TEST_F(Win32DirectoryTest, SearchSkipsDirectoriesHiddenAndSystemEntries) {
  touch("real.htm");
  touch("readonly.htm", FILE_ATTRIBUTE_READONLY);
  touch("archived.htm", FILE_ATTRIBUTE_ARCHIVE);
  touch("hidden.htm", FILE_ATTRIBUTE_HIDDEN);
  touch("system.htm", FILE_ATTRIBUTE_SYSTEM);
  touch("both.htm", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  ASSERT_TRUE(makeDir(dir_ / "folder.htm"));
  EXPECT_EQ(sorted(fs_.findFiles(dir_ / "*.htm")),
            (Names{"Index.HTM", "archived.htm", "readonly.htm", "real.htm"}));
  EXPECT_TRUE(fs_.findFiles(dir_ / "hidden.htm").empty());
  EXPECT_TRUE(fs_.findFiles(dir_ / "folder.htm").empty());
  // Hidden files still exist for the existence test.
  EXPECT_TRUE(fs_.pathExists(dir_ / "hidden.htm"));
}

TEST_F(Win32DirectoryTest, SearchGivesStoredNamesWhateverCaseIsAskedFor) {
  struct Case {
    std::string pattern;
    Names names;
  };
  const Case cases[] = {
      {dir_ / "index.htm", {"Index.HTM"}},
      {dir_ / "INDEX.*", {"Index.HTM"}},
      {dir_ / "i*", {"Index.HTM"}},
      {dir_.path() + "/sub/*.htm", {"Page.Htm"}},
      {dir_.path() + "\\SUB\\PAGE.HTM", {"Page.Htm"}},
      {dir_ / "sub\\..\\index.htm", {"Index.HTM"}},
      {dir_ / "nomatch*", {}},
      {dir_ / "nosuch\\*.*", {}},
      {"", {}},
      {"*.htm\0x"s, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(fs_.findFiles(c.pattern), c.names) << c.pattern;
}

TEST_F(Win32DirectoryTest, SearchKeepsTheSystemsOrder) {
  for (const char* name : {"b.htm", "_a.htm", "A2.htm", "c.HTM", "zz.htm"}) touch(name);
  // The order the system lists the directory in, read without tangler.
  Names listed;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() && wildcardMatch("*.htm", name)) listed.push_back(name);
  }
  ASSERT_EQ(listed.size(), 6u);
  EXPECT_EQ(fs_.findFiles(dir_ / "*.htm"), listed);
}

TEST_F(Win32DirectoryTest, WildcardRulesAgreeWithTheSystemsSearch) {
  // 8.3 names only: a longer name has a short alias that Windows matches too.
  const Names names = {"A.HTM", "AB.HTM", "README", "X.TXT", "AXB.GIF"};
  for (const std::string& name : names) touch(name);
  for (const char* pattern : {"*", "*.*", "*.htm", "?.htm", "??.htm", "a*", "a*b*", "readme.*",
                              "*.t?t", "x.txt", "*b.gif", "*.h"}) {
    for (const std::string& name : names) {
      const Names found = fs_.findFiles(dir_ / pattern);
      const bool listed = std::find(found.begin(), found.end(), name) != found.end();
      EXPECT_EQ(wildcardMatch(pattern, name), listed) << pattern << " ~ " << name;
    }
  }
}

TEST_F(Win32DirectoryTest, ExistenceAsTheSystemSeesIt) {
  struct Case {
    std::string path;
    bool exists;
  };
  const Case cases[] = {
      {dir_ / "index.htm", true},
      {dir_ / "INDEX.htm", true},
      {dir_.path() + "/sub/PAGE.HTM", true},
      {dir_ / "SUB", true},
      {dir_ / "sub\\", true},
      {dir_ / "nosuch\\..\\index.htm", true},
      {dir_ / "sub\\page.html", false},
      {dir_ / "nosuch\\page.htm", false},
      {"", false},
      {dir_ / "index.htm\0junk"s, false},
  };
  for (const Case& c : cases) EXPECT_EQ(fs_.pathExists(c.path), c.exists) << c.path;
  // A drive letter is a drive letter here: the scratch directory's own.
  ASSERT_GT(dir_.path().size(), 2u);
  ASSERT_EQ(dir_.path()[1], ':');
  EXPECT_TRUE(fs_.pathExists(dir_.path().substr(0, 3)));
}

TEST_F(Win32DirectoryTest, DeleteIgnoresCaseAndLeavesDirectories) {
  EXPECT_TRUE(fs_.deleteFile(dir_ / "SUB\\page.HTM"));
  EXPECT_FALSE(existsRaw(dir_ / "Sub\\Page.Htm"));
  EXPECT_FALSE(fs_.deleteFile(dir_ / "sub\\page.htm"));
  EXPECT_FALSE(fs_.deleteFile(dir_ / "sub"));
  EXPECT_TRUE(existsRaw(dir_ / "Sub"));
  EXPECT_FALSE(fs_.deleteFile(""));
}

TEST_F(Win32DirectoryTest, PathsPassThroughAsWritten) {
  std::string host = "stale";
  ASSERT_TRUE(fs_.resolvePath("SUB\\page.HTM", &host));
  EXPECT_EQ(host, "SUB\\page.HTM");
  EXPECT_FALSE(fs_.resolvePath("", &host));
  EXPECT_EQ(host, "");
  EXPECT_FALSE(fs_.resolvePath("a\0b"s, &host));
}

TEST_F(Win32DirectoryTest, CurrentDirectoryIsTheSystems) {
  ChangeDir in(dir_ / "Sub");
  ASSERT_TRUE(in.ok());
  char buffer[MAX_PATH * 4];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof buffer);
  EXPECT_EQ(fs_.currentDirectory(), std::string(buffer, length));
  EXPECT_TRUE(equalIgnoringCase(fs_.currentDirectory(), dir_ / "Sub"));
  EXPECT_EQ(fs_.findFiles("*.*"), Names{"Page.Htm"});
}

}  // namespace
