// The orphan search seen from outside.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kSep = "---------------\n";
const std::string kChecking = "(checking references....)\n";
const std::string kUnscannedCandidate =
    "an unscanned page is a candidate, looked for in scanned pages only";
std::string unlinked(const std::string& pattern) {
  return "(checking for unlinked " + pattern + "....)\n";
}
std::string orphan(const std::string& name) {
  return "Couldn't find \"" + name + "\" mentioned\n";
}

TEST(OrphanSearch, Cases) {
  const std::vector<E2eCase> cases = {
      {"the top page is listed unless named; a self-naming page is not",
       {{"index.htm", "<a href=\"b.htm\">"}, {"b.htm", "<a href=\"b.htm\">"}},
       {},
       kSep + orphan("index.htm"),
       kChecking + unlinked("*.htm*"),
       0},
      {"mentions in comments and text count; a plain substring search",
       {{"index.htm", "<!-- logo.gif --> banana.gif and INDEX.HTM"},
        {"logo.gif", ""},
        {"a.gif", ""},
        {"banana.gif", ""},
        {"z.gif", ""}},
       {},
       kSep + orphan("z.gif"),
       kChecking + unlinked("*.htm*") + unlinked("*.gif"),
       0},
      {"every pattern, in order, stored case kept",
       {{"index.htm", "index.htm"},
        {"Pic.JPG", ""},
        {"p.png", ""},
        {"Setup.EXE", ""},
        {"a.zip", ""},
        {"b.dmg", ""},
        {"old.html", ""},
        {"page.htm5", ""},
        {"n.txt", ""},
        {"c.gif", ""}},
       {},
       kSep + orphan("old.html") + orphan("page.htm5") + orphan("Pic.JPG") + orphan("c.gif") +
           orphan("p.png") + orphan("Setup.EXE") + orphan("a.zip") + orphan("b.dmg"),
       kChecking + unlinked("*.htm*") + unlinked("*.jpg") + unlinked("*.gif") + unlinked("*.png") +
           unlinked("*.exe") + unlinked("*.zip") + unlinked("*.dmg"),
       0},
      {kUnscannedCandidate,
       {{"index.htm", "index.htm"}, {"other.html", "index.htm zz.gif"}, {"zz.gif", ""}},
       {},
       kSep + orphan("other.html") + orphan("zz.gif"),
       kChecking + unlinked("*.htm*") + unlinked("*.gif"),
       0},
      {"a mention across a line end is none",
       {{"index.htm", "index.htm lo\ngo.gif"}, {"logo.gif", ""}},
       {},
       kSep + orphan("logo.gif"),
       kChecking + unlinked("*.htm*") + unlinked("*.gif"),
       0},
      {"a report file named like a page is a candidate",
       {{"index.htm", "index.htm"}},
       {"-orep.htm", "index.htm"},
       "",
       kChecking + unlinked("*.htm*"),
       0},
      {"the reference file too",
       {{"index.htm", "index.htm"}},
       {"-irefs.htm", "index.htm"},
       kSep + orphan("refs.htm"),
       kChecking + unlinked("*.htm*"),
       0},
      {"no candidates: no progress notes at all",
       {{"page.txt", "x"}},
       {"*.txt"},
       kSep,
       kChecking,
       0},
      {"-r skips the search", {{"index.htm", ""}}, {"-r", "-k-"}, kSep, kChecking, 0},
      {"-u- skips the search", {{"index.htm", ""}}, {"-u-"}, kSep, kChecking, 0},
      {"-u-x skips the search as well", {{"index.htm", ""}}, {"-u-x"}, kSep, kChecking, 0},
      {"-u turns it back on",
       {{"index.htm", ""}},
       {"-u-", "-u"},
       kSep + orphan("index.htm"),
       kChecking + unlinked("*.htm*"),
       0},
      {"pages in a subdirectory are searched; candidates come from the current directory",
       {{"sub/a.htm", "logo.gif"}, {"logo.gif", ""}, {"sub/b.gif", ""}},
       {"sub/*.htm"},
       kSep,
       kChecking + unlinked("*.gif"),
       0},
  };
  for (const E2eCase& c : cases) {
    if (c.name == kUnscannedCandidate &&
        skipRowOnWindows(c.name,
                         "Windows matches 8.3 short names too, so \"*.htm\" scans "
                         "other.html through its alias OTHER~1.HTM")) {
      continue;
    }
    expectCase(c);
  }
}

TEST(OrphanSearch, ReportFileIsAnOrphanCandidate) {
  TempSite site;
  site.write("index.htm", "index.htm");
  RunResult r = runIn(site.path(), {"-orep.htm", "index.htm"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(site.read("rep.htm"), kSep + orphan("rep.htm"));
}

TEST(OrphanSearch, LongLinesAreSearchedWhole) {
  // The name straddles what would be a 1999-character boundary.
  std::string text(1995, 'x');
  text += " logo.gif index.htm";
  expectCase({"long line",
              {{"index.htm", text}, {"logo.gif", ""}},
              {},
              kSep,
              kChecking + unlinked("*.htm*") + unlinked("*.gif"),
              0});
}

TEST(OrphanSearch, PagesAreReopenedIgnoringCase) {
  expectCase({"Index.HTM reopened as index.htm",
              {{"Index.HTM", "<img src=\"x.gif\"> index.htm"}, {"x.gif", ""}},
              {},
              kSep,
              kChecking + unlinked("*.htm*") + unlinked("*.gif"),
              0});
}

TEST(OrphanSearch, PageMatchedTwiceIsSearchedInBothBlocks) {
  expectCase({"page matched twice",
              {{"index.htm", "nothing"}, {"a.gif", ""}, {"b.gif", ""}},
              {"index.htm", "*.htm"},
              kSep + orphan("index.htm") + orphan("a.gif") + orphan("b.gif"),
              kChecking + unlinked("*.htm*") + unlinked("*.gif"),
              0});
}

}  // namespace
