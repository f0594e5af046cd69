#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform_test_support.h"

namespace {

using platform_test::ChangeDir;
using platform_test::existsRaw;
using platform_test::TempDir;
using platform_test::writeRaw;
using Names = std::vector<std::string>;

// A site with a sub-directory, each name stored in mixed case. Every case runs
// twice, looking afresh and through the cache: the two must agree.
class DirectoryTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    fs_.setCaching(GetParam());
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(mkdir((dir_ / "Sub").c_str(), 0755), 0);
    ASSERT_TRUE(writeRaw(dir_ / "Index.HTM", "home"));
    ASSERT_TRUE(writeRaw(dir_ / "Sub/Page.Htm", "page"));
  }
  TempDir dir_;
  FileSystem fs_;
};
INSTANTIATE_TEST_SUITE_P(FreshAndCached, DirectoryTest, ::testing::Bool());

TEST_P(DirectoryTest, ExistsIgnoringCaseInEveryComponent) {
  EXPECT_TRUE(fs_.pathExists(dir_ / "index.htm"));
  EXPECT_TRUE(fs_.pathExists(dir_ / "INDEX.htm"));
  EXPECT_TRUE(fs_.pathExists(dir_ / "sub/PAGE.HTM"));
  EXPECT_TRUE(fs_.pathExists(dir_ / "SUB"));
  EXPECT_FALSE(fs_.pathExists(dir_ / "sub/page.html"));
  EXPECT_FALSE(fs_.pathExists(dir_ / "nosuch/page.htm"));
  EXPECT_FALSE(fs_.pathExists(""));
}

TEST_P(DirectoryTest, BackslashesSeparateLikeSlashes) {
  EXPECT_TRUE(fs_.pathExists(dir_.path() + "\\sub\\page.htm"));
  EXPECT_TRUE(fs_.pathExists(dir_.path() + "\\SUB/Page.htm"));
  ChangeDir in(dir_.path());
  ASSERT_TRUE(in.ok());
  EXPECT_TRUE(fs_.pathExists("sub\\page.htm"));
  EXPECT_TRUE(fs_.pathExists(".\\Sub\\.\\page.htm"));
  std::string host;
  ASSERT_TRUE(fs_.resolvePath("sub\\page.htm", &host));
  EXPECT_EQ(host, "Sub/Page.Htm");
}

TEST_P(DirectoryTest, DotsFoldAwayByNameBeforeLookup) {
  ChangeDir in(dir_.path());
  ASSERT_TRUE(in.ok());
  // "nosuch/.." means nothing to the host, but Windows folds it away first.
  EXPECT_TRUE(fs_.pathExists("nosuch/../index.htm"));
  EXPECT_TRUE(fs_.pathExists("sub/../sub/./page.htm"));
  EXPECT_TRUE(fs_.pathExists("sub/.."));
  std::string host;
  ASSERT_TRUE(fs_.resolvePath("a\\b\\..\\..\\sub\\page.htm", &host));
  EXPECT_EQ(host, "Sub/Page.Htm");
  // A ".." with nothing to take away stays.
  ASSERT_TRUE(fs_.resolvePath("../x/../y", &host));
  EXPECT_EQ(host, "../y");
  ASSERT_TRUE(fs_.resolvePath("sub/..", &host));
  EXPECT_EQ(host, ".");
}

TEST_P(DirectoryTest, ResolveKeepsTheMissingRestAsWritten) {
  std::string host;
  ASSERT_TRUE(fs_.resolvePath(dir_.path() + "\\sub\\New\\File.X", &host));
  EXPECT_EQ(host, dir_ / "Sub/New/File.X");
  ASSERT_TRUE(fs_.resolvePath(dir_.path() + "//SUB//", &host));
  EXPECT_EQ(host, dir_ / "Sub/");
  EXPECT_FALSE(fs_.resolvePath("", &host));
}

TEST_P(DirectoryTest, TrailingSeparatorMustNameADirectory) {
  EXPECT_TRUE(fs_.pathExists(dir_ / "sub/"));
  EXPECT_TRUE(fs_.pathExists(dir_ / "sub\\"));
  EXPECT_FALSE(fs_.pathExists(dir_ / "index.htm/"));
  EXPECT_FALSE(fs_.pathExists(dir_ / "index.htm\\"));
}

