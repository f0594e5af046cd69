// tangler-site's command line read into options, and the ignore file's
// lines: what each option sets, and the usage errors that must stop a run.
#include "site/app/command_line.h"

#include <gtest/gtest.h>

namespace site {
namespace {

CommandLineResult parse(const std::vector<std::string>& args, SiteOptions* options,
                        std::string* error) {
  return parseCommandLine(args, options, error);
}

TEST(SiteCommandLine, ResultsAndUsageErrors) {
  struct {
    std::vector<std::string> args;
    CommandLineResult result;
    std::string error;  // for UsageError: the message, whole
  } const rows[] = {
      {{"-h"}, CommandLineResult::Help, ""},
      {{"-qV"}, CommandLineResult::Version, ""},
      {{"-o", "-", "site"}, CommandLineResult::Run, ""},
      {{"-o", "", "site"}, CommandLineResult::UsageError, "empty value in '--output'"},
      {{"--ignore", "", "site"}, CommandLineResult::UsageError, "empty value in '--ignore'"},
      {{"--ignore-file="}, CommandLineResult::UsageError, "option '--ignore-file' needs a value"},
      {{"--disable=orphan,Missing-File"},
       CommandLineResult::UsageError,
       "unknown finding kind 'Missing-File' in '--disable': missing-file, missing-anchor, "
       "case-mismatch, outside-root, file-scheme, invalid-url or orphan"},
      {{"--disable=missing-file,"}, CommandLineResult::UsageError, "empty value in '--disable'"},
      {{"--exclude=./", "site"},
       CommandLineResult::UsageError,
       "invalid --exclude pattern './': it names no path under ROOT"},
  };
  for (const auto& row : rows) {
    SiteOptions options;
    std::string error;
    EXPECT_EQ(parse(row.args, &options, &error), row.result) << row.args[0];
    if (row.result == CommandLineResult::UsageError) {
      EXPECT_EQ(error, row.error);
    }
  }
}

TEST(SiteCommandLine, OptionValues) {
  SiteOptions options;
  std::string error;
  ASSERT_EQ(parse({"--ignore=^https://a\\.example/", "--ignore", "x{1,2}", "--ignore-file=one",
                   "--ignore-file", "two", "-o", "-", "public/"},
                  &options, &error),
            CommandLineResult::Run)
      << error;
  EXPECT_EQ(options.ignore, (std::vector<std::string>{"^https://a\\.example/", "x{1,2}"}));
  EXPECT_EQ(options.ignoreFiles, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(options.output, "");
  EXPECT_EQ(options.check.reportRoot, "public");
  EXPECT_EQ(options.check.disabledKinds, 0u);
  EXPECT_EQ(options.check.orphans, OrphanLevel::Warning);
}

// ROOT as reports write it: one separator, '/', and no trailing one.
TEST(SiteCommandLine, ReportRoot) {
#ifdef _WIN32
  const bool windows = true;
#else
  const bool windows = false;
#endif
  struct {
    std::string root, reportRoot;
  } const rows[] = {
      {".", "."},
      {"public/", "public"},
      {"./site//", "./site"},
      {"/", "/"},
      // '\' separates on Windows alone; elsewhere it is part of a name.
      {"site\\", windows ? "site" : "site\\"},
      {".\\site\\docs", windows ? "./site/docs" : ".\\site\\docs"},
      {"C:\\www\\", windows ? "C:/www" : "C:\\www\\"},
  };
  for (const auto& row : rows) {
    SiteOptions options;
    std::string error;
    ASSERT_EQ(parse({row.root}, &options, &error), CommandLineResult::Run) << error;
    EXPECT_EQ(options.check.reportRoot, row.reportRoot) << row.root;
  }
}

TEST(SiteCommandLine, DisabledKinds) {
  struct {
    std::vector<std::string> args;
    uint32_t kinds;
    OrphanLevel orphans;
  } const rows[] = {
      {{"--disable=invalid-url"}, 1u << unsigned(FindingKind::InvalidUrl), OrphanLevel::Warning},
      {{"--disable", "file-scheme,case-mismatch", "--disable=outside-root"},
       1u << unsigned(FindingKind::FileScheme) | 1u << unsigned(FindingKind::CaseMismatch) |
           1u << unsigned(FindingKind::OutsideRoot),
       OrphanLevel::Warning},
      // --disable=orphan is --orphans=off, whichever comes first.
      {{"--disable=orphan", "--orphans=error"},
       1u << unsigned(FindingKind::Orphan),
       OrphanLevel::Off},
      {{"--disable=missing-anchor,missing-file,missing-file"},
       1u << unsigned(FindingKind::MissingAnchor) | 1u << unsigned(FindingKind::MissingFile),
       OrphanLevel::Warning},
  };
  for (const auto& row : rows) {
    SiteOptions options;
    std::string error;
    ASSERT_EQ(parse(row.args, &options, &error), CommandLineResult::Run) << error;
    EXPECT_EQ(options.check.disabledKinds, row.kinds) << row.args[0];
    EXPECT_EQ(options.check.orphans, row.orphans) << row.args[0];
  }
}

TEST(SiteCommandLine, IgnoreFileLines) {
  struct {
    std::string text;
    std::vector<std::pair<uint32_t, std::string>> lines;
  } const rows[] = {
      {"", {}},
      {"a\nb", {{1, "a"}, {2, "b"}}},
      {"\xEF\xBB\xBF  ^x$ \t\r\n\r\n# c\n  #c2\n\tb c\r", {{1, "^x$"}, {5, "b c"}}},
      {"a\rb\r\nc\n\n", {{1, "a"}, {2, "b"}, {3, "c"}}},
      {"\\# not a comment\n", {{1, "\\# not a comment"}}},
  };
  for (const auto& row : rows) {
    std::vector<std::pair<uint32_t, std::string>> got;
    for (const IgnoreLine& line : ignoreFileLines(row.text))
      got.push_back({line.line, line.pattern});
    EXPECT_EQ(got, row.lines) << row.text;
  }
}

}  // namespace
}  // namespace site
