#include "scan/link_extraction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "check/page_lookup.h"
#include "reffile/reference_file.h"
#include "scan_temp_dir.h"

using namespace tangler;

namespace {

// The records that extraction writes for a page held in memory.
std::string extract(const std::string& page) {
  TextReader reader;
  reader.openMemory(page);
  std::string sink;
  TextWriter out;
  out.attachMemory(&sink);
  extractLinks(reader, out);
  out.flush();
  return sink;
}

struct ExtractCase {
  const char* name;
  std::string page;
  std::string records;
};

// Failures name the case rather than dump its bytes.
void PrintTo(const ExtractCase& c, std::ostream* os) {
  *os << c.name;
}

class Extraction : public testing::TestWithParam<ExtractCase> {};

TEST_P(Extraction, WritesTheseRecords) {
  EXPECT_EQ(extract(GetParam().page), GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Extraction,
    testing::Values(
        ExtractCase{"AllFiveKinds",
                    "<A HREF=\"a.htm\" NAME=\"n\"><FRAME SRC=\"f.htm\"><IMG SRC=\"i.gif\">"
                    "<BODY BACKGROUND=\"b.jpg\">",
                    "ref:   a.htm line#<1>\nmark:  n line#<1>\nref:   f.htm line#<1>\n"
                    "image: i.gif line#<1>\nimage: b.jpg line#<1>\n"},
        ExtractCase{"SmallLettersAndValueCaseKept", "<a href = \"News.HTM#Top\">",
                    "ref:   News.HTM#Top line#<1>\n"},
        ExtractCase{"HrefFollowedByNameWritesNothing", "<A HREF NAME=\"top\">", ""},
        ExtractCase{"HrefAloneWritesNothing", "<A HREF>x<A NAME=\"n\">", "mark:  n line#<1>\n"},
        ExtractCase{"HrefEqualsThenCloseEndsTag", "<A HREF=>NAME=\"y\"", ""},
        ExtractCase{"UnquotedValue", "<A HREF=a.htm>", ""},
        ExtractCase{"SingleQuotedValue", "<A HREF='a.htm'>", ""},
        ExtractCase{"EmptyValueIsWritten", "<IMG SRC=\"\">", "image:  line#<1>\n"},
        ExtractCase{"OtherTagsWriteNothing",
                    "<IFRAME SRC=\"x.htm\"> <LINK HREF=\"s.css\"> <SCRIPT SRC=\"j.js\">"
                    "<AREA HREF=\"m.htm\">",
                    ""},
        ExtractCase{"AttributesOfOtherTagsAreNotRead",
                    "<FRAME NAME=\"f\" HREF=\"h\"><IMG HREF=\"h\" BACKGROUND=\"b\">"
                    "<BODY SRC=\"s\"><A SRC=\"s\">",
                    ""},
        ExtractCase{"KeywordOfAnotherTagInsideIsPassedOver", "<A <IMG SRC=\"p.gif\" HREF=\"h\">",
                    "ref:   h line#<1>\n"},
        ExtractCase{"DoubleOpenSkipsTag", "<<A HREF=\"x\">", ""},
        ExtractCase{"EmptyTagThenTag", "<><A HREF=\"x\">", "ref:   x line#<1>\n"},
        ExtractCase{"EndTagsAndTextWriteNothing", "</a> HREF=\"x\" SRC=\"y\" </IMG>", ""},
        ExtractCase{"CommentHidesOnlyTheTagBeforeItsFirstClose",
                    "<!-- <A HREF=\"a.htm\"> <A HREF=\"c.htm\"> --> <A HREF=\"d.htm\">",
                    "ref:   c.htm line#<1>\nref:   d.htm line#<1>\n"},
        ExtractCase{"StrayQuoteHidesTagOnItsLine",
                    "Say \"hi <A HREF=\"a.htm\">\n<A HREF=\"b.htm\">", "ref:   b.htm line#<2>\n"},
        ExtractCase{"ValueBrokenByLineEndGetsTheNextLine", "<A HREF=\"a\nb.htm\">",
                    "ref:   a line#<2>\n"},
        ExtractCase{"LineOfTheClosingQuote", "<A\n\nHREF\n=\n\"x\"\n>", "ref:   x line#<5>\n"},
        ExtractCase{"PageEndingInsideTag", "<A HREF=\"x\" NAME", "ref:   x line#<1>\n"},
        ExtractCase{"PageEndingInsideValue", "<IMG SRC=\"p.g", "image: p.g line#<1>\n"},
        ExtractCase{"ControlCharactersLeaveValues", std::string("<A HREF=\"a\tb\0c\">", 16),
                    "ref:   abc line#<1>\n"},
        ExtractCase{"EmptyPage", "", ""}),
    [](const testing::TestParamInfo<ExtractCase>& info) { return std::string(info.param.name); });

const char kSamplePage[] =
    "<html><body background=\"bg.jpg\">\n"
    "<a name=\"top\" href=\"b.htm#x\">Go</a>\n"
    "<IMG ALT=\"a > b\" SRC=\"p.gif\">\n"
    "<IFRAME SRC=\"x.htm\"> <LINK HREF=\"s.css\"> <SCRIPT SRC=\"j.js\">\n"
    "<FRAME NAME=\"f\" SRC=\"x.htm\">\n";

const char kSampleBlock[] =
    "---------------\n"
    "name:  sample.htm\n"
    "image: bg.jpg line#<1>\n"
    "mark:  top line#<2>\n"
    "ref:   b.htm#x line#<2>\n"
    "image: p.gif line#<3>\n"
    "ref:   x.htm line#<5>\n";

// Each scan test runs on the calling thread alone and with three more.
class ScanPhase : public testing::TestWithParam<unsigned> {
 protected:
  ScanPhase() {
    refFile_.attachMemory(&records_);
    state_.errors.attachMemory(&errors_);
    state_.report.attachMemory(&report_);
  }
  std::string records() {
    refFile_.flush();
    return records_;
  }
  std::string errors() {
    state_.errors.flush();
    return errors_;
  }

  ScanTempDir dir_;
  FileSystem fs_;
  RunState state_;
  TextWriter refFile_;
  std::string records_;
  std::string errors_;
  std::string report_;
};

TEST_P(ScanPhase, SamplePageGivesItsBlock) {
  dir_.write("sample.htm", kSamplePage);
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.htm", GetParam()));
  EXPECT_EQ(records(), kSampleBlock);
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(state_.complaintCount, 0);
}

TEST_P(ScanPhase, PageIsRecordedInLowerCaseWithItsDirectory) {
  dir_.write("Sub/Index.HTM", "<A HREF=\"Up.htm\">");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "SUB\\*.htm", GetParam()));
  EXPECT_EQ(records(), "---------------\nname:  sub\\index.htm\nref:   Up.htm line#<1>\n");
}

