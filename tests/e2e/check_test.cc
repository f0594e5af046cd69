// The check phase seen from outside: one reference on a page of a small site,
// and the exact report it gives.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kSep = "---------------\n";
const std::string kChecking = "(checking references....)\n";

// The report line of a complaint about line 2 of index.htm, default indent.
std::string at2(const std::string& message) {
  return "index.htm (2):           " + message + "\n";
}

struct RefRow {
  std::string reference;
  std::vector<std::string> options;
  std::string complaints;  // report lines after the separator
  bool indexHasTop = true;
  bool newsHasEmptyMark = false;
  bool isImage = false;
};

// Runs one row: 'index.htm' holds the reference on line 2; 'news.htm' and
// 'index.htm' are the scanned pages; a few other files lie on disk.
void expectRow(const RefRow& row) {
  std::string tag =
      row.isImage ? "<img src=\"" + row.reference + "\">" : "<a href=\"" + row.reference + "\">";
  std::string index = (row.indexHasTop ? "<a name=\"top\">\n" : "<p>\n") + tag + "\n";
  std::string news =
      std::string("<a name=\"today\">") + (row.newsHasEmptyMark ? "<a name=\"\">" : "") + "\n";
  E2eCase c;
  c.name = row.reference + (row.options.empty() ? "" : " " + row.options[0]);
  c.files = {{"index.htm", index}, {"news.htm", news},  {"about.html", "not scanned"},
             {"doc.pdf", "pdf"},   {"logo.png", "png"}, {"img/Pic.GIF", "gif"}};
  c.args = row.options;
  c.args.insert(c.args.end(), {"-u-", "index.htm", "news.htm"});
  c.out = kSep + row.complaints;
  c.err = kChecking;
  bool counted = !row.complaints.empty() && row.complaints.find("evil") == std::string::npos;
  c.status = counted ? 1 : 0;
  expectCase(c);
}

TEST(CheckLinks, References) {
  const std::vector<RefRow> rows = {
      {"news.htm", {}, ""},
      {"News.htm", {}, at2("couldn't find \"News.htm\"")},
      {"about.html", {}, at2("couldn't find \"about.html\"")},
      {"#top", {}, ""},
      {"#top", {}, at2("couldn't find \"index.htm#top\""), false},
      {"news.htm#today", {}, ""},
      {"news.htm#Today", {}, at2("couldn't find \"news.htm#Today\"")},
      {"index.htm#top", {}, ""},
      {"doc.pdf#page=2", {}, at2("couldn't find \"doc.pdf#page=2\"")},
      {"doc.pdf", {}, ""},
      {"DOC.PDF", {}, ""},
      {"img\\pic.gif", {}, ""},
      {"IMG/PIC.gif", {}, ""},
      {"img", {}, ""},
      {"img/", {}, ""},
      {"./img/../doc.pdf", {}, ""},
      {"files/report.pdf", {}, at2("couldn't find file \"files/report.pdf\"")},
      {"", {}, at2("couldn't find file \"\"")},
      {"mailto:me", {}, ""},
      {"mailto:me", {"-:"}, at2("don't understand \"mailto:me\"")},
      {"https://host/x", {}, ""},
      {"https://host/x", {"-:"}, at2("don't understand \"https://host/x\"")},
      {"ftp://host/y", {"-:"}, at2("don't understand \"ftp://host/y\"")},
      {"javascript:go()", {"-:"}, at2("don't understand \"javascript:go()\"")},
      {"http://host/x", {}, ""},
      {"http://host/x", {"-:"}, ""},
      {"HTTP://host/x", {"-h"}, at2("don't understand \"HTTP://host/x\"")},
      {"http://host/x", {"-h-"}, ""},
      {"FILE:///c:/x.htm", {}, "index.htm (2): evil \"file:\" ref \"FILE:///c:/x.htm\"\n"},
      {"file:x", {"-h", "-:"}, "index.htm (2): evil \"file:\" ref \"file:x\"\n"},
      {"page.htm#a:b", {}, ""},
      {"page.htm#a:b", {"-:"}, at2("don't understand \"page.htm#a:b\"")},
      {"news.htm#", {}, at2("couldn't find \"news.htm#\"")},
      {"news.htm#", {}, "", true, true},
      {"news.htm#a#b", {}, at2("couldn't find \"news.htm#a#b\"")},
      {"c:/site/doc.pdf", {}, ""},
      {"x.HTML", {}, at2("couldn't find \"x.HTML\"")},
      {"sub.htm/doc.pdf", {}, at2("couldn't find file \"sub.htm/doc.pdf\"")},
  };
  for (const RefRow& row : rows) expectRow(row);
}

