// Every report format rendered from one report whose findings carry each
// escaping hazard, and read back by an independent parser: nlohmann for
// JSON, the SARIF 2.1.0 schema for SARIF, Python's XML parser for JUnit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "report_records.h"
#include "site/report/github_writer.h"
#include "site/report/json_writer.h"
#include "site/report/junit_writer.h"
#include "site/report/sarif_writer.h"
#include "site/report/text_writer.h"
#include "site/report/utf8_repair.h"
#include "site/report/writers.h"

namespace site {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

#define FFFD "\xEF\xBF\xBD"

// A finding of the kind at a place; target is the page of a missing-anchor
// or the stored spelling of a case-mismatch, whose messages name them.
TestFinding makeFinding(FindingKind kind, Level level, std::string path, uint32_t line,
                        uint32_t column, std::string reference, std::string target = "",
                        uint32_t sequence = 0) {
  return {kind, level, path, line, column, reference, target, sequence};
}

// Each hazard in one of four findings: ',', ':', '%' and a byte that is not
// UTF-8 in a path; '<&"' in a reference; CR LF, a control byte, U+FFFE and
// '%' in a message; a space in an orphan's path.
TestReport hazardReport(std::vector<TestFinding> more = {}) {
  std::vector<TestFinding> findings = {
      makeFinding(FindingKind::MissingAnchor, Level::Error, "site/a,b:c%\xFF.html", 2, 9, "#x<&\"y",
                  "site/a,b:c%\xFF.html"),
      makeFinding(FindingKind::CaseMismatch, Level::Error, "site/index.html", 3, 5,
                  "N\x01\xEF\xBF\xBE%.html", "site/n\r\n.html"),
      makeFinding(FindingKind::FileScheme, Level::Warning, "site/index.html", 4, 2, "file:///x"),
      makeFinding(FindingKind::Orphan, Level::Warning, "site/old image.png", 0, 0, ""),
  };
  findings.insert(findings.end(), more.begin(), more.end());
  TestReport test =
      testReport("site", findings, {"site/a,b:c%\xFF.html", "site/index.html", "site/style.css"});
  test.report.summary = {9, 12, 30, 4, 5, 2, 2, 0.25};
  return test;
}

// The messages of hazardReport() as valid UTF-8.
#define MESSAGE0 "'#x<&\"y': site/a,b:c%" FFFD ".html has no anchor 'x<&\"y'"
#define MESSAGE1 \
  "'N\x01\xEF\xBF\xBE%.html' differs in letter case from the stored 'site/n\r\n.html'"

// A scratch folder for the files the Python reader is given.
struct ScratchDir {
  fs::path path = fs::temp_directory_path() /
                  ("tangler-site-formats-" + std::to_string(std::random_device()()));
  ScratchDir() { fs::create_directories(path); }
  ~ScratchDir() { fs::remove_all(path); }
};

// Writes text to a file, runs check_report.py MODE on it, returns its exit
// status (0 when it passed) and its output in *output.
int checkWithPython(const std::string& mode, const std::string& text, std::string* output) {
#ifndef TANGLER_PYTHON3
  (void)text;
  *output = "no Python in this build to read the " + mode + " with";
  return -1;
#else
  ScratchDir scratch;
  const fs::path report = scratch.path / ("report." + mode);
  const fs::path printed = scratch.path / "printed";
  std::ofstream(report, std::ios::binary) << text;
  const std::string command = std::string("'") + TANGLER_PYTHON3 + "' '" + TANGLER_SITE_TEST_DIR +
                              "/check_report.py' " + mode + " '" + report.string() + "' > '" +
                              printed.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  std::stringstream read;
  read << std::ifstream(printed, std::ios::binary).rdbuf();
  *output = read.str();
  return status;
#endif
}

TEST(ReportFormats, JsonReadsBackAsTheReport) {
  // Ordered, so that the summary's members are compared in their order too.
  const nlohmann::ordered_json expected = {
      {"version", 2},
      {"root", "site"},
      {"summary",
       {{"pages", 9},
        {"files", 12},
        {"references", 30},
        {"external", 4},
        {"ignored", 5},
        {"errors", 2},
        {"warnings", 2}}},
      {"findings",
       {{{"kind", "missing-anchor"},
         {"level", "error"},
         {"path", "site/a,b:c%" FFFD ".html"},
         {"line", 2},
         {"column", 9},
         {"reference", "#x<&\"y"},
         {"message", MESSAGE0}},
        {{"kind", "case-mismatch"},
         {"level", "error"},
         {"path", "site/index.html"},
         {"line", 3},
         {"column", 5},
         {"reference", "N\x01\xEF\xBF\xBE%.html"},
         {"message", MESSAGE1},
         {"stored", "site/n\r\n.html"}},
        {{"kind", "file-scheme"},
         {"level", "warning"},
         {"path", "site/index.html"},
         {"line", 4},
         {"column", 2},
         {"reference", "file:///x"},
         {"message", "'file:///x' only works on this computer"}},
        {{"kind", "orphan"},
         {"level", "warning"},
         {"path", "site/old image.png"},
         {"message", "not referenced by any page"}}}}};
  const auto actual =
      nlohmann::ordered_json::parse(reportText(writeJson, hazardReport().report), nullptr, false);
  ASSERT_FALSE(actual.is_discarded());
  EXPECT_EQ(expected, actual) << actual.dump(2);
}

TEST(ReportFormats, TextWritesEachFindingOnOneLine) {
  const struct {
    TestFinding finding;
    const char* line;
  } rows[] = {
      // Control bytes and DEL in a path, reference or name: \xHH, so that a
      // name splits no line and sends no terminal escape.
      {makeFinding(FindingKind::MissingFile, Level::Error, "a\nb.html", 3, 7, "x\x1B[2J"),
       "a\\x0Ab.html:3:7: error: 'x\\x1B[2J' not found [missing-file]"},
      {makeFinding(FindingKind::CaseMismatch, Level::Error, "i.html", 1, 2, "A\x7F", "a\r\n\t"),
       "i.html:1:2: error: 'A\\x7F' differs in letter case from the stored "
       "'a\\x0D\\x0A\\x09' [case-mismatch]"},
      // Everything else as it is: a backslash, bytes that are not UTF-8.
      {makeFinding(FindingKind::Orphan, Level::Warning, "o\\\xFF.png", 0, 0, ""),
       "o\\\xFF.png: warning: not referenced by any page [orphan]"},
      {makeFinding(FindingKind::InvalidUrl, Level::Error, "\xC3\xA9.html", 9, 1, "http://<s>/"),
       "\xC3\xA9.html:9:1: error: 'http://<s>/' is not a valid URL [invalid-url]"},
      // Long names are read eight bytes at a time: a control byte in any
      // place among high bytes, a space and '~' beside the limits.
      {makeFinding(FindingKind::MissingFile, Level::Error, "\xFF\x80 ~~\x9F\xE0!dir/ab\x1F.html", 1,
                   1, "0123456789abcde\x7F\xFE\x7E"),
       "\xFF\x80 ~~\x9F\xE0!dir/ab\\x1F.html:1:1: error: '0123456789abcde\\x7F\xFE~' not "
       "found [missing-file]"},
  };
  std::vector<TestFinding> findings;
  std::string expected;
  for (const auto& row : rows) {
    findings.push_back(row.finding);
    expected += std::string(row.line) + "\n";
  }
  EXPECT_EQ(expected, reportText(writeText, testReport(".", findings).report));
}

TEST(ReportFormats, GithubWritesOneEscapedCommandPerFinding) {
  const char* expected[] = {
      "::error file=site/a%2Cb%3Ac%25" FFFD
      ".html,line=2,col=9,title=missing-anchor::'#x<&\"y': "
      "site/a,b:c%25" FFFD ".html has no anchor 'x<&\"y'",
      "::error file=site/index.html,line=3,col=5,title=case-mismatch::'N\x01\xEF\xBF\xBE%25.html' "
      "differs in letter case from the stored 'site/n%0D%0A.html'",
      "::warning file=site/index.html,line=4,col=2,title=file-scheme::'file:///x' only works on "
      "this computer",
      "::warning file=site/old image.png,title=orphan::not referenced by any page",
      "::error file=site/z.html,line=7,col=3,title=invalid-url::'http://a b:x/' is not a valid URL",
  };
  const TestReport test = hazardReport(
      {makeFinding(FindingKind::InvalidUrl, Level::Error, "site/z.html", 7, 3, "http://a b:x/")});
  std::string lines;
  for (const char* line : expected) lines += std::string(line) + "\n";
  EXPECT_EQ(lines, reportText(writeGithub, test.report));
}

TEST(ReportFormats, SarifIsValidAndPlacesEveryResult) {
  const std::string sarif = reportText(writeSarif, hazardReport().report);
#ifdef TANGLER_PYTHON3
  std::string output;
  EXPECT_EQ(0, checkWithPython("sarif", sarif, &output)) << output;
  EXPECT_EQ("valid\n", output);
#endif

  const json log = json::parse(sarif);
  EXPECT_EQ("2.1.0", log["version"]);
  ASSERT_EQ(1u, log["runs"].size());
  const json& driver = log["runs"][0]["tool"]["driver"];
  EXPECT_EQ("tangler-site", driver["name"]);
  EXPECT_EQ(TANGLER_VERSION, driver["version"]);
  std::vector<std::string> ruleIds;
  for (const json& rule : driver["rules"]) ruleIds.push_back(rule["id"]);
  // The rules of 1.3 follow those of 1.2, whose ruleIndex values stay.
  EXPECT_EQ((std::vector<std::string>{"missing-file", "missing-anchor", "case-mismatch",
                                      "outside-root", "file-scheme", "invalid-url", "orphan",
                                      "http-error", "unreachable", "rate-limited", "moved"}),
            ruleIds);

  struct Row {
    const char* rule;
    const char* level;
    const char* uri;
    int line;  // 0: no region
    int column;
  };
  const Row rows[] = {
      {"missing-anchor", "error", "site/a,b%3Ac%25%FF.html", 2, 9},
      {"case-mismatch", "error", "site/index.html", 3, 5},
      {"file-scheme", "warning", "site/index.html", 4, 2},
      {"orphan", "warning", "site/old%20image.png", 0, 0},
  };
  const json& results = log["runs"][0]["results"];
  ASSERT_EQ(std::size(rows), results.size());
  const json messages = json::parse(reportText(writeJson, hazardReport().report))["findings"];
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const json& result = results[i];
    EXPECT_EQ(rows[i].rule, result["ruleId"]);
    EXPECT_EQ(rows[i].rule, driver["rules"][result["ruleIndex"].get<size_t>()]["id"]);
    EXPECT_EQ(rows[i].level, result["level"]);
    EXPECT_EQ(messages[i]["message"], result["message"]["text"]);
    ASSERT_EQ(1u, result["locations"].size());
    const json& location = result["locations"][0]["physicalLocation"];
    EXPECT_EQ(rows[i].uri, location["artifactLocation"]["uri"]);
    if (rows[i].line == 0) {
      EXPECT_FALSE(location.contains("region"));
    } else {
      EXPECT_EQ(rows[i].line, location["region"]["startLine"]);
      EXPECT_EQ(rows[i].column, location["region"]["startColumn"]);
    }
  }
}

