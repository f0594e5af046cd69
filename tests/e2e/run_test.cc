// The command line, the report stream, the reference file's life and the exit
// status, seen from outside.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kUsage =
    "tangler [afn [afn...]   (Dec 22 2014)\n"
    "searches through afns (ambiguous file names, i.e. *.html etc.) looking for\n"
    "links. If no afns, uses \"*.htm\". Then outputs the exciting things it found. If\n"
    "errors, might set errorlevel to 1; else 0.\n"
    "-oOutputfile  name output file; otherwise stdout.\n"
    "-iRefname   name the reference file; otherwise it's tangler~.txt\n"
    "-d-         don't delete reference file; it's kind of amusing.\n"
    "-hFail finding http: refs, including graphics php etc. Otherwise don't try.\n"
    "-:Fail find \"other:\" refs. Etc.\n"
    "-cl   (lower-case L) complain if upper-case; -cu lower; -cd different.\n"
    "-r    Check references only; skip time-consuming unreferenced (orphan) check.\n"
    "-u-   don't look around for unlinked *.zip *.exe *.gif *.jpg *.htm* in\n"
    "      afn etc.\n"
    "-a25  Set indent between ref and complaint.\n"
    "(w32)\n";

const std::string kSep = "---------------\n";
const std::string kChecking = "(checking references....)\n";

// A page that links to a missing file on line 1, and names itself so that it
// is no orphan.
const SiteFile kBrokenPage{"index.htm", "<a href=\"index.htm\"><a href=\"gone.txt\">\n"};

TEST(CommandLine, UsageTextEndsTheRunWithStatus17) {
  const std::vector<std::vector<std::string>> argLists = {
      {"?"},  {"-?"},       {"/?"},          {"*.ht?"},     {"-x"},          {"-cx"},
      {"-C"}, {"-r", "-Z"}, {"a.htm", "-q"}, {"/u-", "/x"}, {"-ohelp?.txt"}, {"-cq", "-r"},
  };
  for (const auto& args : argLists) {
    TempSite site;
    site.write(kBrokenPage.name, kBrokenPage.content);
    RunResult r = runIn(site.path(), args);
    EXPECT_EQ(r.out, kUsage) << args[0];
    EXPECT_EQ(r.err, "") << args[0];
    EXPECT_EQ(r.status, 17) << args[0];
    // Nothing was opened: no reference file, no report file.
    EXPECT_EQ(site.list(), std::vector<std::string>{"index.htm"}) << args[0];
  }
}

TEST(CommandLine, OptionsAndPatterns) {
  const std::string broken = "index.htm (1):           couldn't find file \"gone.txt\"\n";
  const std::vector<E2eCase> cases = {
      {"no arguments scans *.htm and searches orphans",
       {kBrokenPage},
       {},
       kSep + broken,
       kChecking + "(checking for unlinked *.htm*....)\n",
       1},
      {"'-' alone is neither option nor pattern",
       {kBrokenPage},
       {"-"},
       kSep + broken,
       kChecking + "(checking for unlinked *.htm*....)\n",
       1},
      {"'/' alone is ignored too",
       {kBrokenPage},
       {"/"},
       kSep + broken,
       kChecking + "(checking for unlinked *.htm*....)\n",
       1},
      {"-u- switches the orphan search off", {kBrokenPage}, {"-u-"}, kSep + broken, kChecking, 1},
      {"-u-x still switches it off", {kBrokenPage}, {"-u-x"}, kSep + broken, kChecking, 1},
      {"-r checks references only; no terminal, so no wait",
       {kBrokenPage},
       {"-r"},
       kSep + broken,
       kChecking + "(press a key)",
       1},
      {"-r -k- does not prompt", {kBrokenPage}, {"-r", "-k-"}, kSep + broken, kChecking, 1},
      {"/r page.htm: '/' becomes the switch character",
       {kBrokenPage},
       {"/r", "index.htm", "/k-"},
       kSep + broken,
       kChecking,
       1},
      {"after '/u-', '-x.htm' is a pattern",
       {kBrokenPage},
       {"/u-", "-x.htm"},
       kSep,
       "no -x.htm\n" + kChecking,
       1},
      {"once '/', a later '-u-' is a pattern too",
       {kBrokenPage},
       {"/k-", "-u-", "index.htm"},
       kSep + broken,
       "no -u-\n" + kChecking + "(checking for unlinked *.htm*....)\n",
       1},
      {"-a0 never pads",
       {kBrokenPage},
       {"-a0", "-u-"},
       kSep + "index.htm (1): couldn't find file \"gone.txt\"\n",
       kChecking,
       1},
      {"-a-7 never pads",
       {kBrokenPage},
       {"-a-7", "-u-"},
       kSep + "index.htm (1): couldn't find file \"gone.txt\"\n",
       kChecking,
       1},
      {"-a with blanks and sign",
       {kBrokenPage},
       {"-a +18", "-u-"},
       kSep + "index.htm (1):    couldn't find file \"gone.txt\"\n",
       kChecking,
       1},
      {"-a stops at the first non-digit",
       {kBrokenPage},
       {"-a18x5", "-u-"},
       kSep + "index.htm (1):    couldn't find file \"gone.txt\"\n",
       kChecking,
       1},
      {"-a without digits is 0",
       {kBrokenPage},
       {"-a", "-u-"},
       kSep + "index.htm (1): couldn't find file \"gone.txt\"\n",
       kChecking,
       1},
      {"-a past the int range saturates",
       {kBrokenPage},
       {"-a-99999999999999999999", "-u-"},
       kSep + "index.htm (1): couldn't find file \"gone.txt\"\n",
       kChecking,
       1},
      {"an empty directory: the note counts, nothing is left behind",
       {},
       {},
       kSep,
       "no *.htm\n" + kChecking,
       1},
      {"a clean site exits 0",
       {{"index.htm", "<a href=\"index.htm\">"}},
       {},
       kSep,
       kChecking + "(checking for unlinked *.htm*....)\n",
       0},
  };
  for (const E2eCase& c : cases) expectCase(c);
}

