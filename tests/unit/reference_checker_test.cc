// The check pass shared among threads against the pass on one thread: the
// same report, count and place in the site, whatever the options, a read
// failure part way, and a report written into the reference file itself.
#include "check/reference_checker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_options.h"
#include "check/case_checks.h"
#include "check/page_lookup.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "reffile/reference_file.h"
#include "report/run_state.h"
#include "scan_temp_dir.h"
#include "straightforward.h"

using namespace tangler;

namespace {

// Many pages of records that give every kind of complaint, against the files
// makeSite() lays out: over a megabyte, twice what the threads hold in flight
// at once.
std::string referenceFile() {
  static const char* const kRefs[] = {
      "p7.htm",       "p7.htm#m3",  "p9.htm#none",      "#m1",        "#gone",
      "missing.htm",  "doc.pdf",    "DOC.PDF",          "Doc.pdf#x",  "img/Pic.GIF",
      "IMG\\pic.gif", "nofile.pdf", "sub/none.txt",     "http://h/x", "HTTP://h/Y",
      "mailto:me",    "ftp://h/z",  "file:///c:/x",     "*.pdf",      "",
      "P7.HTM",       "p7.htm#M3",  "a%2Fb.htm",        "my%2",       "../x/doc.pdf",
      "sub/",         "sub",        "./sub/../doc.pdf", "#odd"};
  static const char* const kImages[] = {"logo.png",    "LOGO.png", "gone.gif", "http://h/p.gif",
                                        "img/pic.gif", "IMG/",     "x:y.gif",  "File:z.gif"};
  std::ostringstream text;
  text << "---------------\ncwd:   /site\n";
  unsigned n = 0;
  for (int page = 0; page < 1500; ++page) {
    // Prefixes are read in any case; lines that only begin like a page
    // record are none.
    text << "---------------\n" << (page % 3 == 0 ? "NAME:  p" : "name:  p") << page << ".htm\n";
    if (page % 4 == 0) text << "nam\nNo page\n";
    for (int i = 0; i < 30; ++i) {
      ++n;
      if (i % 7 == 0) text << "mark:  m" << (i / 7) << " line#<" << i << ">\n";
      // An anchor only some pages have: "#odd" is judged on each page anew.
      if (i == 3 && page % 2 == 1) text << "mark:  odd line#<3>\n";
      if (page >= 700 && page < 900) {
        // A stretch of values that never repeat, after which values are no
        // longer remembered as clean: judged the same either way.
        text << "ref:   p" << n << ".htm line#<" << i << ">\n";
      } else if (i % 5 == 4) {
        text << "image: " << kImages[n % 8] << " line#<" << i << ">\n";
      } else {
        text << "ref:   " << kRefs[n % 29] << " line#<" << i << ">\n";
      }
    }
    if (page % 50 == 0) text << "stray line\n";
  }
  return text.str();
}

void makeSite(const ScanTempDir& dir) {
  dir.write("doc.pdf", "pdf");
  dir.write("logo.png", "png");
  dir.write("img/Pic.GIF", "gif");
  dir.makeDirectory("sub");
}

struct Outcome {
  bool read = false;
  std::string report;
  long long count = 0;
  std::string page;
  uint32_t line = 0;
};

// One pass over the reference file in reader, with a fresh run state.
Outcome runCheck(const RunOptions& options, TextReader& reader, const PageLookup& pages,
                 unsigned helpers) {
  Outcome outcome;
  RunState state;
  state.report.attachMemory(&outcome.report);
  FileSystem fs;
  fs.setCaching(true);
  CheckContext cx{options, state, pages, fs};
  outcome.read = checkReferences(cx, reader, helpers);
  outcome.count = state.complaintCount;
  outcome.page = state.currentPage;
  outcome.line = state.currentLine;
  return outcome;
}

// The pass as it reads, one record after another judged afresh, nothing
// remembered from one to the next.
Outcome checkEachAfresh(const RunOptions& options, const std::string& file,
                        const PageLookup& pages) {
  Outcome outcome;
  RunState state;
  state.report.attachMemory(&outcome.report);
  FileSystem fs;
  CheckContext cx{options, state, pages, fs};
  std::istringstream lines(file);
  for (std::string line; std::getline(lines, line);) {
    const Record record = parseRecord(line);
    if (record.kind == RecordKind::Page) state.currentPage = record.value;
    if (record.kind == RecordKind::Page || record.kind == RecordKind::Header) {
      state.currentLine = 0;
    } else if (record.kind == RecordKind::Ref || record.kind == RecordKind::Image) {
      state.currentLine = record.line;
      checkCase(options, state, fs, record.value);
      if (record.kind == RecordKind::Ref) {
        checkLink(cx, state.currentPage, record.value);
      } else {
        checkImage(cx, record.value);
      }
    }
  }
  outcome.read = true;
  outcome.count = state.complaintCount;
  outcome.page = state.currentPage;
  outcome.line = state.currentLine;
  return outcome;
}

void expectSame(const Outcome& one, const Outcome& many) {
  EXPECT_EQ(one.read, many.read);
  EXPECT_EQ(one.count, many.count);
  EXPECT_EQ(one.page, many.page);
  EXPECT_EQ(one.line, many.line);
  EXPECT_TRUE(one.report == many.report)
      << "reports differ; sizes " << one.report.size() << " " << many.report.size();
}

RunOptions optionsFor(CaseMode mode, bool failHttp, bool failOtherSchemes, int indent) {
  RunOptions options;
  options.caseMode = mode;
  options.failHttp = failHttp;
  options.failOtherSchemes = failOtherSchemes;
  options.indentColumn = indent;
  return options;
}

TEST(CheckReferences, ThreadsGiveTheSameReport) {
  ScanTempDir dir;
  makeSite(dir);
  const std::string file = referenceFile();
  ASSERT_GT(file.size(), size_t(1) << 20);
  TextReader lookupReader;
  lookupReader.openMemory(file);
  PageLookup pages;
  ASSERT_TRUE(buildPageLookup(lookupReader, &pages));
  // Built from many chunks of the reader, the look-up answers as reading
  // the file does.
  for (int page = 0; page < 1500; page += 97) {
    const std::string name = "p" + std::to_string(page) + ".htm";
    for (const char* anchor : {"m0", "m4", "m5", ""}) {
      EXPECT_EQ(findPage(pages, name, true, anchor),
                findPageByScanning(lookupReader, name, true, anchor))
          << name << "#" << anchor;
    }
  }
  struct Row {
    RunOptions options;
    std::vector<std::string> complaints;  // each must be in the report
  };
  const std::vector<Row> rows = {
      {optionsFor(CaseMode::None, false, false, 25),
       {"couldn't find \"p9.htm#none\"", ".htm#gone\"", "couldn't find \"missing.htm\"",
        "couldn't find file \"nofile.pdf\"", "couldn't find file \"sub/none.txt\"",
        "couldn't find graphics \"gone.gif\"", "couldn't find graphics \"x:y.gif\"",
        "evil \"file:\" ref \"file:///c:/x\"", "couldn't find \"Doc.pdf#x\""}},
      {optionsFor(CaseMode::Lower, false, false, 25),
       {"upper case in \"IMG\\pic.gif\"", "upper case in file name \"Pic.GIF\""}},
      {optionsFor(CaseMode::Upper, false, false, 40),
       {"lower case in \"logo.png\"", "lower case in file name logo.png"}},
      {optionsFor(CaseMode::Different, true, true, 25),
       {"case in \"DOC.PDF\" differs from file name \"doc.pdf\"",
        "case in \"*.pdf\" differs from file name \"doc.pdf\"", "don't understand \"HTTP://h/Y\"",
        "don't understand \"mailto:me\"", "couldn't find graphics \"http://h/p.gif\""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<char>(row.options.caseMode));
    TextReader reader;
    reader.openMemory(file);
    const Outcome one = runCheck(row.options, reader, pages, 0);
    const Outcome many = runCheck(row.options, reader, pages, 3);
    expectSame(one, many);
    expectSame(checkEachAfresh(row.options, file, pages), one);
    EXPECT_TRUE(one.read);
    EXPECT_EQ(one.page, "p1499.htm");
    EXPECT_EQ(one.line, 29u);
    for (const std::string& complaint : row.complaints) {
      EXPECT_NE(one.report.find(complaint), std::string::npos) << complaint;
    }
  }
}

// A read that fails part way: the records wholly read before it are judged
// (the line it cuts short is not), and the pass says the file was not read.
TEST(CheckReferences, ReadFailurePartWay) {
  ScanTempDir dir;
  makeSite(dir);
  const std::string file = referenceFile();
  TextReader lookupReader;
  lookupReader.openMemory(file);
  PageLookup pages;
  ASSERT_TRUE(buildPageLookup(lookupReader, &pages));
  const RunOptions options = optionsFor(CaseMode::Lower, true, true, 25);
  for (const size_t failAt :
       {size_t(0), size_t(10), size_t(65536), file.size() / 2 + 1, file.size() - 3}) {
    SCOPED_TRACE(failAt);
    // The text up to the end of the last line wholly read.
    const size_t whole = failAt == 0 ? 0 : file.rfind('\n', failAt - 1) + 1;
    TextReader before;
    before.openMemory(file.substr(0, whole));
    const Outcome expected = runCheck(options, before, pages, 0);
    for (unsigned helpers : {0u, 1u, 3u}) {
      TextReader reader;
      reader.openMemoryFailingAt(file, failAt);
      const Outcome got = runCheck(options, reader, pages, helpers);
      EXPECT_FALSE(got.read) << helpers;
      EXPECT_EQ(got.count, expected.count) << helpers;
      EXPECT_TRUE(got.report == expected.report) << helpers;
    }
  }
}

#ifndef _WIN32
std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
#endif

// "-o" naming the reference file: the report is flushed into the file the
// pass reads, so what the pass reads depends on when the report is flushed.
// A pass offered threads must read and flush as the pass on one thread does.
TEST(CheckReferences, ReportWrittenIntoTheReferenceFile) {
#ifdef _WIN32
  GTEST_SKIP() << "a file open for writing is not read while written here";
#else
  // Records whose complaints outgrow them, so that the report overtakes the
  // reading and its flushes land in text not yet read.
  std::string records = "---------------\ncwd:   /site\n---------------\nname:  a.htm\n";
  for (int i = 0; i < 40000; ++i) {
    records += "image: g" + std::to_string(i) + ".gif line#<" + std::to_string(i) + ">\n";
  }
  std::string results[2];
  long long counts[2] = {};
  const unsigned helperCounts[2] = {0, 3};
  for (int run = 0; run < 2; ++run) {
    ScanTempDir dir;
    FileSystem fs;
    RunState state;
    // As a run does: the report is created first, then the reference file
    // under the same name, and both stay open while the pass reads it.
    ASSERT_TRUE(state.report.create("refs.txt", fs));
    state.report.write("---------------\n");
    {
      TextWriter writer;
      ASSERT_TRUE(writer.create("refs.txt", fs));
      writer.write(records);
      ASSERT_TRUE(writer.close());
    }
    TextReader reader;
    TextReader lookupReader;
    ASSERT_TRUE(reader.open("refs.txt", fs));
    ASSERT_TRUE(lookupReader.open("refs.txt", fs));
    PageLookup pages;
    ASSERT_TRUE(buildPageLookup(lookupReader, &pages));
    fs.setCaching(true);
    RunOptions options;
    CheckContext cx{options, state, pages, fs};
    EXPECT_TRUE(checkReferences(cx, reader, helperCounts[run]));
    ASSERT_TRUE(state.report.close());
    results[run] = readBytes("refs.txt");
    counts[run] = state.complaintCount;
  }
  EXPECT_EQ(counts[0], counts[1]);
  // The flushes did overtake the reading: fewer complaints than records.
  EXPECT_LT(counts[0], 40000);
  EXPECT_GT(counts[0], 0);
  EXPECT_TRUE(results[0] == results[1]) << results[0].size() << " " << results[1].size();
#endif
}

}  // namespace