// A junit test case as check_report.py prints it.
json junitCase(const std::string& name, json failures, json out = nullptr) {
  return {{"name", name}, {"failures", failures}, {"out", out}};
}

TEST(ReportFormats, JunitHasASuitePerFileAndACasePerFinding) {
#ifndef TANGLER_PYTHON3
  GTEST_SKIP() << "no Python in this build to parse XML with";
#endif
  // Characters XML cannot hold (the control byte, U+FFFE) come back as U+FFFD;
  // the text line has the control bytes escaped already.
  const char* xmlReference1 = "N" FFFD FFFD "%.html";
  const char* xmlMessage1 =
      "'N" FFFD FFFD "%.html' differs in letter case from the stored 'site/n\r\n.html'";
  const char* textMessage1 =
      "'N\\x01" FFFD "%.html' differs in letter case from the stored 'site/n\\x0D\\x0A.html'";
  const json hazards = {
      {"counts", {{"tests", 5}, {"failures", 2}}},
      {"suites",
       {{{"name", "site/a,b:c%" FFFD ".html"},
         {"cases",
          {junitCase("missing-anchor: #x<&\"y",
                     {{"missing-anchor", MESSAGE0,
                       "site/a,b:c%" FFFD ".html:2:9: error: " MESSAGE0 " [missing-anchor]"}})}}},
        {{"name", "site/index.html"},
         {"cases",
          {junitCase(
               std::string("case-mismatch: ") + xmlReference1,
               {{"case-mismatch", xmlMessage1,
                 std::string("site/index.html:3:5: error: ") + textMessage1 + " [case-mismatch]"}}),
           junitCase("file-scheme: file:///x", json::array(),
                     "site/index.html:4:2: warning: 'file:///x' only works on this computer "
                     "[file-scheme]\n")}}},
        {{"name", "site/style.css"}, {"cases", {junitCase("site/style.css", json::array())}}},
        {{"name", "orphans"},
         {"cases",
          {junitCase("site/old image.png", json::array(),
                     "site/old image.png: warning: not referenced by any page [orphan]\n")}}}}}};

  // A file with findings that was not read (a.html) has its suite too, in
  // path order; an orphan (c.html, at error level) counts in the orphans
  // suite only, and an orphan page's own findings stay in its suite.
  const TestReport merged =
      testReport(".",
                 {
                     makeFinding(FindingKind::MissingFile, Level::Error, "a.html", 1, 1, "x"),
                     makeFinding(FindingKind::Orphan, Level::Error, "c.html", 0, 0, ""),
                     makeFinding(FindingKind::OutsideRoot, Level::Error, "c.html", 2, 1, "../x"),
                 },
                 {"b.html", "c.html"});
  const json mergedExpected = {
      {"counts", {{"tests", 4}, {"failures", 3}}},
      {"suites",
       {{{"name", "a.html"},
         {"cases",
          {junitCase("missing-file: x", {{"missing-file", "'x' not found",
                                          "a.html:1:1: error: 'x' not found [missing-file]"}})}}},
        {{"name", "b.html"}, {"cases", {junitCase("b.html", json::array())}}},
        {{"name", "c.html"},
         {"cases",
          {junitCase("outside-root: ../x",
                     {{"outside-root", "'../x' leads outside the site",
                       "c.html:2:1: error: '../x' leads outside the site [outside-root]"}})}}},
        {{"name", "orphans"},
         {"cases",
          {junitCase("c.html", {{"orphan", "not referenced by any page",
                                 "c.html: error: not referenced by any page [orphan]"}})}}}}}};

  // Nothing found: each suite passes once; with orphans off there is no
  // orphans suite that would pass without having been run.
  const TestReport clean = testReport(".", {}, {"index.html"});
  const json cleanExpected = {
      {"counts", {{"tests", 2}, {"failures", 0}}},
      {"suites",
       {{{"name", "index.html"}, {"cases", {junitCase("index.html", json::array())}}},
        {{"name", "orphans"}, {"cases", {junitCase("orphans", json::array())}}}}}};
  const TestReport orphansOff = testReport(".", {}, {"index.html"}, true);
  const json orphansOffExpected = {
      {"counts", {{"tests", 1}, {"failures", 0}}},
      {"suites", {{{"name", "index.html"}, {"cases", {junitCase("index.html", json::array())}}}}}};

  const struct {
    TestReport test;
    json expected;
  } rows[] = {
      {hazardReport(), hazards},
      {merged, mergedExpected},
      {clean, cleanExpected},
      {orphansOff, orphansOffExpected},
  };
  for (const auto& row : rows) {
    std::string output;
    const std::string xml = reportText(writeJunit, row.test.report);
    ASSERT_EQ(0, checkWithPython("junit", xml, &output)) << output << "\n" << xml;
    EXPECT_EQ(row.expected, json::parse(output)) << output;
  }
}

