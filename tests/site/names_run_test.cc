// Names outside ASCII, as sites in most languages have them: walked, linked
// to spelled out or percent-encoded, reported, and given as ROOT and as -o's
// file. Some of them lie outside every ANSI code page, so a Windows build
// only passes when it reaches names through the system's Unicode calls.
#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

using site_e2e::RunResult;
using site_e2e::Scratch;
using site_e2e::slurp;

TEST(SiteRunNames, NonAsciiNamesAreWalkedResolvedAndReported) {
  Scratch scratch;
  scratch.write("sité/index.html",
                "<a href=\"café/ünïcode.html#ancre\">ok</a>\n"
                "<a href=\"caf%C3%A9/%C3%BCn%C3%AFcode.html#nulle\">encoded</a>\n"
                "<a href=\"Café/ünïcode.html\">case</a> <img src=\"日本.png\">\n");
  scratch.write("sité/café/ünïcode.html", "<h1 id=\"ancre\">Ünïcode</h1>\n");
  scratch.write("sité/日本.png", "");
  scratch.write("sité/ελληνικά.png", "");
  const std::string report =
      "sité/index.html:2:10: error: 'caf%C3%A9/%C3%BCn%C3%AFcode.html#nulle': "
      "sité/café/ünïcode.html has no anchor 'nulle' [missing-anchor]\n"
      "sité/index.html:3:10: error: 'Café/ünïcode.html' differs in letter case from the stored "
      "'sité/café/ünïcode.html' [case-mismatch]\n"
      "sité/ελληνικά.png: warning: not referenced by any page [orphan]\n";

  RunResult toStdout = scratch.run({"-q", "sité"});
  EXPECT_EQ(toStdout.out, report);
  EXPECT_EQ(toStdout.err, "");
  EXPECT_EQ(toStdout.status, 1);

  RunResult toFile = scratch.run({"-q", "--output=отчёт.txt", "sité/"});
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(toFile.err, "");
  EXPECT_EQ(toFile.status, 1);
  EXPECT_EQ(slurp(scratch.dir() / "отчёт.txt"), report);

  RunResult missing = scratch.run({"-q", "нет"});
  EXPECT_EQ(site_e2e::maskSystemReasons(missing.err),
            site_e2e::maskSystemReasons("tangler-site: cannot read 'нет': No such file or "
                                        "directory\n"));
  EXPECT_EQ(missing.status, 3);
}

}  // namespace
