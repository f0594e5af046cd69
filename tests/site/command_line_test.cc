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
       "case-mismatch, outside-root, file-scheme, invalid-url, orphan, http-error, "
       "unreachable, rate-limited or moved"},
      {{"--disable=missing-file,"}, CommandLineResult::UsageError, "empty value in '--disable'"},
      {{"--exclude=./", "site"},
       CommandLineResult::UsageError,
       "invalid --exclude pattern './': it names no path under ROOT"},
      // The external-link check's values are checked on every run.
      {{"--disable=moved,rate-limited,unreachable,http-error"}, CommandLineResult::Run, ""},
      {{"--accept=200-299,600"},
       CommandLineResult::UsageError,
       "invalid --accept value: '600' in '200-299,600' is not a status from 100 to 599"},
      {{"--cache-age=7w"},
       CommandLineResult::UsageError,
       "invalid --cache-age value: '7w' is not a duration (a whole number and s, m, h or d: "
       "30m, 12h, 7d)"},
      {{"--site-url=ftp://example.org/"},
       CommandLineResult::UsageError,
       "invalid --site-url value: 'ftp://example.org/' is not an http or https URL"},
      {{"--site-url", "https://example.org/?q"},
       CommandLineResult::UsageError,
       "invalid --site-url value: the site URL 'https://example.org/?q' may not have a query or "
       "fragment"},
      {{"--host-concurrency=0"},
       CommandLineResult::UsageError,
       "invalid value '0' for '--host-concurrency': a whole number from 1 to 100000 is needed"},
      {{"--timeout", "2s"},
       CommandLineResult::UsageError,
       "invalid value '2s' for '--timeout': a whole number from 1 to 86400 is needed"},
      {{"--retries=-1"},
       CommandLineResult::UsageError,
       "invalid value '-1' for '--retries': a whole number from 0 to 100 is needed"},
      {{"--header=X-Token"},
       CommandLineResult::UsageError,
       "invalid --header value: 'X-Token' is not a header (NAME:VALUE)"},
      {{"--cache="}, CommandLineResult::UsageError, "option '--cache' needs a value"},
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
  // The external-link check's defaults.
  EXPECT_FALSE(options.external);
  EXPECT_FALSE(options.check.hasSiteUrl);
  EXPECT_EQ(options.links.maxConcurrency, 64u);
  EXPECT_EQ(options.links.hostConcurrency, 4u);
  EXPECT_EQ(options.links.hostIntervalMs, 0u);
  EXPECT_EQ(options.timeoutSeconds, 20u);
  EXPECT_EQ(options.links.retries, 2u);
  EXPECT_EQ(options.links.maxWaitSeconds, 60u);
  EXPECT_EQ(options.links.cacheAgeSeconds, 86400);
  EXPECT_TRUE(options.links.accept.ranges.empty());
  EXPECT_FALSE(options.links.remoteAnchors);
}

TEST(SiteCommandLine, ExternalOptionValues) {
  SiteOptions options;
  std::string error;
  ASSERT_EQ(parse({"--external", "--site-url=HTTPS://Example.org/docs", "--max-concurrency=8",
                   "--host-concurrency", "2", "--host-interval=250", "--timeout=5", "--retries=0",
                   "--max-wait=3", "--accept=200-299,403", "--header=X-A: 1", "--header", "X-B:two",
                   "--user-agent=bot/1", "--insecure", "--cache=links.cache", "--cache-age=12h",
                   "--remote-anchors", "site"},
                  &options, &error),
            CommandLineResult::Run)
      << error;
  EXPECT_TRUE(options.external);
  ASSERT_TRUE(options.check.hasSiteUrl);
  EXPECT_EQ(options.check.siteUrl.base.host, "example.org");
  EXPECT_EQ(options.check.siteUrl.base.path, "/docs/");
  EXPECT_EQ(options.links.maxConcurrency, 8u);
  EXPECT_EQ(options.links.hostConcurrency, 2u);
  EXPECT_EQ(options.links.hostIntervalMs, 250u);
  EXPECT_EQ(options.timeoutSeconds, 5u);
  EXPECT_EQ(options.links.retries, 0u);
  EXPECT_EQ(options.links.maxWaitSeconds, 3u);
  EXPECT_TRUE(acceptsStatus(options.links.accept, 403));
  EXPECT_FALSE(acceptsStatus(options.links.accept, 404));
  ASSERT_EQ(options.headers.size(), 2u);
  EXPECT_EQ(headerLine(options.headers[0]), "X-A: 1");
  EXPECT_EQ(headerLine(options.headers[1]), "X-B: two");
  EXPECT_EQ(options.userAgent, "bot/1");
  EXPECT_TRUE(options.insecure);
  EXPECT_EQ(options.cache, "links.cache");
  EXPECT_EQ(options.links.cacheAgeSeconds, 12 * 3600);
  EXPECT_TRUE(options.links.remoteAnchors);
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