// The json and sarif reports are written by hand a finding at a time; their
// bytes must stay those nlohmann-json's dump(2) gives for the same document,
// which is what every earlier version wrote: re-dumping what was read back
// must give the same bytes, for a report with findings and one without.
TEST(ReportFormats, JsonAndSarifKeepTheLayoutOfAWholeDocumentDump) {
  const TestReport empty = testReport(".", {});
  for (const TestReport& test : {hazardReport(), empty}) {
    for (ReportWriter writer : {writeJson, writeSarif}) {
      const std::string text = reportText(writer, test.report);
      const auto document = nlohmann::ordered_json::parse(text, nullptr, false);
      ASSERT_FALSE(document.is_discarded()) << text;
      EXPECT_EQ(document.dump(2) + "\n", text);
    }
  }
  // And the findings of an empty report are an empty array on one line.
  EXPECT_NE(std::string::npos,
            reportText(writeJson, empty.report).find("\n  \"findings\": []\n}\n"));
}

// Every writer hands its report on in pieces as it goes, the pieces making
// the whole report; and once a piece cannot be written, nothing more is
// asked of the output and the writer says it failed, with the reason kept.
TEST(ReportFormats, WritersStreamAndStopAtTheFirstFailedWrite) {
  std::vector<TestFinding> findings;
  std::vector<std::string> checked;
  for (uint32_t i = 0; i < 4000; ++i) {
    const std::string path = "site/page" + std::to_string(i / 10) + ".html";
    const std::string ref = "missing/" + std::to_string(i) + ".html";
    findings.push_back(makeFinding(FindingKind::MissingFile, Level::Error, path, i + 1, 3, ref));
    if (i % 10 == 0) checked.push_back(path);
  }
  const TestReport test = testReport("site", findings, checked);
  const SiteReport& big = test.report;
  for (const char* format : {"text", "json", "sarif", "junit", "github"}) {
    SCOPED_TRACE(format);
    const ReportWriter writer = findReportWriter(format);
    ASSERT_NE(nullptr, writer);
    std::string whole = reportText(writer, big);
    ASSERT_GT(whole.size(), 3 * ReportSink::kFlushSize);

    std::string joined;
    size_t pieces = 0;
    ReportSink sink([&](std::string_view bytes, std::string*) {
      ++pieces;
      // Nothing waits in the buffer once it has reached the flush size.
      EXPECT_LT(bytes.size(), 2 * ReportSink::kFlushSize);
      joined.append(bytes);
      return true;
    });
    EXPECT_TRUE(writer(big, sink));
    EXPECT_EQ(whole, joined);
    EXPECT_GE(pieces, 3u);

    size_t calls = 0;
    ReportSink failing([&](std::string_view, std::string* error) {
      ++calls;
      *error = "No space left on device";
      return false;
    });
    EXPECT_FALSE(writer(big, failing));
    EXPECT_EQ(1u, calls);
    EXPECT_FALSE(failing.ok());
    EXPECT_EQ("No space left on device", failing.error);
    EXPECT_FALSE(failing.flush());
  }
}

