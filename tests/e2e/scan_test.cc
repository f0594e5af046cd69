// The scan phase seen from outside: the reference file a run keeps with "-d-".
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kSep = "---------------\n";

// The reference file's records after its header.
std::string pageRecords(const TempSite& site, const std::string& name = "tangler~.txt") {
  std::string text = site.read(name);
  size_t header = text.find("cwd:   ");
  if (header == std::string::npos) return "<no header>";
  return text.substr(text.find('\n', header) + 1);
}

TEST(ScanPhase, SamplePageGivesItsBlock) {
  TempSite site;
  site.write("sample.htm",
             "<html><body background=\"bg.jpg\">\n"
             "<a name=\"top\" href=\"b.htm#x\">Go</a>\n"
             "<IMG ALT=\"a > b\" SRC=\"p.gif\">\n"
             "<IFRAME SRC=\"x.htm\"> <LINK HREF=\"s.css\"> <SCRIPT SRC=\"j.js\">\n"
             "<FRAME NAME=\"f\" SRC=\"x.htm\">\n"
             "</body></html>\n");
  RunResult r = runIn(site.path(), {"-d-", "-u-"});
  EXPECT_EQ(pageRecords(site), kSep +
                                   "name:  sample.htm\n"
                                   "image: bg.jpg line#<1>\n"
                                   "mark:  top line#<2>\n"
                                   "ref:   b.htm#x line#<2>\n"
                                   "image: p.gif line#<3>\n"
                                   "ref:   x.htm line#<5>\n");
  EXPECT_EQ(r.status, 1);  // b.htm, bg.jpg, p.gif and x.htm are all missing
}

TEST(ScanPhase, PatternsInOrderWithStoredCaseLowered) {
  TempSite site;
  site.write("Index.HTM", "<a href=\"Zed.htm\">");
  site.write("zed.htm", "<img\nsrc=\"a\nb.gif\">");
  site.write("sub/Deep.Html", "<a name=\"deep\">");
  site.write(".hidden.htm", "<a href=\"h.htm\">");
  site.makeDirectory("dir.htm");
  RunResult r = runIn(site.path(), {"-d-", "-u-", "*.htm", "SUB\\*.html", "index.htm", "*.xyz"});
  EXPECT_EQ(pageRecords(site), kSep +
                                   "name:  index.htm\n"
                                   "ref:   Zed.htm line#<1>\n" +
                                   kSep +
                                   "name:  zed.htm\n"
                                   "image: a line#<3>\n" +
                                   kSep + "name:  sub\\deep.html\nmark:  deep line#<1>\n" + kSep +
                                   "name:  index.htm\n"
                                   "ref:   Zed.htm line#<1>\n");
  EXPECT_EQ(r.err, "no *.xyz\n(checking references....)\n");
  EXPECT_EQ(r.status, 1);
}

TEST(ScanPhase, OddPagesScanWithoutFault) {
  TempSite site;
  std::string random;
  unsigned seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245u + 12345u;
    random += static_cast<char>(seed >> 24);
  }
  site.write("random.htm", random);
  site.write("empty.htm", "");
  // Not "nul.htm": Windows takes that name for its NUL device.
  site.write("nuls.htm", std::string(10000, '\0'));
  std::string oneLine;
  for (int i = 0; i < 100000; ++i) oneLine += "<a href=\"p" + std::to_string(i % 7) + ".htm\"> ";
  site.write("long.htm", oneLine);
  RunResult r =
      runIn(site.path(), {"-d-", "-u-", "empty.htm", "nuls.htm", "random.htm", "long.htm"});
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
  std::string records = pageRecords(site);
  const std::string start =
      kSep + "name:  empty.htm\n" + kSep + "name:  nuls.htm\n" + kSep + "name:  random.htm\n";
  EXPECT_EQ(records.substr(0, start.size()), start);
  // 100,000 references on line 1 of long.htm, each reported missing.
  size_t longBlock = records.find("name:  long.htm\n");
  ASSERT_NE(longBlock, std::string::npos);
  size_t refs = 0;
  for (size_t at = records.find("ref:   p", longBlock); at != std::string::npos;
       at = records.find("ref:   p", at + 1)) {
    ++refs;
  }
  EXPECT_EQ(refs, 100000u);
}

TEST(ScanPhase, CarriageReturnsAndEndOfFileByte) {
  TempSite site;
  site.write("dos.htm",
             "<a\r\nhref=\"a\rb.htm\">\r\n<img src=\"x.gif\">\x1a<a href=\"after.htm\">");
  runIn(site.path(), {"-d-", "-u-"});
  EXPECT_EQ(pageRecords(site), kSep +
                                   "name:  dos.htm\n"
                                   "ref:   ab.htm line#<2>\n"
                                   "image: x.gif line#<3>\n");
}

TEST(ScanPhase, OverlongValuesAreCutAt2000) {
  TempSite site;
  std::string value(2500, 'v');
  site.write("big.htm", "<a href=\"" + value + " line#<7>\">\n<a name=\"n\">");
  RunResult r = runIn(site.path(), {"-d-", "-u-", "-a0"});
  EXPECT_EQ(pageRecords(site), kSep + "name:  big.htm\nref:   " + value.substr(0, 2000) +
                                   " line#<1>\nmark:  n line#<2>\n");
  // Read back whole: the line number survives, the value is not cut short.
  EXPECT_EQ(r.out, kSep + "big.htm (1): couldn't find file \"" + value.substr(0, 2000) + "\"\n");
}

TEST(ScanPhase, ValueHoldingTheLineMark) {
  TempSite site;
  site.write("p.htm", "\n<img src=\"x line#<5> y.gif\">");
  RunResult r = runIn(site.path(), {"-u-", "-a0"});
  EXPECT_EQ(r.out, kSep + "p.htm (2): couldn't find graphics \"x line#<5> y.gif\"\n");
}

}  // namespace