TEST_P(ScanPhase, PagesInDirectoryOrderAndTwiceWhenMatchedTwice) {
  dir_.write("b.htm", "<A NAME=\"b\">");
  dir_.write("A.htm", "<A NAME=\"a\">");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.htm", GetParam()));
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "b*", GetParam()));
  EXPECT_EQ(records(),
            "---------------\nname:  a.htm\nmark:  a line#<1>\n"
            "---------------\nname:  b.htm\nmark:  b line#<1>\n"
            "---------------\nname:  b.htm\nmark:  b line#<1>\n");
}

TEST_P(ScanPhase, PatternMatchingNothingGivesCountedNote) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows matches 8.3 short names too: \"*.HTM\" finds a.html (A~1.HTM)";
#endif
  dir_.write("a.html", "");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.HTM", GetParam()));
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.html", GetParam()));
  EXPECT_EQ(errors(), "no *.HTM\n");
  EXPECT_EQ(state_.complaintCount, 1);
  EXPECT_EQ(records(), "---------------\nname:  a.html\n");
}

TEST_P(ScanPhase, PageThatCannotBeOpenedIsFatal) {
  EXPECT_FALSE(scanPage(state_, fs_, refFile_, "Missing.HTM"));
  EXPECT_EQ(errors(), "couldn't open Missing.HTM for r.");
  EXPECT_EQ(records(), "");
}

TEST_P(ScanPhase, PageThatCannotBeReadIsFatal) {
#ifdef _WIN32
  GTEST_SKIP() << "no file here opens and then fails to read";
#else
  // The process's own memory opens as a regular file; reading it fails.
  std::filesystem::create_symlink("/proc/self/mem", "mem.htm");
  EXPECT_FALSE(scanPage(state_, fs_, refFile_, "MEM.htm"));
  EXPECT_EQ(errors(), "couldn't read MEM.htm.");
  EXPECT_EQ(records(), "---------------\nname:  mem.htm\n");
#endif
}

TEST_P(ScanPhase, PageEachLineNumberStartsAtOne) {
  dir_.write("a.htm", "\n\n<A NAME=\"x\">");
  dir_.write("b.htm", "<A NAME=\"y\">");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.htm", GetParam()));
  EXPECT_EQ(records(),
            "---------------\nname:  a.htm\nmark:  x line#<3>\n"
            "---------------\nname:  b.htm\nmark:  y line#<1>\n");
}