// The report gives findings file by file in path order, each file's records
// sorted on their own, with no path compared: that must be the order of one
// sort of every finding by path, an orphan first, line, column and
// sequence, a case-mismatch before the missing-anchor of its reference, and
// findings equal in all of these in the order they were made.
TEST(ReportFormats, RecordsComeInTheOrderOfOneSortOfEveryFinding) {
  using K = FindingKind;
  const Level E = Level::Error;
  const std::vector<TestFinding> table = {
      // '-' and '.' sort before '/': a-b.html, a.html, a/x.html, b.png.
      makeFinding(K::MissingAnchor, E, "s/a/x.html", 2, 5, "y.html#q", "s/y.html", 3),
      makeFinding(K::CaseMismatch, E, "s/a/x.html", 2, 5, "Y.html#q", "s/y.html", 3),
      makeFinding(K::MissingFile, E, "s/a/x.html", 2, 5, "m1.png", "", 2),  // srcset, one place
      makeFinding(K::FileScheme, Level::Warning, "s/a/x.html", 1, 9, "file:///", "", 1),
      makeFinding(K::MissingFile, E, "s/a/x.html", 1, 10, "m2.png", "", 0),
      makeFinding(K::Orphan, Level::Warning, "s/a/x.html", 0, 0, ""),
      makeFinding(K::OutsideRoot, E, "s/a-b.html", 3, 1, "../..", "", 1),
      makeFinding(K::Orphan, E, "s/a-b.html", 0, 0, ""),
      makeFinding(K::InvalidUrl, E, "s/a.html", 1, 1, "http://a b/", "", 1),
      makeFinding(K::MissingFile, E, "s/a.html", 1, 1, "twin", "", 1),  // equal to the last
      makeFinding(K::MissingFile, E, "s/a.html", 12, 1, "later", "", 4),
      makeFinding(K::Orphan, Level::Warning, "s/b.png", 0, 0, ""),
      makeFinding(K::MissingFile, E, "s/y.html", 1, 1, "z", "", 1),
  };
  auto describe = [](const TestFinding& f) {
    return f.path + " " + kindName(f.kind) + " " + std::to_string(f.line) + ":" +
           std::to_string(f.column) + "#" + std::to_string(f.sequence) + " " + f.reference;
  };
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<TestFinding> findings = table;
    if (round > 0) std::shuffle(findings.begin(), findings.end(), random);
    // The one sort of every finding, by their paths' bytes.
    std::vector<TestFinding> sorted = findings;
    auto rank = [](K kind) { return kind == K::CaseMismatch ? 0 : 1; };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const TestFinding& a, const TestFinding& b) {
      if (a.path != b.path) return a.path < b.path;
      if ((a.kind == K::Orphan) != (b.kind == K::Orphan)) return a.kind == K::Orphan;
      if (a.line != b.line) return a.line < b.line;
      if (a.column != b.column) return a.column < b.column;
      if (a.sequence != b.sequence) return a.sequence < b.sequence;
      return rank(a.kind) < rank(b.kind);
    });
    std::string expected;
    for (const TestFinding& finding : sorted) expected += describe(finding) + "\n";
    const TestReport test = testReport("s", findings);
    std::string actual;
    for (FindingCursor cursor{&test.report}; nextFinding(&cursor);) {
      const Finding& f = cursor.finding;
      actual +=
          describe({f.kind, f.level, f.path, f.line, f.column, f.reference, "", f.sequence}) + "\n";
    }
    EXPECT_EQ(expected, actual) << "round " << round;
  }
}