TEST(CheckLinks, Images) {
  const std::vector<RefRow> rows = {
      {"logo.gif", {}, at2("couldn't find graphics \"logo.gif\""), true, false, true},
      {"logo.png", {}, "", true, false, true},
      {"LOGO.PNG", {}, "", true, false, true},
      {"http://host/p.gif", {}, "", true, false, true},
      {"http://host/p.gif",
       {"-h"},
       at2("couldn't find graphics \"http://host/p.gif\""),
       true,
       false,
       true},
      {"https://host/p.gif",
       {},
       at2("couldn't find graphics \"https://host/p.gif\""),
       true,
       false,
       true},
      {"pic.htm", {}, "", true, false, true},
      {"http://host/pic.html", {"-h"}, "", true, false, true},
      {"news.htm#nothing",
       {},
       at2("couldn't find graphics \"news.htm#nothing\""),
       true,
       false,
       true},
      {"", {}, at2("couldn't find graphics \"\""), true, false, true},
      {"file:///x.gif", {}, at2("couldn't find graphics \"file:///x.gif\""), true, false, true},
  };
  for (const RefRow& row : rows) expectRow(row);
}

TEST(CheckLinks, CaseChecks) {
  auto image = [](std::string ref, std::string mode, std::string complaints) {
    return RefRow{ref, {mode}, complaints, true, false, true};
  };
  const std::vector<RefRow> rows = {
      image("img/Pic.GIF", "-cl",
            at2("upper case in \"img/Pic.GIF\"") + at2("upper case in file name \"Pic.GIF\"") +
                at2("case in \"img/Pic.GIF\" differs from file name \"Pic.GIF\"")),
      image("logo.png", "-cu",
            at2("lower case in \"logo.png\"") + at2("lower case in file name logo.png")),
      image("LOGO.PNG", "-cu",
            at2("lower case in file name logo.png") +
                at2("case in \"LOGO.PNG\" differs from file name \"logo.png\"")),
      image("LOGO.PNG", "-cl",
            at2("upper case in \"LOGO.PNG\"") +
                at2("case in \"LOGO.PNG\" differs from file name \"logo.png\"")),
      image("Logo.png", "-cd", at2("case in \"Logo.png\" differs from file name \"logo.png\"")),
      image("logo.png", "-cd", ""),
      image("*.png", "-cd",
            at2("case in \"*.png\" differs from file name \"logo.png\"") +
                at2("couldn't find graphics \"*.png\"")),
      image("missing.gif", "-cu",
            at2("lower case in \"missing.gif\"") + at2("couldn't find graphics \"missing.gif\"")),
      {"my%2Fpage.htm", {"-cl"}, at2("couldn't find \"my%2Fpage.htm\"")},
      {"MY%2fPAGE.HTM",
       {"-cu"},
       at2("lower case in \"MY%2fPAGE.HTM\"") + at2("couldn't find \"MY%2fPAGE.HTM\"")},
      {"My%2", {"-cl"}, at2("upper case in \"My%2\"") + at2("couldn't find file \"My%2\"")},
      {"news.htm#a", {"-cd"}, at2("couldn't find \"news.htm#a\"")},
      {"NEWS.HTM",
       {"-cd"},
       at2("case in \"NEWS.HTM\" differs from file name \"news.htm\"") +
           at2("couldn't find \"NEWS.HTM\"")},
      {"NEWS.HTM",
       {"-r"},
       at2("case in \"NEWS.HTM\" differs from file name \"news.htm\"") +
           at2("couldn't find \"NEWS.HTM\"")},
      {"http://Host/x", {"-cl"}, at2("upper case in \"http://Host/x\"")},
  };
  for (RefRow row : rows) {
    if (row.options[0] == "-r") row.options.push_back("-k-");
    expectRow(row);
  }
}