TEST_P(DirectoryTest, ExactSpellingWinsElseFirstInDirectoryOrder) {
  ASSERT_TRUE(writeRaw(dir_ / "page.htm", "lower"));
  ASSERT_TRUE(writeRaw(dir_ / "Page.htm", "title"));
  ASSERT_TRUE(writeRaw(dir_ / "PAGE.htm", "upper"));
  std::string host;
  ASSERT_TRUE(fs_.resolvePath(dir_ / "Page.htm", &host));
  EXPECT_EQ(host, dir_ / "Page.htm");
  ASSERT_TRUE(fs_.resolvePath(dir_ / "page.htm", &host));
  EXPECT_EQ(host, dir_ / "page.htm");
  // No exact match: "PAGE.htm" comes first because 'A' < 'a'.
  ASSERT_TRUE(fs_.resolvePath(dir_ / "pAgE.HTM", &host));
  EXPECT_EQ(host, dir_ / "PAGE.htm");
}

// A cached listing is a snapshot, one for each directory however it is
// spelt: a file added behind the cache's back stays unseen by every spelling
// until caching starts over.
TEST_P(DirectoryTest, EverySpellingOfADirectorySharesOneListing) {
  ChangeDir in(dir_.path());
  ASSERT_TRUE(in.ok());
  EXPECT_EQ(fs_.findFiles("sub/*.htm"), Names{"Page.Htm"});
  EXPECT_EQ(fs_.findFiles("*.htm"), Names{"Index.HTM"});
  ASSERT_TRUE(writeRaw(dir_ / "Sub/New.htm", ""));
  ASSERT_TRUE(writeRaw(dir_ / "New.htm", ""));
  const Names sub = GetParam() ? Names{"Page.Htm"} : Names{"New.htm", "Page.Htm"};
  const Names top = GetParam() ? Names{"Index.HTM"} : Names{"Index.HTM", "New.htm"};
  for (const char* pattern : {"sub/*.htm", "SUB\\*.htm", "sub//*.htm", "./sub/./*.htm"}) {
    EXPECT_EQ(fs_.findFiles(pattern), sub) << pattern;
  }
  for (const char* pattern : {"*.htm", "./*.htm", ".\\*.htm", "sub/../*.htm"}) {
    EXPECT_EQ(fs_.findFiles(pattern), top) << pattern;
  }
  EXPECT_EQ(fs_.pathExists("sub/new.htm"), !GetParam());
  fs_.setCaching(GetParam());
  EXPECT_EQ(fs_.findFiles("./SUB/*.htm"), (Names{"New.htm", "Page.Htm"}));
}

TEST_P(DirectoryTest, DeleteIgnoresCase) {
  EXPECT_TRUE(fs_.deleteFile(dir_ / "SUB\\page.HTM"));
  EXPECT_FALSE(existsRaw(dir_ / "Sub/Page.Htm"));
  EXPECT_FALSE(fs_.deleteFile(dir_ / "sub/page.htm"));
  // Directories are not files.
  EXPECT_FALSE(fs_.deleteFile(dir_ / "sub"));
  EXPECT_TRUE(existsRaw(dir_ / "Sub"));
}

TEST_P(DirectoryTest, DriveLettersMatchNothing) {
  ChangeDir in(dir_.path());
  ASSERT_TRUE(in.ok());
  // Even where a file called "c:index.htm" really exists.
  ASSERT_TRUE(writeRaw(dir_ / "c:index.htm", "x"));
  std::string host;
  for (const char* path : {"c:index.htm", "C:\\index.htm", "z:/", "c:"}) {
    EXPECT_FALSE(fs_.pathExists(path)) << path;
    EXPECT_FALSE(fs_.resolvePath(path, &host)) << path;
    EXPECT_FALSE(fs_.deleteFile(path)) << path;
    EXPECT_TRUE(fs_.findFiles(path).empty()) << path;
  }
  EXPECT_TRUE(fs_.findFiles("c:*.*").empty());
  EXPECT_TRUE(existsRaw(dir_ / "c:index.htm"));
  // Only a letter makes a drive.
  EXPECT_TRUE(fs_.pathExists("./c:index.htm"));
}

