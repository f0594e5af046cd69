// tangler-site run as a user runs it: a site made in a scratch directory,
// the built binary started on it, its output, error stream and status
// compared whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "run_harness.h"

namespace {

namespace fs = std::filesystem;
using site_e2e::RunResult;
using site_e2e::Scratch;
using site_e2e::slurp;

const char* const kIndex =
    "<!doctype html>\n"
    "<html><head><link rel=\"stylesheet\" href=\"/css/site.css\"><title>Home</title></head>\n"
    "<a href=\"docs/\">Docs</a> <a href=\"docs/guide/intro.html#install\">Install</a>\n"
    "<a href=\"Docs/guide/intro.html#usage\">Wrong case</a>\n"
    "<img src=\"img/logo.png\" srcset=\"img/logo.png 1x, img/logo@2x.png 2x\">\n"
    "<a href=\"https://example.com/\">ext</a> <a href=\"mailto:x@example.com\">mail</a>\n"
    "<a href=\"file:///home/me/x.html\">local</a> <a href=\"#top\">top</a>\n"
    "<a href=\"drafts/d.html#gone\">draft</a> <a href=\"linked/x.html\">linked</a>\n";

// A nested site with one of each finding, and what is not one: an id and an
// a-name anchor, a directory index, srcset, a style sheet's assets, hidden,
// excluded and exempt files, a link that leads out of ROOT.
void writeNestedSite(const Scratch& scratch) {
  scratch.write("public/index.html", kIndex);
  scratch.write("public/docs/index.html",
                "<h1 id=\"docs\">Docs</h1>\n"
                "<a href=\"guide/intro.html#setup\">Setup</a>\n"
                "<a href=\"../index.html\">Home</a> <a href=\"/missing.html\">Missing</a>\n"
                "<a href=\"../../outside/x.html\">Out</a>\n");
  scratch.write("public/docs/guide/intro.html",
                "<h2 id=\"install\">Install</h2><a name=\"usage\"></a>\n"
                "<a href=\"../index.html#docs\">Up</a> <a href=\"intro.html#usage\">Usage</a>\n"
                "<a href=\"/docs/#nope\">bad</a> <a href=\"#:~:text=Install\">text</a>\n");
  scratch.write("public/css/site.css",
                "body { background: url(\"../img/bg.png\"); }\n@import \"fonts.css\";\n");
  for (const char* name : {"img/logo.png", "img/bg.png", "img/old.png", "404.html", "robots.txt",
                           ".well-known/security.txt", "drafts/d.html"}) {
    scratch.write(std::string("public/") + name, "");
  }
  scratch.write("outside/x.html", "");
  // Wine shows a Linux symbolic link as what it leads to, so the Windows
  // build would walk this one; without it, linked/x.html is missing all the
  // same.
  if (!site_e2e::windowsTarget()) {
    fs::create_directory_symlink("../outside", scratch.dir() / "public/linked");
  }
}

const char* const kNestedReport =
    "public/css/site.css:2:9: error: 'fonts.css' not found [missing-file]\n"
    "public/docs/guide/intro.html:3:10: error: '/docs/#nope': public/docs/index.html has no "
    "anchor 'nope' [missing-anchor]\n"
    "public/docs/index.html:2:10: error: 'guide/intro.html#setup': public/docs/guide/intro.html "
    "has no anchor 'setup' [missing-anchor]\n"
    "public/docs/index.html:3:43: error: '/missing.html' not found [missing-file]\n"
    "public/docs/index.html:4:10: error: '../../outside/x.html' leads outside the site "
    "[outside-root]\n"
    "public/img/old.png: warning: not referenced by any page [orphan]\n"
    "public/index.html:4:10: error: 'Docs/guide/intro.html#usage' differs in letter case from "
    "the stored 'public/docs/guide/intro.html' [case-mismatch]\n"
    "public/index.html:5:33: error: 'img/logo@2x.png' not found [missing-file]\n"
    "public/index.html:7:10: warning: 'file:///home/me/x.html' only works on this computer "
    "[file-scheme]\n"
    "public/index.html:8:49: error: 'linked/x.html' not found [missing-file]\n";

TEST(SiteRun, NestedSite) {
  Scratch scratch;
  writeNestedSite(scratch);
  RunResult run = scratch.run({"--exclude=drafts", "public/"});
  EXPECT_EQ(run.out, kNestedReport);
  EXPECT_EQ(run.err,
            "tangler-site: 4 pages, 9 files, 23 references (1 external, not checked): 8 errors, "
            "2 warnings in " +
                run.err.substr(run.err.rfind(" in ") + 4));
  EXPECT_EQ(run.status, 1);
}

TEST(SiteRun, SymbolicLinksAndUnreadableFiles) {
  SKIP_ON_WINDOWS(
      "Wine shows a Linux symbolic link as the file it leads to, and runs as the owner of its "
      "prefix (root in CI), whom no file mode keeps out");
  Scratch scratch;
  scratch.write("site/index.html",
                "<a href=\"docs/\"></a><a href=\"secret.html#x\"></a><a href=\"private/p.html\">"
                "</a><a href=\"latest/\"></a>\n<a href=\"gone.html\"></a>\n");
  scratch.write("site/docs/index.html", "<a href=\"../nothing.html\"></a>");
  scratch.write("site/secret.html", "");
  scratch.write("site/private/p.html", "");
  fs::create_directory_symlink("../docs", scratch.dir() / "site/docs/loop");  // skipped
  fs::create_directory_symlink("docs", scratch.dir() / "site/latest");  // a second path: not read
  fs::create_symlink("nowhere.html", scratch.dir() / "site/dangling.html");  // skipped
  fs::permissions(scratch.dir() / "site/secret.html", fs::perms::none);
  fs::permissions(scratch.dir() / "site/private", fs::perms::none);
  RunResult run = scratch.run({"-q", "site"});
  EXPECT_EQ(run.out,
            "site/docs/index.html:1:10: error: '../nothing.html' not found [missing-file]\n"
            "site/index.html:2:10: error: 'gone.html' not found [missing-file]\n");
  EXPECT_EQ(run.err,
            "tangler-site: cannot list 'site/private': Permission denied\n"
            "tangler-site: cannot read 'site/secret.html': Permission denied\n");
  EXPECT_EQ(run.status, 3);
}

TEST(SiteRun, ReportIsTheSameOnAnyNumberOfThreads) {
  Scratch scratch;
  std::mt19937 random(7);
  for (int page = 0; page < 300; ++page) {
    std::string text = "<h1 id=\"a" + std::to_string(page % 7) + "\">x</h1>\n";
    if (page % 4 == 3) {
      // A redirect page: fragments aimed at it are looked for where it leads.
      unsigned target = random() % 300;
      text = "<meta http-equiv=refresh content=\"0; url=/d" + std::to_string(target % 10) + "/p" +
             std::to_string(target) + ".html\">\n" + text;
    }
    for (int link = 0; link < 6; ++link) {
      unsigned target = random() % 330, anchor = random() % 9;
      text += "<a href=\"/d" + std::to_string(target % 10) + "/p" + std::to_string(target) +
              ".html#a" + std::to_string(anchor) + "\">x</a>\n";
    }
    scratch.write("s/d" + std::to_string(page % 10) + "/p" + std::to_string(page) + ".html", text);
  }
  RunResult one = scratch.run({"-q", "-j1", "s"});
  RunResult four = scratch.run({"-q", "--jobs=4", "s"});
  EXPECT_GT(one.out.size(), 1000u);
  EXPECT_EQ(one.out, four.out);
  EXPECT_EQ(one.status, 1);
}

TEST(SiteRun, CommandLineAndStatus) {
  Scratch scratch;
  scratch.write("site/index.html", "<a href=\"a.html\"></a>");
  scratch.write("site/a.html", "");
  scratch.write("site/old.png", "");
  fs::create_directory(scratch.dir() / "empty");
  const std::string tryHelp = "Try 'tangler-site --help'.\n";
  struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // err "*" is not compared
  } const rows[] = {
      {{"-q", "site"}, 0, "site/old.png: warning: not referenced by any page [orphan]\n", ""},
      {{"-q", "--orphans", "error", "./site/"},
       1,
       "./site/old.png: error: not referenced by any page [orphan]\n",
       ""},
      {{"-q", "--orphans=off", "--", "site"}, 0, "", ""},
      {{"-q", "--disable=orphan", "site"}, 0, "", ""},
      // No page at all: a job pointed at the wrong folder must not pass.
      {{"-q", "empty"}, 1, "", "tangler-site: no page found in 'empty' (--pages=*.html,*.htm)\n"},
      {{"-q", "--pages=*.xhtml,*.php", "site"},
       1,
       "site/a.html: warning: not referenced by any page [orphan]\n"
       "site/old.png: warning: not referenced by any page [orphan]\n",
       "tangler-site: no page found in 'site' (--pages=*.xhtml,*.php)\n"},
      {{"--disable=orphans", "site"}, 2, "", "*"},
      {{"-j0", "site"}, 2, "", "*"},
      {{"--format=JSON", "site"}, 2, "", "*"},
      {{"--bogus", "site"}, 2, "", "tangler-site: unrecognized option '--bogus'\n" + tryHelp},
      {{"site", "more"}, 2, "", "*"},
      {{"-q", "nowhere"},
       3,
       "",
       "tangler-site: cannot read 'nowhere': No such file or directory\n"},
      {{"-q", "site/a.html"}, 3, "", "tangler-site: cannot read 'site/a.html': Not a directory\n"},
      {{"-q", "-o", "no/such/dir", "site"},
       3,
       "",
       "tangler-site: cannot write 'no/such/dir': No such file or directory\n"},
      {{"-q", "-o", "-", "site"},
       0,
       "site/old.png: warning: not referenced by any page [orphan]\n",
       ""},
      // The report file is made before the walk: its failure comes first and alone.
      {{"-q", "-o", "no/such/dir", "nowhere"},
       3,
       "",
       "tangler-site: cannot write 'no/such/dir': No such file or directory\n"},
      {{"-o", "site/a.html", "site"}, 2, "", "*"},
      // Under Wine, /dev/full is the Linux device too (on drive Z:).
      {{"-q", "-o", "/dev/full", "site"},
       3,
       "",
       "tangler-site: cannot write '/dev/full': No space left on device\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[1]);
    RunResult run = scratch.run(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, row.out);
    if (row.err != "*") {
      EXPECT_EQ(site_e2e::maskSystemReasons(run.err), site_e2e::maskSystemReasons(row.err));
    } else {
      // One line naming the problem, then where to look.
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2);
      EXPECT_EQ(run.err.substr(run.err.find('\n') + 1), tryHelp);
    }
  }
  if (site_e2e::windowsTarget()) {
    // '\' separates there: report paths have '/' alone, a trailing one dropped.
    RunResult backslashes = scratch.run({"-q", ".\\site\\"});
    EXPECT_EQ(backslashes.out, "./site/old.png: warning: not referenced by any page [orphan]\n");
  }
  for (const char* flag : {"--help", "-h", "-qh"}) {
    RunResult help = scratch.run({flag, "site"});
    EXPECT_EQ(help.status, 0) << flag;
    EXPECT_EQ(help.out.rfind("Usage: tangler-site [OPTION]... [ROOT]\n", 0), 0u) << flag;
    EXPECT_EQ(help.err, "") << flag;
  }
  for (const char* flag : {"--version", "-V"}) {
    RunResult version = scratch.run({flag});
    EXPECT_EQ(version.status, 0) << flag;
    EXPECT_EQ(version.out, "tangler-site " TANGLER_VERSION "\n") << flag;
  }
  RunResult toFile = scratch.run({"-q", "-o", "report.txt", "site"});
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(slurp(scratch.dir() / "report.txt"), rows[0].out);
}

