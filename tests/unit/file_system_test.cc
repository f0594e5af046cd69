#include "platform/file_system.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/directory_handles.h"
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

// The held face reaches one name at a time from an open directory: each
// entry as it is in itself, links refused wherever they stand, and what is
// opened is what was listed.
TEST_F(ExactFaceTest, HeldFaceOpensOneNameAtATimeAndRefusesLinks) {
  ASSERT_TRUE(makeDir(dir_ / "Sub/Inner"));
  HeldHandle root;
  FileIdentity rootIdentity;
  std::string error;
  ASSERT_EQ(openHeldDirectory(dir_.path(), &root, &rootIdentity, &error), OpenOutcome::Opened)
      << error;
  std::vector<HeldEntry> entries;
  ASSERT_TRUE(listHeldDirectory(root, &entries, &error)) << error;
  std::map<std::string, HeldEntry> listed;
  for (HeldEntry& entry : entries) listed[entry.name] = entry;

  const OpenOutcome O = OpenOutcome::Opened, W = OpenOutcome::WrongKind, M = OpenOutcome::Missing;
  [[maybe_unused]] const OpenOutcome L = OpenOutcome::Link;
  const struct {
    const char* name;
    HeldKind kind;              // as listed
    OpenOutcome asFile, asDir;  // openChildFile, openChildDirectory
  } rows[] = {
      {"Page.htm", HeldKind::File, O, W}, {"Sub", HeldKind::Directory, W, O},
#ifndef _WIN32
      {"toPage", HeldKind::Link, L, L},   {"toSub", HeldKind::Link, L, L},
      {"dangling", HeldKind::Link, L, L}, {"fifo", HeldKind::Other, W, W},
#endif
  };
  ASSERT_EQ(listed.size(), std::size(rows));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(listed.count(row.name), 1u);
    EXPECT_EQ(listed[row.name].kind, row.kind);
    HeldKind kind;
    FileIdentity inspected;
    ASSERT_EQ(inspectEntry(root, row.name, &kind, &inspected, &error), O);
    EXPECT_EQ(kind, row.kind);
    HeldHandle file, dir;
    FileIdentity opened;
    EXPECT_EQ(openChildFile(root, row.name, &file, &opened, &error), row.asFile);
    if (row.asFile == O) {
      EXPECT_TRUE(opened == listed[row.name].identity);
      std::string bytes;
      ASSERT_TRUE(readHeldFile(file, &bytes, &error)) << error;
      EXPECT_EQ(bytes,
                "a\r\nb\x1A"
                "c");
    } else {
      EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(openChildDirectory(root, row.name, &dir, &opened, &error), row.asDir);
    if (row.asDir == O) {
      EXPECT_TRUE(opened == listed[row.name].identity);
      std::vector<HeldEntry> inner;
      ASSERT_TRUE(listHeldDirectory(dir, &inner, &error)) << error;
      ASSERT_EQ(inner.size(), 1u);
      EXPECT_EQ(inner[0].name, "Inner");
      EXPECT_EQ(inner[0].kind, HeldKind::Directory);
    }
  }
  // Only single names are taken: nothing reaches past the directory held.
  HeldHandle other;
  FileIdentity ignored;
  for (const char* name : {"nosuch", "..", ".", "", "Sub/Inner"}) {
    EXPECT_EQ(openChildDirectory(root, name, &other, &ignored, &error), M) << name;
  }
#ifndef _WIN32
  std::string target;
  ASSERT_TRUE(readLinkTarget(root, "toSub", &target));
  EXPECT_EQ(target, "Sub");
  EXPECT_FALSE(readLinkTarget(root, "Sub", &target));
  ASSERT_TRUE(writeRaw(dir_ / "Sub/inner.htm", "x"));
  // In one call where the kernel can refuse links on the way, else not at all.
  HeldHandle file;
  FileIdentity opened;
  const OpenOutcome through = openFileBeneath(root, "toSub/inner.htm", &file, &opened, &error);
  const OpenOutcome plain = openFileBeneath(root, "Sub/inner.htm", &file, &opened, &error);
  if (plain != OpenOutcome::Unsupported) {
    EXPECT_EQ(plain, O);
    EXPECT_EQ(through, L);
  }
#endif
}

}  // namespace
