#include "reffile/reference_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/file_system.h"
#include "scan_temp_dir.h"
#include "straightforward.h"

using namespace tangler;

namespace {

TEST(ReferenceFile, WrittenRecordsReadBackThroughTheSameParser) {
  std::string text;
  TextWriter out;
  out.attachMemory(&text);
  writeHeader(out, "/home/site");
  writePage(out, "index.htm");
  writeRef(out, "news.htm#today", 12);
  writeMark(out, "top", 0);
  writeImage(out, "logo.gif", 4294967295u);
  out.flush();
  EXPECT_EQ(text,
            "---------------\ncwd:   /home/site\n"
            "---------------\nname:  index.htm\n"
            "ref:   news.htm#today line#<12>\n"
            "mark:  top line#<0>\n"
            "image: logo.gif line#<4294967295>\n");

  TextReader in;
  in.openMemory(text);
  std::string line;
  std::vector<Record> records;
  while (in.readLine(&line)) records.push_back(parseRecord(line));
  ASSERT_EQ(records.size(), 7u);
  EXPECT_EQ(records[0].kind, RecordKind::Separator);
  EXPECT_EQ(records[1].kind, RecordKind::Header);
  EXPECT_EQ(records[1].value, "/home/site");
  EXPECT_EQ(records[3].kind, RecordKind::Page);
  EXPECT_EQ(records[3].value, "index.htm");
  EXPECT_EQ(records[4].kind, RecordKind::Ref);
  EXPECT_EQ(records[4].value, "news.htm#today");
  EXPECT_EQ(records[4].line, 12u);
  EXPECT_EQ(records[5].kind, RecordKind::Mark);
  EXPECT_EQ(records[5].line, 0u);
  EXPECT_EQ(records[6].kind, RecordKind::Image);
  EXPECT_EQ(records[6].line, 4294967295u);
}

TEST(ReferenceFile, ParseRecord) {
  struct Row {
    std::string line;
    RecordKind kind;
    std::string value;
    uint32_t number;
  };
  const std::vector<Row> rows = {
      {"ref:   a.htm line#<7>", RecordKind::Ref, "a.htm", 7},
      {"REF:   a.htm LINE#<7>", RecordKind::Ref, "a.htm", 7},
      {"Image: a.gif line#<0>", RecordKind::Image, "a.gif", 0},
      {"mark:  top line#<>", RecordKind::Mark, "top", 0},
      {"mark:  top line#<12x3>", RecordKind::Mark, "top", 12},
      {"ref:   no number", RecordKind::Ref, "no number", 0},
      // A value holding the mark keeps it: the number follows the last one.
      {"ref:   x line#<5> y line#<9>", RecordKind::Ref, "x line#<5> y", 9},
      {"ref:   x LINE#<5> line#<9>", RecordKind::Ref, "x LINE#<5>", 9},
      {"ref:   x line#<5> Line#<9>", RecordKind::Ref, "x line#<5>", 9},
      {"ref:   x line#<5>> y", RecordKind::Ref, "x", 5},
      {"ref:   x line#<7>>", RecordKind::Ref, "x", 7},
      {"ref:    line#<3>", RecordKind::Ref, "", 3},
      // Digits past 2^32 wrap instead of overflowing.
      {"ref:   a line#<4294967296>", RecordKind::Ref, "a", 0},
      {"ref:   a line#<4294967297>", RecordKind::Ref, "a", 1},
      {"ref:   a line#<99999999999999999999999999>", RecordKind::Ref, "a", 3825205247u},
      // Page and header records are taken whole.
      {"name:  odd line#<3>.htm", RecordKind::Page, "odd line#<3>.htm", 0},
      {"cwd:   /x line#<3>", RecordKind::Header, "/x line#<3>", 0},
      {"NAME:  Index.htm", RecordKind::Page, "Index.htm", 0},
      {"name:  ", RecordKind::Page, "", 0},
      {"name: x", RecordKind::Other, "name: x", 0},
      {"ref:", RecordKind::Other, "ref:", 0},
      {"---------------", RecordKind::Separator, "---------------", 0},
      {"----------------", RecordKind::Other, "----------------", 0},
      {"", RecordKind::Other, "", 0},
      {"images: x line#<1>", RecordKind::Other, "images: x line#<1>", 0},
  };
  for (const Row& row : rows) {
    Record r = parseRecord(row.line);
    EXPECT_EQ(r.kind, row.kind) << row.line;
    EXPECT_EQ(r.value, row.value) << row.line;
    EXPECT_EQ(r.line, row.number) << row.line;
  }
}

TEST(ReferenceFile, OverlongRecordsStayWhole) {
  // A value of 2000 characters whose tail looks like a record: read back in
  // whole lines, it can never turn into a record of its own.
  std::string value = std::string(1992, 'v') + "name:  forged";
  std::string text;
  TextWriter out;
  out.attachMemory(&text);
  writeRef(out, value, 31);
  out.flush();
  TextReader in;
  in.openMemory(text);
  std::string line;
  ASSERT_TRUE(in.readLine(&line));
  Record r = parseRecord(line);
  EXPECT_EQ(r.kind, RecordKind::Ref);
  EXPECT_EQ(r.value, value);
  EXPECT_EQ(r.line, 31u);
  EXPECT_FALSE(in.readLine(&line));
}

std::string fileText(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records kept and written later reach the writer's buffer and its output
// exactly as written one at a time would, flushes included: a page that is
// the reference file reads what had been flushed.
TEST(ReferenceFile, PendingRecordsFlushWhereDirectWritesWould) {
  const ScanTempDir dir;
  FileSystem fs;
  std::mt19937 rng(77);
  for (int round = 0; round < 20; ++round) {
    TextWriter a;
    TextWriter b;
    ASSERT_TRUE(a.create("direct.txt", fs));
    ASSERT_TRUE(b.create("replayed.txt", fs));
    const std::string lead(rng() % 70000, 'x');
    a.write(lead);
    b.write(lead);
    PendingRecords pending;
    size_t written = 0;  // records replayed so far
    size_t at = 0;       // their bytes
    for (int i = 0; i < 400; ++i) {
      const std::string value(rng() % 5 == 0 ? rng() % 70000 : rng() % 300, 'v');
      const uint32_t line = rng();
      switch (rng() % 3) {
        case 0:
          writeRef(a, value, line);
          addPendingRecord(&pending, RecordKind::Ref, value, line);
          break;
        case 1:
          writeMark(a, value, line);
          addPendingRecord(&pending, RecordKind::Mark, value, line);
          break;
        default:
          writeImage(a, value, line);
          addPendingRecord(&pending, RecordKind::Image, value, line);
          break;
      }
      if (rng() % 8 == 0 || i == 399) {
        const size_t end = pending.sizes.size();
        writePendingRecords(b, pending, written, end, at);
        for (; written < end; ++written) {
          at += 7 + pending.sizes[written].value + pending.sizes[written].tail;
        }
        ASSERT_EQ(std::filesystem::file_size("direct.txt"),
                  std::filesystem::file_size("replayed.txt"))
            << "round " << round << ", record " << i;
      }
    }
    ASSERT_TRUE(a.close());
    ASSERT_TRUE(b.close());
    EXPECT_TRUE(fileText("direct.txt") == fileText("replayed.txt")) << "round " << round;
  }
}

}  // namespace