// --exclude patterns read as .gitignore lines: excluded files are neither
// read, counted nor orphans, and a pattern that matched nothing is named.
TEST(SiteRun, ExcludePatterns) {
  Scratch scratch;
  scratch.write("site/index.html", "");
  for (const char* name : {"site/a.gz", "site/sub/b.gz", "site/keep.png", "site/sub/keep.png",
                           "site/drafts.txt", "site/docs/drafts/old.png"}) {
    scratch.write(name, "");
  }
  scratch.write("site/drafts/x.html", "<a href=\"gone.html\"></a>");
  RunResult run = scratch.run(
      {"--exclude=*.gz", "--exclude=drafts/", "--exclude=/keep.png", "--exclude=search/", "site"});
  EXPECT_EQ(run.out,
            "site/drafts.txt: warning: not referenced by any page [orphan]\n"
            "site/sub/keep.png: warning: not referenced by any page [orphan]\n");
  EXPECT_EQ(run.err.substr(0, run.err.find(" in ")),
            "tangler-site: --exclude pattern 'search/' matched nothing\n"
            "tangler-site: 1 page, 3 files, 0 references (0 external, not checked): 0 errors, 2 "
            "warnings");
  EXPECT_EQ(run.status, 0);
}

// Where --ignore patterns come from: the command line, --ignore-file, else
// .tangler-site-ignore in the working directory; the usage errors and
// unreadable files that stop a run before it starts, and the note on a
// pattern that matched nothing.
TEST(SiteRun, IgnorePatternSources) {
  Scratch scratch;
  scratch.write("site/index.html", "<a href=\"https://example.com/\"></a>\n");
  scratch.write("patterns", "# mine\n\n  nothing\\.example  \n");
  const std::string tryHelp = "Try 'tangler-site --help'.\n";
  struct {
    std::vector<std::string> args;
    std::string defaultFile;  // .tangler-site-ignore's text; none when empty
    int status;
    std::string err;  // up to the summary line
  } const rows[] = {
      {{"--ignore=a(b", "site"},
       "",
       2,
       "tangler-site: invalid --ignore pattern 'a(b': missing ): a(b\n" + tryHelp},
      {{"site"},
       "# fine\nok\n a(b\n",
       2,
       "tangler-site: .tangler-site-ignore:3: invalid --ignore pattern 'a(b': missing ): a(b\n" +
           tryHelp},
      {{"--ignore=q", "site"},
       "q\n",
       0,
       "tangler-site: --ignore pattern 'q' matched nothing\n"
       "tangler-site: .tangler-site-ignore:1: --ignore pattern 'q' matched nothing\n"},
      // A pattern that matches is not named (and the reference is ignored).
      {{"--ignore=xa", "site"}, "", 0, ""},
      // --ignore-file is read instead of .tangler-site-ignore.
      {{"--ignore-file=patterns", "site"},
       "a(b\n",
       0,
       "tangler-site: patterns:3: --ignore pattern 'nothing\\.example' matched nothing\n"},
      {{"--ignore-file=missing", "--ignore=a(b", "site"},
       "",
       3,
       "tangler-site: cannot read 'missing': No such file or directory\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    std::error_code ignored;
    fs::remove(scratch.dir() / ".tangler-site-ignore", ignored);
    if (!row.defaultFile.empty()) scratch.write(".tangler-site-ignore", row.defaultFile);
    RunResult run = scratch.run(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, "");
    const size_t summary = run.err.find("tangler-site: 1 page,");
    EXPECT_EQ(site_e2e::maskSystemReasons(run.err.substr(0, summary)),
              site_e2e::maskSystemReasons(row.err));
    EXPECT_EQ(summary == std::string::npos, row.status > 1);
  }
}

// On a terminal, the progress line is redrawn in place, cut to the
// terminal's width with the last column free, then cleared.
TEST(SiteRun, ProgressLineFitsTheTerminal) {
  SKIP_ON_WINDOWS("a pseudo-terminal is no Windows console");
  Scratch scratch;
  for (int i = 0; i < 3000; ++i) {
    scratch.write("s/p" + std::to_string(i) + ".html", "<a href=\"p0.html\">x</a>\n");
  }
  const std::string seen = scratch.runOnTerminal({"-j1", "s"}, 30);
  const size_t summary = seen.find("tangler-site: 3000 pages, 3000 files");
  ASSERT_NE(summary, std::string::npos) << seen;
  const std::string before = seen.substr(0, summary);
  std::vector<std::string> pieces;  // what lies between carriage returns
  for (size_t at = 0;;) {
    const size_t next = before.find('\r', at);
    pieces.push_back(before.substr(at, next - at));
    if (next == std::string::npos) break;
    at = next + 1;
  }
  // "", the drawings, blanks over the last, "" before the summary.
  ASSERT_GE(pieces.size(), 4u) << seen;
  EXPECT_EQ(pieces.front(), "");
  EXPECT_EQ(pieces.back(), "");
  EXPECT_EQ(pieces[pieces.size() - 2], std::string(29, ' '));
  for (size_t i = 1; i + 2 < pieces.size(); ++i) {
    // "tangler-site: N of 3000 pages read" is wider than 29 columns.
    EXPECT_EQ(pieces[i].size(), 29u) << pieces[i];
    EXPECT_EQ(pieces[i].rfind("tangler-site: ", 0), 0u) << pieces[i];
  }
}

// A reader that closes the pipe early ends the run quietly: no word about
// the report, the summary kept, the status the findings give.
TEST(SiteRun, ReaderThatClosesThePipeEarly) {
  Scratch scratch;
  std::string page;
  for (int i = 0; i < 20000; ++i) page += "<a href=\"gone" + std::to_string(i) + ".html\"></a>\n";
  scratch.write("s/index.html", page);
  for (const char* format : {"text", "json"}) {
    // Far more than a pipe holds, so the reader is gone before the end.
    RunResult run = scratch.runPiped({"--format", format, "s"}, "head -c1");
    EXPECT_EQ(run.out.size(), 1u) << format;
    EXPECT_EQ(run.err.substr(0, run.err.find(" in ")),
              "tangler-site: 1 page, 1 file, 20000 references (0 external, not checked): 20000 "
              "errors, 0 warnings")
        << format;
    EXPECT_EQ(run.status, 1) << format;
  }
}

// The report file is made before the walk, and is never part of the site:
// refused when the walk would read it as a page or style sheet (nothing is
// written then), passed over when it is any other file under ROOT.
TEST(SiteRun, ReportFileIsNeverPartOfTheSite) {
  Scratch scratch;
  const std::string index = "<a href=\"a.html\"></a>\n";
  scratch.write("site/index.html", index);
  scratch.write("site/a.html", "");
  scratch.write("site/style/main.css", "");
  // Open to the unprivileged runs, which write their reports there.
  for (const char* dir : {"site", "site/style"})
    fs::permissions(scratch.dir() / dir, fs::perms::all);
  const std::string usage = "Try 'tangler-site --help'.\n";
  struct {
    std::string output;
    std::string err;
  } const refused[] = {
      {"site/index.html",
       "tangler-site: the report 'site/index.html' would be a page of the site it checks\n"},
      {"./site/../site/NEW.HTM",
       "tangler-site: the report './site/../site/NEW.HTM' would be a page of the site it "
       "checks\n"},
      {"site/style/new.css",
       "tangler-site: the report 'site/style/new.css' would be a style sheet of the site it "
       "checks\n"},
  };
  for (const auto& row : refused) {
    RunResult run = scratch.run({"-q", "-o", row.output, "site"});
    EXPECT_EQ(run.status, 2) << row.output;
    EXPECT_EQ(run.err, row.err + usage);
  }
  EXPECT_EQ(slurp(scratch.dir() / "site/index.html"), index);
  EXPECT_FALSE(fs::exists(scratch.dir() / "site/style/new.css"));
  EXPECT_FALSE(fs::exists(scratch.dir() / "site/NEW.HTM"));

  // Any other file under ROOT: written, never counted or an orphan.
  for (const char* output : {"site/report.txt", "site/.report.html", "site/style/r.json"}) {
    RunResult run = scratch.run({"-o", output, "site"});
    EXPECT_EQ(run.status, 0) << output;
    EXPECT_EQ(run.err.substr(0, run.err.find(" in ")),
              "tangler-site: 2 pages, 3 files, 1 reference (0 external, not checked): 0 errors, "
              "1 warning");
    EXPECT_EQ(slurp(scratch.dir() / output),
              "site/style/main.css: warning: not referenced by any page [orphan]\n");
    fs::remove(scratch.dir() / output);
  }
  // -o excludes what --exclude and hidden names keep out of the walk.
  RunResult excluded = scratch.run({"-q", "--exclude=style", "-o", "site/style/x.css", "site"});
  EXPECT_EQ(excluded.status, 0);
  EXPECT_EQ(slurp(scratch.dir() / "site/style/x.css"), "");

  if (site_e2e::windowsTarget()) return;  // symbolic links and file modes below
  // Through a link, to a page that is there and to one that is not yet.
  fs::create_symlink("site/index.html", scratch.dir() / "out.html");
  fs::create_symlink("site/later.html", scratch.dir() / "dangling.html");
  for (const char* output : {"out.html", "dangling.html"}) {
    RunResult run = scratch.run({"-q", "-o", output, "site"});
    EXPECT_EQ(run.status, 2) << output;
  }
  EXPECT_EQ(slurp(scratch.dir() / "site/index.html"), index);
  EXPECT_FALSE(fs::exists(scratch.dir() / "site/later.html"));
  // A folder the run may not write in fails at once.
  fs::create_directory(scratch.dir() / "locked");
  fs::permissions(scratch.dir() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (::getuid() == 0 || ::access((scratch.dir() / "locked").c_str(), W_OK) != 0) {
    RunResult locked = scratch.run({"-q", "-o", "locked/r.txt", "site"});
    EXPECT_EQ(locked.status, 3);
    EXPECT_EQ(locked.err, "tangler-site: cannot write 'locked/r.txt': Permission denied\n");
  }
}

// A page with more reference text before its <base> than is held for it
// is looked through again for the base, which counts for every reference
// before it; without a base they resolve against the page. A UTF-16 page
// is read as its UTF-8 text.
TEST(SiteRun, LateBaseAndUtf16Pages) {
  Scratch scratch;
  std::string filler;
  while (filler.size() < (size_t(5) << 20)) {
    filler += "<img src=\"data:," + std::string(1000, 'x') + "\">\n";
  }
  scratch.write("site/index.html", "<a href=\"here.html\">\n" + filler +
                                       "<base href=\"sub/\"><a href=\"here.html#x\">");
  scratch.write("site/sub/here.html", "<p id=x>");
  scratch.write("site/nobase.html",
                "<a href=\"gone.html\">\n" + filler + "<a href=\"index.html\">");
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("<p>\r\n  <a href=\"nobase.html\"><a href=\"lost.html\">")) {
    utf16 += c;
    utf16 += '\0';
  }
  scratch.write("site/wide.html", utf16);
  const RunResult result = scratch.run({"--orphans=off", "site"});
  EXPECT_EQ(result.out,
            "site/nobase.html:1:10: error: 'gone.html' not found [missing-file]\n"
            "site/wide.html:2:34: error: 'lost.html' not found [missing-file]\n");
  EXPECT_EQ(result.status, 1) << result.err;
}

}  // namespace