TEST(CheckLinks, PageListedTwice) {
  // Matched by two patterns, 'a.htm' has two blocks: whether the second
  // counts depends on what lies between them, but an anchor the first holds
  // is found either way.
  const std::vector<SiteFile> files = {
      {"a.htm", "<a name=\"here\">\n<a href=\"a.htm#here\"><a href=\"a.htm#gone\">\n"},
      {"b.htm", "<a href=\"a.htm#here\">\n"}};
  const std::string complaint = "a.htm (2):               couldn't find \"a.htm#gone\"\n";
  expectCase({"adjacent blocks",
              files,
              {"-u-", "a.htm", "a*.htm"},
              kSep + complaint + complaint,
              kChecking,
              1});
  expectCase({"blocks apart",
              files,
              {"-u-", "a.htm", "b.htm", "a.htm"},
              kSep + complaint + complaint,
              kChecking,
              1});
}

TEST(CheckLinks, LongPageNamesAndIndents) {
  const std::vector<SiteFile> files = {{"a-rather-long-page-name.htm", "\n\n<img src=\"x.gif\">"}};
  expectCase({"prefix longer than the indent",
              files,
              {"-u-", "*.htm"},
              kSep + "a-rather-long-page-name.htm (3): couldn't find graphics \"x.gif\"\n",
              kChecking,
              1});
  expectCase({"-a40",
              files,
              {"-u-", "-a40"},
              kSep + "a-rather-long-page-name.htm (3):        couldn't find graphics "
                     "\"x.gif\"\n",
              kChecking,
              1});
}

TEST(CheckLinks, PagesInSubdirectoriesKeepTheirPathAndCase) {
  // Paths are relative to the current directory, never to the page's own.
  const std::vector<SiteFile> files = {
      {"Site/Index.HTM", "<a href=\"site/news.htm\">\n<img src=\"logo.gif\">\n"},
      {"Site/news.htm", "<a href=\"site/index.htm\">"},
      {"Site/logo.gif", "gif"}};
  expectCase({"sub/*.htm",
              files,
              {"-u-", "site/*.htm"},
              kSep + "site/index.htm (2):      couldn't find graphics \"logo.gif\"\n",
              kChecking,
              1});
  expectCase({"sub\\*.htm",
              files,
              {"-u-", "SITE\\*.htm"},
              kSep + "site\\index.htm (1):      couldn't find \"site/news.htm\"\n"
                     "site\\index.htm (2):      couldn't find graphics \"logo.gif\"\n"
                     "site\\news.htm (1):       couldn't find \"site/index.htm\"\n",
              kChecking,
              1});
}

TEST(CheckLinks, SmallExampleReport) {
  std::string index;
  for (int line = 1; line <= 21; ++line) {
    if (line == 12) index += "<a href=\"news.htm#today\">news</a>";
    if (line == 14) index += "<img src=\"logo.gif\">";
    if (line == 20) index += "<a href=\"file:///c:/x.htm\">x</a>";
    index += "\n";
  }
  expectCase({"small example",
              {{"index.htm", index},
               {"news.htm", "<a href=\"index.htm\">home</a>\n"},
               {"old.gif", "GIF89a"}},
              {},
              kSep + "index.htm (12):          couldn't find \"news.htm#today\"\n"
                     "index.htm (14):          couldn't find graphics \"logo.gif\"\n"
                     "index.htm (20): evil \"file:\" ref \"file:///c:/x.htm\"\n"
                     "Couldn't find \"old.gif\" mentioned\n",
              kChecking + "(checking for unlinked *.htm*....)\n(checking for unlinked *.gif....)\n",
              1});
}

}  // namespace