TEST(ReportFormats, RepairUtf8ReplacesEachIllFormedSubsequence) {
  const struct {
    const char* bytes;
    const char* repaired;
  } rows[] = {
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},  // well-formed
      {"a\x80"
       "b",
       "a" FFFD "b"},                             // stray continuation
      {"a\xF0\x9F\x98", "a" FFFD},                // truncated at the end
      {"\xC0\x80", FFFD FFFD},                    // overlong
      {"\xE0\x80\x80", FFFD FFFD FFFD},           // overlong
      {"\xED\xA0\x80", FFFD FFFD FFFD},           // surrogate
      {"\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},  // above U+10FFFF
      {"\xE2\x82x", FFFD "x"},                    // cut short
  };
  for (const auto& row : rows) EXPECT_EQ(row.repaired, repairUtf8(row.bytes)) << row.bytes;
}

TEST(ReportFormats, PathToUriEncodesWhatUriSyntaxReserves) {
  const struct {
    const char* path;
    bool windows;
    const char* uri;
  } rows[] = {
      {"a b/%/#?/:/\\/\xC3\xA9\xFF/x,y;z=@!$&'()*+-._~", false,
       "a%20b/%25/%23%3F/%3A/%5C/%C3%A9%FF/x,y;z=@!$&'()*+-._~"},
      // A path from an absolute ROOT on Windows is a file URI; elsewhere, and
      // for any other path, the path as a relative reference.
      {"C:/site/a b#.html", true, "file:///C:/site/a%20b%23.html"},
      {"z:/x:y.html", true, "file:///z:/x%3Ay.html"},
      {"//server/share/a.html", true, "file://server/share/a.html"},
      {"C:/site/a.html", false, "C%3A/site/a.html"},
      {"site/c:/a.html", true, "site/c%3A/a.html"},
      {"C:site/a.html", true, "C%3Asite/a.html"},  // relative to drive C's directory
      {"1:/a.html", true, "1%3A/a.html"},
      {"/site/a.html", true, "/site/a.html"},
      {"///a.html", true, "///a.html"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.uri, pathToUri(row.path, row.windows)) << row.path;
}

}  // namespace
}  // namespace site