TEST(CommandLine, ReferencesOnlyOffStillSetsDifferentCaseMode) {
  // '-r-' leaves references-only mode off but turns the stored-name check on.
  E2eCase c{"-r-",
            {{"index.htm", "<a href=\"index.htm\"><img src=\"logo.gif\">"}, {"Logo.gif", "GIF"}},
            {"-r-", "-u-"},
            kSep +
                "index.htm (1):           case in \"logo.gif\" differs from file name "
                "\"Logo.gif\"\n",
            kChecking,
            1};
  expectCase(c);
  // A later '-c' turns it off again; a later '-r' turns it back on.
  c.args = {"-r-", "-c", "-u-"};
  c.out = kSep;
  c.status = 0;
  expectCase(c);
}

TEST(ReportFile, GoesToTheNamedFileAndReplacesIt) {
  TempSite site;
  site.write(kBrokenPage.name, kBrokenPage.content);
  site.write("Report.TXT", "old contents that must go\n");
  RunResult r = runIn(site.path(), {"-oreport.txt", "-u-"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kChecking);
  EXPECT_EQ(r.status, 1);
  // Replaced under its stored name, as on a file system that ignores case.
  EXPECT_EQ(site.list(), (std::vector<std::string>{"Report.TXT", "index.htm"}));
  EXPECT_EQ(site.read("Report.TXT"),
            kSep + "index.htm (1):           couldn't find file \"gone.txt\"\n");
}

TEST(ReportFile, FatalOpenAndWriteFailures) {
  const std::vector<E2eCase> cases = {
      {"empty -o value", {kBrokenPage}, {"-o"}, "", "couldn't open  for w.", 3},
      {"'-o out.txt': the value is empty and out.txt a pattern",
       {kBrokenPage},
       {"-o", "out.txt"},
       "",
       "couldn't open  for w.",
       3},
      {"-o into a missing directory",
       {kBrokenPage},
       {"-onowhere/r.txt"},
       "",
       "couldn't open nowhere/r.txt for w.",
       3},
      {"-o naming a directory",
       {kBrokenPage, {"sub/x.txt", ""}},
       {"-osub"},
       "",
       "couldn't open sub for w.",
       3},
      {"empty -i value", {kBrokenPage}, {"-i"}, kSep, "couldn't open  for w.", 3},
      {"-i into a missing directory",
       {kBrokenPage},
       {"-inowhere/refs.txt"},
       kSep,
       "couldn't open nowhere/refs.txt for w.",
       3},
      {"a full disk for the report",
       {kBrokenPage},
       {"-o/dev/full", "-u-"},
       "",
       kChecking + "couldn't write /dev/full.",
       3},
      {"a full disk for the reference file",
       {kBrokenPage},
       {"-i/dev/full", "-u-"},
       kSep,
       "couldn't write /dev/full.",
       3},
  };
  for (const E2eCase& c : cases) expectCase(c);
}

TEST(ReferenceFile, DeletedUnlessKept) {
  {
    TempSite site;
    site.write(kBrokenPage.name, kBrokenPage.content);
    RunResult r = runIn(site.path(), {"-u-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(site.list(), std::vector<std::string>{"index.htm"});
  }
  {
    TempSite site;
    site.write(kBrokenPage.name, kBrokenPage.content);
    RunResult r = runIn(site.path(), {"-u-", "-d-", "-irefs.lst"});
    EXPECT_EQ(r.status, 1);
    std::string cwd;
    for (char ch : targetPath(site.path())) cwd += (ch >= 'A' && ch <= 'Z') ? char(ch + 32) : ch;
    EXPECT_EQ(site.read("refs.lst"), kSep + "cwd:   " + cwd + "\n" + kSep +
                                         "name:  index.htm\n"
                                         "ref:   index.htm line#<1>\n"
                                         "ref:   gone.txt line#<1>\n");
  }
}

TEST(ReferenceFile, AnExistingNameInOtherCaseIsReplaced) {
  TempSite site;
  site.write(kBrokenPage.name, kBrokenPage.content);
  site.write("TANGLER~.TXT", "stale\n");
  RunResult r = runIn(site.path(), {"-u-", "-d-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(site.list(), (std::vector<std::string>{"TANGLER~.TXT", "index.htm"}));
  EXPECT_NE(site.read("TANGLER~.TXT").find("name:  index.htm\n"), std::string::npos);
}

}  // namespace