TEST_P(DirectoryTest, LongPathsAndLongCurrentDirectory) {
  std::string deep = dir_.path();
  const std::string part(60, 'd');
  for (int i = 0; i < 8; ++i) {
    deep += "/" + part;
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  ASSERT_GT(deep.size(), 480u);
  ASSERT_TRUE(writeRaw(deep + "/Deep.htm", "deep"));
  std::string upper = deep;
  for (char& c : upper) c = toupper(static_cast<unsigned char>(c));
  upper.replace(0, dir_.path().size(), dir_.path());  // the temp name is not ours to fold
  EXPECT_TRUE(fs_.pathExists(upper + "\\DEEP.HTM"));

  ChangeDir in(deep);
  ASSERT_TRUE(in.ok());
  EXPECT_EQ(fs_.currentDirectory(), deep);
  EXPECT_EQ(fs_.findFiles("*.*"), Names{"Deep.htm"});
}

TEST(DirectoryOrder, FoldsToUpperCaseThenExactBytes) {
  struct Case {
    const char* a;
    const char* b;
    bool less;
  };
  const Case cases[] = {
      {"a", "B", true},        {"B", "a", false},
      {"ax", "_x", true},      {"_x", "ax", false},    // '_' after every letter
      {"Zeta", "_a", true},    {"a", "[", true},       // folded up, 'A' is below '['
      {"ABC", "abc", true},    {"abc", "ABC", false},  // a tie goes to the exact bytes
      {"ab", "abc", true},     {"abc", "ab", false},
      {"same", "same", false}, {"z", "\xE9", true},  // bytes compare unsigned
      {"", "a", true},         {"a", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(directoryOrderLess(c.a, c.b), c.less) << c.a << " < " << c.b;
  }
}

TEST(DirectoryOrder, PositionsSortAsTheComparisonDoes) {
  // Long shared beginnings, ties broken past the sixteenth byte, case
  // variants, one name the beginning of another, bytes below '0' and above 0x7F.
  Names names;
  for (const char* stem :
       {"chapter-one-sections", "CHAPTER-ONE-SECTIONS", "chapter-one-sectionz", "chapter-one-sect",
        "Chapter-One-Sect", "chapter",
        "\x01"
        "a",
        "\xE9t\xE9", "_under", "a", "A", "", "page00010.htm", "page0001.htm", "PAGE00010.HTM"}) {
    names.push_back(stem);
    names.push_back(std::string(stem) + "x");
  }
  const std::vector<uint32_t> order = directoryOrder(names);
  ASSERT_EQ(order.size(), names.size());
  Names ordered;
  for (uint32_t i : order) ordered.push_back(names[i]);
  Names expected = names;
  std::sort(expected.begin(), expected.end(), directoryOrderLess);
  EXPECT_EQ(ordered, expected);
}

TEST(Wildcards, MatchTable) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*", "index.htm", true},
      {"*.htm", "INDEX.HTM", true},
      {"*.HTM", "index.htm", true},
      {"*.htm", "index.html", false},
      {"*.htm*", "index.html", true},
      {"*.htm", ".htm", true},
      {"i*x.htm", "ix.htm", true},  // '*' may match nothing
      {"i*z.htm", "index.htm", false},
      {"?.htm", "a.htm", true},
      {"?.htm", ".htm", false},  // '?' is exactly one character
      {"?.htm", "ab.htm", false},
      {"??", "ab", true},
      {"a?c", "A_C", true},
      {"*.*", "README", true},  // the DOS reading of "*.*"
      {"*.*", "index.htm", true},
      {"index.*", "index", true},
      {"index.*", "INDEX.htm", true},
      {"index.*", "indexes", false},
      {"*a*b*c*", "xxaxxbxxcxx", true},
      {"*a*b*c*", "xxaxxcxxbxx", false},
      {"page", "PAGE", true},
      {"page", "pages", false},
      {"", "", false},  // an empty pattern matches nothing
      {"", "x", false},
      {"[ab]", "a", false},  // brackets are plain characters
      {"[ab]", "[AB]", true},
      {"*.htm", "htm", false},
      {"*.htm*", "A.HTML", true},
      {"*.htm*", ".htm", true},
      {"*.htm*", "x.ht", false},
      {"*.htm*", "htm.x", false},
      {"*htm*", "HTMx", true},
      {"**", "x", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
  }
}

TEST(Wildcards, EndingsAndPartsMatchAsTheGeneralRuleDoes) {
  // "**" + rest goes the general way; "*" + rest the short one.
  const std::string letters = "aA.hHtTm*";
  for (const char* rest : {".htm", "a", "Aa", ".htm*", "a*", "h.*"}) {
    for (unsigned code = 0; code < 20000; ++code) {
      std::string name;
      for (unsigned c = code; c > 0; c /= 9) name += letters[c % 9];
      if (name.find('*') != std::string::npos) continue;
      EXPECT_EQ(wildcardMatch(std::string("*") + rest, name),
                wildcardMatch(std::string("**") + rest, name))
          << rest << " ~ " << name;
    }
  }
}

TEST(Wildcards, ManyStarsStayFast) {
  // Backtracking into every star would take for ever here.
  const std::string pattern = std::string(40, '*') + "b";
  EXPECT_FALSE(wildcardMatch(pattern, std::string(4000, 'a')));
  EXPECT_TRUE(wildcardMatch(pattern, std::string(4000, 'a') + "B"));
}

class FindFilesTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    fs_.setCaching(GetParam());
    ASSERT_FALSE(dir_.path().empty());
  }
  void touch(const std::string& name) { ASSERT_TRUE(writeRaw(dir_ / name, name)); }
  TempDir dir_;
  FileSystem fs_;
};
INSTANTIATE_TEST_SUITE_P(FreshAndCached, FindFilesTest, ::testing::Bool());

