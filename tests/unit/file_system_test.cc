#include "platform/file_system.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform_test_support.h"

namespace {

using platform_test::makeDir;
using platform_test::TempDir;
using platform_test::writeRaw;

// A directory holding a file, a sub-directory and, where the host allows,
// links to each, a dangling link and a FIFO.
class ExactFaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(writeRaw(dir_ / "Page.htm",
                         "a\r\nb\x1A"
                         "c"));
    ASSERT_TRUE(makeDir(dir_ / "Sub"));
#ifndef _WIN32
    ASSERT_EQ(symlink("Page.htm", (dir_ / "toPage").c_str()), 0);
    ASSERT_EQ(symlink("Sub", (dir_ / "toSub").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir_ / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
#endif
  }
  TempDir dir_;
  FileSystem fs_;
};

TEST_F(ExactFaceTest, ListsEveryEntryWithItsKind) {
  std::vector<DirectoryEntry> entries;
  std::string error;
  ASSERT_TRUE(fs_.listEntries(dir_.path(), &entries, &error)) << error;
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  struct Row {
    const char* name;
    EntryKind kind;
    bool symlink;
  };
  const std::vector<Row> expected = {
      {"Page.htm", EntryKind::File, false},   {"Sub", EntryKind::Directory, false},
#ifndef _WIN32
      {"dangling", EntryKind::Missing, true}, {"fifo", EntryKind::Other, false},
      {"toPage", EntryKind::File, true},      {"toSub", EntryKind::Directory, true},
#endif
  };
  ASSERT_EQ(entries.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].kind, expected[i].kind) << expected[i].name;
    EXPECT_EQ(entries[i].symlink, expected[i].symlink) << expected[i].name;
  }
  EXPECT_FALSE(fs_.listEntries(dir_ / "nosuch", &entries, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ExactFaceTest, StatsAndReadsThePathAsWritten) {
  struct Row {
    const char* name;
    EntryKind kind;
    bool reads;  // readWholeFile succeeds
  };
  const Row rows[] = {
      {"Page.htm", EntryKind::File, true},
      {"Sub", EntryKind::Directory, false},
      {"nosuch", EntryKind::Missing, false},
#ifndef _WIN32
      // Letter case and "." are the host's business here.
      {"page.htm", EntryKind::Missing, false},
      {"Sub/../Page.htm", EntryKind::File, true},
      {"toPage", EntryKind::File, true},
      {"dangling", EntryKind::Missing, false},
      {"fifo", EntryKind::Other, false},
#endif
  };
  for (const Row& row : rows) {
    EXPECT_EQ(fs_.statPath(dir_ / row.name), row.kind) << row.name;
    std::string bytes = "old";
    std::string error;
    EXPECT_EQ(fs_.readWholeFile(dir_ / row.name, &bytes, &error), row.reads) << row.name;
    if (row.reads) {
      EXPECT_EQ(bytes,
                "a\r\nb\x1A"
                "c")
          << "bytes come untouched";
    } else {
      EXPECT_FALSE(error.empty()) << row.name;
    }
  }
  std::string error;
  std::string bytes;
  ASSERT_FALSE(fs_.readWholeFile(dir_ / "Sub", &bytes, &error));
  EXPECT_EQ(error, "Not a regular file");
}

TEST_F(ExactFaceTest, WritesTheBytesAsGivenOrSaysWhy) {
  const std::string bytes = "x\n\r\x1A";  // shorter than Page.htm's, and no text-mode rules
  const struct {
    const char* name;
    bool writes;
  } rows[] = {
      {"new.txt", true},
      {"Page.htm", true},  // emptied first: nothing of the old bytes stays
      // Latin and Cyrillic letters: on Windows, beyond any one ANSI code page.
      {"r\xC3\xA9sum\xC3\xA9 \xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt", true},
      {"Sub", false},
      {"nosuch/x.txt", false},
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_EQ(fs_.writeWholeFile(dir_ / row.name, row.writes ? bytes : "", &error), row.writes)
        << row.name << ": " << error;
    std::string back;
    if (row.writes) {
      ASSERT_TRUE(fs_.readWholeFile(dir_ / row.name, &back, &error)) << row.name << ": " << error;
      EXPECT_EQ(back, bytes) << row.name;
    } else {
      EXPECT_FALSE(error.empty()) << row.name;
    }
  }
}

TEST_F(ExactFaceTest, IdentityAndCanonicalPathSeeThroughLinks) {
  FileIdentity page;
  FileIdentity sub;
  ASSERT_EQ(fs_.statPath(dir_ / "Page.htm", &page), EntryKind::File);
  ASSERT_EQ(fs_.statPath(dir_ / "Sub", &sub), EntryKind::Directory);
  EXPECT_FALSE(page.device == sub.device && page.inode == sub.inode);
  std::string canonicalDir;
  std::string canonical;
  ASSERT_TRUE(fs_.canonicalPath(dir_.path(), &canonicalDir));
  ASSERT_TRUE(fs_.canonicalPath(dir_ / "Page.htm", &canonical));
  EXPECT_EQ(canonical, canonicalDir + "/Page.htm");
  EXPECT_FALSE(fs_.canonicalPath(dir_ / "nosuch", &canonical));
#ifndef _WIN32
  FileIdentity linked;
  ASSERT_EQ(fs_.statPath(dir_ / "toPage", &linked), EntryKind::File);
  EXPECT_TRUE(linked.device == page.device && linked.inode == page.inode);
  ASSERT_TRUE(fs_.canonicalPath(dir_ / "toSub/../toPage", &canonical));
  EXPECT_EQ(canonical, canonicalDir + "/Page.htm");
  EXPECT_FALSE(fs_.canonicalPath(dir_ / "dangling", &canonical));
#endif
}

}  // namespace