INSTANTIATE_TEST_SUITE_P(Helpers, ScanPhase, testing::Values(0u, 3u));

// What a scan leaves: the reference file's bytes, the error stream, the count
// and the result.
struct ScanOutcome {
  std::string records;
  std::string errors;
  long long count = 0;
  bool scanned = false;
  bool lookupAsRead = false;  // the look-up put together while writing is the one read back
};

#ifndef _WIN32
bool sameLookup(const PageLookup& a, const PageLookup& b) {
  return a.text == b.text && a.marks == b.marks && a.slots.slots == b.slots.slots;
}

// Scans the patterns into a new reference file, tangler~.txt, in the current
// directory. Its header holds a link, so that a page that is the reference
// file itself finds one record once the header has been flushed.
ScanOutcome scanSite(const std::vector<std::string>& patterns, unsigned helpers) {
  ScanOutcome outcome;
  FileSystem fs;
  RunState state;
  std::string report;
  state.report.attachMemory(&report);
  state.errors.attachMemory(&outcome.errors);
  PageLookup tapped;
  PageLookupBuilder builder;
  startPageLookup(&builder, &tapped);
  const RecordTap tap = [&builder](RecordKind kind, std::string_view value) {
    if (kind == RecordKind::Page) addPageRecord(builder, value);
    if (kind == RecordKind::Mark) addMarkRecord(builder, value);
  };
  {
    TextWriter refFile;
    EXPECT_TRUE(refFile.create("tangler~.txt", fs));
    writeHeader(refFile, "<a href=\"q.htm\">");
    outcome.scanned = true;
    for (const std::string& pattern : patterns) {
      outcome.scanned = scanPattern(state, fs, refFile, pattern, helpers, &tap);
      if (!outcome.scanned) break;
    }
  }
  finishPageLookup(builder);
  TextReader reader;
  PageLookup read;
  EXPECT_TRUE(reader.open("tangler~.txt", fs) && buildPageLookup(reader, &read));
  outcome.lookupAsRead = sameLookup(tapped, read);
  std::ifstream in("tangler~.txt", std::ios::binary);
  outcome.records.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  outcome.count = state.complaintCount;
  EXPECT_EQ(report, "");
  return outcome;
}
#endif

struct SiteCase {
  const char* name;
  std::vector<std::string> patterns;
  const char* failingTarget;  // what p300x.htm links to; nullptr: no such page
  const char* errors;
  bool scanned;
  const char* ownBlock;  // a block the reference file must hold
};

void PrintTo(const SiteCase& c, std::ostream* os) {
  *os << c.name;
}

class ScanOnThreads : public testing::TestWithParam<SiteCase> {};

// A site of far more batches than are in flight at once, with small and
// large pages, pages that are the reference file, and a page that fails part
// way: helpers change nothing anyone can see.
TEST_P(ScanOnThreads, SameAsOnOneThread) {
#ifdef _WIN32
  GTEST_SKIP() << "the failing pages are links into Linux's /proc";
#else
  const SiteCase& c = GetParam();
  ScanTempDir dir;
  for (int i = 0; i < 600; ++i) {
    std::string page = std::string(size_t(i % 7) * 3000, 'x') + "\n";
    for (int link = 0; link < (i * 7) % 5; ++link) {
      page += "<A HREF=\"p" + std::to_string(link) + ".htm#n" + std::to_string(i) + "\">\n";
    }
    if (i % 3 == 1) page += "<A NAME=\"n" + std::to_string(i) + "\">\n";
    // The reference file is first flushed while the last of these pages is
    // written, just before tangler~.txt is read.
    if (i == 599) {
      for (int link = 0; link < 8000; ++link) page += "<IMG SRC=\"big.gif\"> ";
    }
    char name[16];
    std::snprintf(name, sizeof name, "p%03d.htm", i);
    dir.write(name, page);
  }
  // More records than a batch may hold, the last of them in one tag: scanned
  // again at its turn.
  std::string huge;
  for (int link = 0; link < 60000; ++link) huge += "<A NAME=\"\">";
  huge += "<A";
  for (int link = 0; link < 60000; ++link) huge += " NAME=\"\"";
  dir.write("zz-huge.htm", huge);
  if (c.failingTarget != nullptr) std::filesystem::create_symlink(c.failingTarget, "p300x.htm");
  {
    FileSystem fs;
    TextWriter own;
    ASSERT_TRUE(own.create("tangler~.txt", fs));
  }
  std::filesystem::create_hard_link("tangler~.txt", "own-hard.htm");
  std::filesystem::create_symlink("tangler~.txt", "zz-own.htm");

  const ScanOutcome one = scanSite(c.patterns, 0);
  const ScanOutcome many = scanSite(c.patterns, 3);
  EXPECT_EQ(one.errors, c.errors);
  EXPECT_EQ(one.scanned, c.scanned);
  EXPECT_NE(one.records.find(c.ownBlock), std::string::npos);
  EXPECT_TRUE(one.records == many.records)
      << "reference files differ; sizes " << one.records.size() << " and " << many.records.size();
  EXPECT_EQ(one.errors, many.errors);
  EXPECT_EQ(one.count, many.count);
  EXPECT_EQ(one.scanned, many.scanned);
  EXPECT_TRUE(one.lookupAsRead);
  EXPECT_TRUE(many.lookupAsRead);
#endif
}

