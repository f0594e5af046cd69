#include "scan/link_extraction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <random>
#include <sstream>
#include <string>

#include "scan_temp_dir.h"

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

class ScanPhase : public testing::Test {
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

TEST_F(ScanPhase, SamplePageGivesItsBlock) {
  dir_.write("sample.htm", kSamplePage);
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.htm"));
  EXPECT_EQ(records(), kSampleBlock);
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(state_.complaintCount, 0);
}

TEST_F(ScanPhase, PageIsRecordedInLowerCaseWithItsDirectory) {
  dir_.write("Sub/Index.HTM", "<A HREF=\"Up.htm\">");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "SUB\\*.htm"));
  EXPECT_EQ(records(), "---------------\nname:  sub\\index.htm\nref:   Up.htm line#<1>\n");
}

TEST_F(ScanPhase, PagesInDirectoryOrderAndTwiceWhenMatchedTwice) {
  dir_.write("b.htm", "<A NAME=\"b\">");
  dir_.write("A.htm", "<A NAME=\"a\">");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.htm"));
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "b*"));
  EXPECT_EQ(records(),
            "---------------\nname:  a.htm\nmark:  a line#<1>\n"
            "---------------\nname:  b.htm\nmark:  b line#<1>\n"
            "---------------\nname:  b.htm\nmark:  b line#<1>\n");
}

TEST_F(ScanPhase, PatternMatchingNothingGivesCountedNote) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows matches 8.3 short names too: \"*.HTM\" finds a.html (A~1.HTM)";
#endif
  dir_.write("a.html", "");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.HTM"));
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.html"));
  EXPECT_EQ(errors(), "no *.HTM\n");
  EXPECT_EQ(state_.complaintCount, 1);
  EXPECT_EQ(records(), "---------------\nname:  a.html\n");
}

TEST_F(ScanPhase, PageThatCannotBeOpenedIsFatal) {
  EXPECT_FALSE(scanPage(state_, fs_, refFile_, "Missing.HTM"));
  EXPECT_EQ(errors(), "couldn't open Missing.HTM for r.");
  EXPECT_EQ(records(), "");
}

TEST_F(ScanPhase, PageThatCannotBeReadIsFatal) {
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

TEST_F(ScanPhase, PageEachLineNumberStartsAtOne) {
  dir_.write("a.htm", "\n\n<A NAME=\"x\">");
  dir_.write("b.htm", "<A NAME=\"y\">");
  EXPECT_TRUE(scanPattern(state_, fs_, refFile_, "*.htm"));
  EXPECT_EQ(records(),
            "---------------\nname:  a.htm\nmark:  x line#<3>\n"
            "---------------\nname:  b.htm\nmark:  y line#<1>\n");
}

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