TEST_P(FindFilesTest, SortedInDirectoryOrderWithStoredNames) {
  for (const char* name : {"b.htm", "_a.htm", "A.htm", "c.HTM", "a.html", "zz.txt"}) touch(name);
  EXPECT_EQ(fs_.findFiles(dir_ / "*.htm"), (Names{"A.htm", "b.htm", "c.HTM", "_a.htm"}));
  EXPECT_EQ(fs_.findFiles(dir_ / "*.*"),
            (Names{"A.htm", "a.html", "b.htm", "c.HTM", "zz.txt", "_a.htm"}));
  EXPECT_EQ(fs_.findFiles(dir_ / "?.HTM"), (Names{"A.htm", "b.htm", "c.HTM"}));
  EXPECT_EQ(fs_.findFiles(dir_ / "A.HTM"), Names{"A.htm"});
  EXPECT_TRUE(fs_.findFiles(dir_ / "nomatch*").empty());
}

TEST_P(FindFilesTest, StarDotStarTakesDotlessNames) {
  touch("README");
  touch("index.htm");
  EXPECT_EQ(fs_.findFiles(dir_ / "*.*"), (Names{"index.htm", "README"}));
  EXPECT_EQ(fs_.findFiles(dir_ / "readme.*"), Names{"README"});
  EXPECT_EQ(fs_.findFiles(dir_ / "*"), (Names{"index.htm", "README"}));
}

TEST_P(FindFilesTest, DirectoryPartIsLiteralAndIgnoresCase) {
  ASSERT_EQ(mkdir((dir_ / "Pages").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ / "Pages/Inner").c_str(), 0755), 0);
  ASSERT_TRUE(writeRaw(dir_ / "Pages/One.htm", ""));
  ASSERT_TRUE(writeRaw(dir_ / "Pages/Inner/Two.htm", ""));
  EXPECT_EQ(fs_.findFiles(dir_.path() + "\\PAGES\\*.HTM"), Names{"One.htm"});
  EXPECT_EQ(fs_.findFiles(dir_ / "pages/inner/../*.htm"), Names{"One.htm"});
  EXPECT_EQ(fs_.findFiles(dir_ / "pages/INNER/t*"), Names{"Two.htm"});
  // Wildcards in the directory part are not wildcards.
  EXPECT_TRUE(fs_.findFiles(dir_ / "Pag*/*.htm").empty());
  EXPECT_TRUE(fs_.findFiles(dir_ / "pages/").empty());
  EXPECT_TRUE(fs_.findFiles(dir_ / "nosuch/*.*").empty());

  ChangeDir in(dir_ / "Pages");
  ASSERT_TRUE(in.ok());
  EXPECT_EQ(fs_.findFiles("*.htm"), Names{"One.htm"});
  EXPECT_EQ(fs_.findFiles("inner\\*.htm"), Names{"Two.htm"});
  EXPECT_EQ(fs_.findFiles("..\\pages\\o*"), Names{"One.htm"});
}

TEST_P(FindFilesTest, SkipsAllButRegularFiles) {
  touch("real.htm");
  ASSERT_EQ(mkdir((dir_ / "folder.htm").c_str(), 0755), 0);
  touch(".hidden.htm");
  ASSERT_EQ(mkfifo((dir_ / "fifo.htm").c_str(), 0644), 0);
  ASSERT_EQ(symlink("real.htm", (dir_ / "link.htm").c_str()), 0);
  ASSERT_EQ(symlink("gone.htm", (dir_ / "broken.htm").c_str()), 0);
  ASSERT_EQ(symlink("loop2.htm", (dir_ / "loop1.htm").c_str()), 0);
  ASSERT_EQ(symlink("loop1.htm", (dir_ / "loop2.htm").c_str()), 0);
  ASSERT_EQ(symlink("folder.htm", (dir_ / "dirlink.htm").c_str()), 0);
  touch("tab\there.htm");
  touch("ctl\x01.htm");
  touch("\x1f.htm");
  // Names no Windows file can have: opening one would read '\' as a
  // separator and "c:" as a drive.
  for (const char* name : {"a\\b.htm", "c:old.htm", "q?.htm", "st*r.htm", "quo\"te.htm", "lt<.htm",
                           "gt>.htm", "pi|pe.htm"}) {
    touch(name);
  }

  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = dir_ / "sock.htm";
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);

  EXPECT_EQ(fs_.findFiles(dir_ / "*.htm"), (Names{"link.htm", "real.htm"}));
  close(sock);
}