INSTANTIATE_TEST_SUITE_P(Sites, ScanOnThreads,
                         testing::Values(
                             // The reference file is empty on disk when own-hard.htm is read, and
                             // holds its header by the time tangler~.txt is.
                             SiteCase{"OwnFileAmongThePages",
                                      {"*.none", "*.*", "*.htm"},
                                      nullptr,
                                      "no *.none\n",
                                      true,
                                      "name:  tangler~.txt\nref:   q.htm line#<2>\n"},
                             SiteCase{"PageThatCannotBeOpened",
                                      {"*.*"},
                                      "/proc/sys/vm/drop_caches",
                                      "couldn't open p300x.htm for r.",
                                      false,
                                      "name:  own-hard.htm\n---------------\nname:  p000.htm\n"},
                             SiteCase{"PageThatCannotBeRead",
                                      {"*.htm"},
                                      "/proc/self/mem",
                                      "couldn't read p300x.htm.",
                                      false,
                                      "name:  p300.htm\n"}),
                         [](const testing::TestParamInfo<SiteCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ExtractionLoad, PageOfSeveralMegabytesOnOneLine) {
  std::string page;
  for (int i = 0; i < 200000; ++i) page += "<IMG SRC=\"p.gif\"> text ";
  page += "<A HREF=\"" + std::string(3000000, 'x') + "\">";
  page += std::string(1000000, 'w') + "<A NAME=\"end\">";
  std::string records = extract(page);
  std::string image = "image: p.gif line#<1>\n";
  std::string expected;
  expected.reserve(image.size() * 200000);
  for (int i = 0; i < 200000; ++i) expected += image;
  expected += "ref:   " + std::string(2000, 'x') + " line#<1>\n";
  expected += "mark:  end line#<1>\n";
  EXPECT_TRUE(records == expected)
      << "records differ; sizes " << records.size() << " and " << expected.size();
}

// Whatever the bytes, extraction ends and writes only well-formed records
// whose values hold no control characters and whose lines lie in the page.
TEST(ExtractionLoad, RandomBytesGiveOnlyWellFormedRecords) {
  std::mt19937 random(20240521);
  const std::string alphabet = "<>=\"\n AaHREFhrefSRCsrcIMGimgNAME\t\r";
  for (int round = 0; round < 20; ++round) {
    std::string page;
    size_t size = 1 + random() % 200000;
    for (size_t i = 0; i < size; ++i) {
      // Half markup characters, so that records do get written.
      page += (random() % 2) ? alphabet[random() % alphabet.size()] : char(random() % 256);
    }
    // A 0x1A byte ends the page; most rounds go without, so that they are read whole.
    if (round % 4 != 0) std::replace(page.begin(), page.end(), '\x1a', ' ');
    size_t end = page.find('\x1a');
    std::string read = page.substr(0, end);
    uint32_t lines = 1;
    for (char c : read) lines += c == '\n';

    std::istringstream records(extract(page));
    std::string record;
    while (std::getline(records, record)) {
      ASSERT_GE(record.size(), 7u);
      std::string prefix = record.substr(0, 7);
      ASSERT_TRUE(prefix == "ref:   " || prefix == "mark:  " || prefix == "image: ") << record;
      size_t mark = record.rfind(" line#<");
      ASSERT_NE(mark, std::string::npos);
      ASSERT_EQ(record.back(), '>');
      uint32_t line = static_cast<uint32_t>(std::stoul(record.substr(mark + 7)));
      EXPECT_GE(line, 1u);
      EXPECT_LE(line, lines);
      std::string value = record.substr(7, mark - 7);
      EXPECT_LE(value.size(), 2000u);
      for (char c : value) ASSERT_GE(static_cast<unsigned char>(c), 0x20u) << record;
    }
  }
}

}  // namespace