TEST_P(FindFilesTest, HighBytesAreOrdinaryNameBytes) {
  touch("\xC3\xA9t\xC3\xA9.htm");
  touch("Zoo.htm");
  touch("caf\xC3\xA9.htm");
  // Bytes from 0x80 up sort after every ASCII name and match '?' one by one.
  EXPECT_EQ(fs_.findFiles(dir_ / "*.htm"),
            (Names{"caf\xC3\xA9.htm", "Zoo.htm", "\xC3\xA9t\xC3\xA9.htm"}));
  EXPECT_EQ(fs_.findFiles(dir_ / "caf?\?.htm"), Names{"caf\xC3\xA9.htm"});
}

// The short ways to a reference's stored name and existence, kept per
// directory while caching, answer as looking afresh and gathering every match.
TEST_P(FindFilesTest, FirstFileAndExistenceAgreeWithLookingAfresh) {
  for (const char* name : {"Mix.htm", "mix.HTM", "real.htm", "c:old.htm", "a\\b.htm", ".hidden.htm",
                           "tab\there.htm", "r#x.htm"}) {
    touch(name);
  }
  ASSERT_EQ(mkdir((dir_ / "Sub").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ / "folder.htm").c_str(), 0755), 0);
  ASSERT_TRUE(writeRaw(dir_ / "Sub/Inner.GIF", ""));
  ASSERT_EQ(symlink("real.htm", (dir_ / "link.htm").c_str()), 0);
  ASSERT_EQ(symlink("gone.htm", (dir_ / "broken.htm").c_str()), 0);
  ASSERT_EQ(symlink("folder.htm", (dir_ / "dirlink.htm").c_str()), 0);
  ChangeDir in(dir_.path());
  ASSERT_TRUE(in.ok());
  const std::string up = "../" + dir_.path().substr(dir_.path().rfind('/') + 1) + "/";
  const char* const paths[] = {"mix.htm",
                               "MIX.HTM",
                               "Mix.htm",
                               "real.htm",
                               "REAL.HTM#x",
                               "r#x.htm",
                               "R#X.HTM",
                               "link.htm",
                               "broken.htm",
                               "folder.htm",
                               "folder.htm/",
                               "dirlink.htm",
                               "c:old.htm",
                               "a\\b.htm",
                               ".hidden.htm",
                               "tab\there.htm",
                               "sub/inner.gif",
                               "SUB\\Inner.GIF",
                               "./sub/../real.htm",
                               "sub/nosuch.gif",
                               "nosuch/real.htm",
                               "sub",
                               "sub/",
                               "",
                               "*.htm",
                               "mix.*",
                               "real.htm/x",
                               "..",
                               ".",
                               "http://h/real.htm",
                               "sub//inner.gif",
                               "/",
                               "sub/.",
                               "sub/..",
                               "Sub/Inner.GIF"};
  for (int pass = 0; pass < 2; ++pass) {
    for (std::string path : paths) {
      if (path == "real.htm") path = up + path;
      FileSystem fresh;
      const Names all = fresh.findFiles(path);
      std::string first;
      EXPECT_EQ(fs_.findFirstFile(path, &first), !all.empty()) << path;
      if (!all.empty()) {
        EXPECT_EQ(first, all.front()) << path;
      }
      EXPECT_EQ(fs_.pathExists(path), fresh.pathExists(path)) << path;
    }
  }
  std::string first;
  // A search takes the first in directory order, not the exact spelling.
  EXPECT_TRUE(fs_.findFirstFile("mix.htm", &first));
  EXPECT_EQ(first, "Mix.htm");
  EXPECT_TRUE(fs_.findFirstFile("sub\\INNER.gif", &first));
  EXPECT_EQ(first, "Inner.GIF");
  EXPECT_FALSE(fs_.findFirstFile("broken.htm", &first));
  EXPECT_TRUE(fs_.pathExists("DIRLINK.HTM"));
}

TEST(CurrentDirectory, MatchesTheHost) {
  char buf[4096];
  ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
  FileSystem fs;
  EXPECT_EQ(fs.currentDirectory(), buf);
}

}  // namespace
