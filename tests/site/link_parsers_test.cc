// The pieces under the external-link scheduler: URLs in their normal
// spelling, redirects' Locations, the site's own address, the option
// parsers, Retry-After, the streamed anchor finder (held against the page
// extraction) and the cache file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/file_system.h"
#include "site/extract/page_links.h"
#include "site/net/anchor_finder.h"
#include "site/net/http_answer.h"
#include "site/net/link_cache.h"
#include "site/net/link_options.h"
#include "site/net/web_url.h"

namespace site {
namespace {

namespace fs = std::filesystem;

TEST(WebUrl, ParsesIntoOneSpelling) {
  struct Row {
    std::string text, defaultScheme, key;  // key "" : not a URL
  };
  const std::vector<Row> rows = {
      {"http://Example.COM/a/./b/../c", "", "http://example.com/a/c"},
      {"HTTPS://example.com:443", "", "https://example.com/"},
      {"http://example.com:8080/x?q=a b#frag", "", "http://example.com:8080/x?q=a%20b"},
      {"http:\\\\example.com\\a\\b", "", "http://example.com/a/b"},
      {"http:///example.com/x", "", "http://example.com/x"},
      {"//cdn.test/lib.js", "https", "https://cdn.test/lib.js"},
      {"//cdn.test/lib.js", "", ""},
      {"http://example.com/%2e%2E/a/%2e/b/..", "", "http://example.com/a/"},
      {"http://example.com/caf\xC3\xA9 \"x\"{}", "",
       "http://example.com/caf%C3%A9%20%22x%22%7B%7D"},
      {"http://example.com/100%/x?'a'", "", "http://example.com/100%/x?%27a%27"},
      {"http://user:pw@example.com", "", "http://user:pw@example.com/"},
      {"http://ex%41mple.com:/", "", "http://example.com/"},
      {"http://[::1]:8080/x", "", "http://[::1]:8080/x"},
      {"http://<servername>/my-new-repo.git", "", ""},
      {"http://ex ample.com/", "", ""},
      {"http://ex%20ample.com/", "", ""},
      {"http://example.com:99999/", "", ""},
      {"http://example.com:8x/", "", ""},
      {"http://[::1/x", "", ""},
      {"http://", "", ""},
      {"ftp://example.com/", "", ""},
      {"mailto:someone@example.com", "", ""},
  };
  for (const Row& row : rows) {
    WebUrl url;
    const bool parsed = parseWebUrl(row.text, &url, row.defaultScheme);
    EXPECT_EQ(parsed ? webUrlKey(url) : "", row.key) << row.text;
  }
  WebUrl url;
  ASSERT_TRUE(parseWebUrl("HTTPS://Example.com/x#Frag%20", &url));
  EXPECT_EQ(webHostKey(url), "https://example.com:443");
  EXPECT_TRUE(url.hasFragment);
  EXPECT_EQ(url.fragment, "Frag%20");
}

TEST(WebUrl, ResolvesLocationsAgainstTheUrlThatSentThem) {
  WebUrl base;
  ASSERT_TRUE(parseWebUrl("http://a.test/dir/page?x", &base));
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/root", "http://a.test/root"},
      {"other", "http://a.test/dir/other"},
      {"../up/./x", "http://a.test/up/x"},
      {"?q", "http://a.test/dir/page?q"},
      {"", "http://a.test/dir/page?x"},
      {"#f", "http://a.test/dir/page?x"},
      {"//b.test/x", "http://b.test/x"},
      {"https://C.test", "https://c.test/"},
      {" /spaced\r\n", "http://a.test/spaced"},
      {"mailto:x@y", ""},
      {"//", ""},
  };
  for (const auto& [reference, expected] : rows) {
    WebUrl resolved;
    const bool ok = resolveWebUrl(base, reference, &resolved);
    EXPECT_EQ(ok ? webUrlKey(resolved) : "", expected) << reference;
  }
}

TEST(WebUrl, SiteUrlMakesItsReferencesLocal) {
  SiteUrl site;
  std::string error;
  EXPECT_FALSE(parseSiteUrl("example.org/docs", &site, &error));
  EXPECT_EQ(error, "'example.org/docs' is not an http or https URL");
  EXPECT_FALSE(parseSiteUrl("https://example.org/?page=1", &site, &error));
  ASSERT_TRUE(parseSiteUrl("https://Example.org/docs", &site, &error)) << error;
  EXPECT_EQ(site.base.path, "/docs/");
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"https://example.org/docs/a/b.html#x", "/a/b.html#x"},
      {"http://EXAMPLE.org/docs/a?q=1", "/a?q=1"},
      {"//example.org/docs/", "/"},
      {"https://example.org/docs", "/"},
      {"https://example.org:443/docs/a%20b.html", "/a%20b.html"},
      {"https://example.org/docs/../x", "-"},
      {"https://example.org/docsmore/x", "-"},
      {"https://example.org/other/", "-"},
      {"https://example.org:8443/docs/x", "-"},
      {"https://other.org/docs/x", "-"},
      {"mailto:docs@example.org", "-"},
  };
  for (const auto& [reference, expected] : rows) {
    std::string local = "-";
    if (!siteLocalReference(site, reference, &local)) local = "-";
    EXPECT_EQ(local, expected) << reference;
  }
}

TEST(LinkOptions, ParsersTakeGoodValuesAndNameBadOnes) {
  AcceptList accept;
  std::string error;
  ASSERT_TRUE(parseAcceptList("200-299,403", &accept, &error)) << error;
  for (const int good : {200, 250, 299, 403}) EXPECT_TRUE(acceptsStatus(accept, good)) << good;
  for (const int bad : {199, 300, 404}) EXPECT_FALSE(acceptsStatus(accept, bad)) << bad;
  for (const char* bad : {"", "200-", "abc", "200-100", "99", "600", "200,,300", "200 - 299"}) {
    error.clear();
    EXPECT_FALSE(parseAcceptList(bad, &accept, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_TRUE(acceptsStatus(accept, 403));  // a failed parse leaves the list alone

  const std::vector<std::pair<std::string, int64_t>> durations = {
      {"30m", 1800}, {"12h", 43200}, {"7d", 604800}, {"90s", 90}, {"0d", 0}};
  for (const auto& [text, seconds] : durations) {
    int64_t parsed = -1;
    EXPECT_TRUE(parseDuration(text, &parsed, &error)) << text;
    EXPECT_EQ(parsed, seconds) << text;
  }
  for (const char* bad : {"", "30", "m", "1y", "-1d", "1.5h", "99999999999999d", "40000d"}) {
    int64_t parsed = 0;
    EXPECT_FALSE(parseDuration(bad, &parsed, &error)) << bad;
  }

  HeaderOption header;
  ASSERT_TRUE(parseHeaderOption("X-Token:  abc def ", &header, &error)) << error;
  EXPECT_EQ(headerLine(header), "X-Token: abc def");
  ASSERT_TRUE(parseHeaderOption("Accept:text/html", &header, &error)) << error;
  EXPECT_EQ(headerLine(header), "Accept: text/html");
  for (const char* bad : {":v", "No colon", "Bad Name: x", "X: a\r\nEvil: b", "X: \x7F"}) {
    EXPECT_FALSE(parseHeaderOption(bad, &header, &error)) << bad;
  }
}

TEST(HttpAnswer, RetryAfterInSecondsOrAsAnyHttpDate) {
  constexpr int64_t kNow = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT
  const std::vector<std::pair<std::string, int64_t>> rows = {
      {"120", 120},
      {" 0 ", 0},
      {"Tue, 14 Nov 2023 22:13:25 GMT", 5},
      {"Tuesday, 14-Nov-23 22:13:25 GMT", 5},
      {"Tue Nov 14 22:13:25 2023", 5},
      {"Wed, 15 Nov 2023 00:00:00 GMT", 6400},
      {"Sun, 06 Nov 1994 08:49:37 GMT", 0},  // past
      {"soon", -1},
      {"12abc", -1},
      {"", -1},
      {"Tue, 14 Nov 2023 22:13:25 CET", -1},
      {"Tue, 31 Foo 2023 22:13:25 GMT", -1},
  };
  for (const auto& [value, wait] : rows) {
    int64_t parsed = -1;
    if (!parseRetryAfter(value, kNow, &parsed)) parsed = -1;
    EXPECT_EQ(parsed, wait) << value;
  }
  int64_t when = 0;
  ASSERT_TRUE(parseHttpDate("Sun Nov  6 08:49:37 1994", &when));
  EXPECT_EQ(when, 784111777);
  EXPECT_STREQ(statusReasonPhrase(404), "Not Found");
  EXPECT_STREQ(statusReasonPhrase(429), "Too Many Requests");
  EXPECT_STREQ(statusReasonPhrase(299), "");
}

// A page with every place an anchor can hide or seem to: comments, raw
// text, quoted '>', character references, SVG, a long comment, a BOM.
std::string trickyPage() {
  std::string page = "\xEF\xBB\xBF<!doctype html><html><head><title><p id=intitle></title>";
  page += "<script>var s = '<p id=inscript>';</script><style>p{}</style></head><body>";
  page += "<div id=\"a&amp;b\" title='x > y'>t</div><!-- <p id=incomment> -->";
  page += "<a name=named href=x>n</a><div name=notanchor></div><p ID=Upper>";
  page += "<!--" + std::string(10000, '-') + "<p id=inlongcomment> -->";
  page += "<svg><![CDATA[<p id=incdata>]]><a id=svglink/></svg><textarea><p id=intext></textarea>";
  page += "<p id=caf\xC3\xA9><p id='with space'><p id=dup><p id=dup><p id=\"\">";
  page += "<p id=last";  // cut off by the end: not a tag
  return page;
}

std::vector<std::string> extractedAnchors(const std::string& page) {
  std::vector<std::string> anchors = extractHtml(page).anchors;
  std::sort(anchors.begin(), anchors.end());
  anchors.erase(std::unique(anchors.begin(), anchors.end()), anchors.end());
  return anchors;
}

TEST(AnchorFinder, StreamedPiecesFindWhatThePageExtractionFinds) {
  const std::string page = trickyPage();
  const std::vector<std::string> expected = extractedAnchors(page);
  // Nothing from comments, raw text, CDATA or a cut-off tag.
  ASSERT_EQ(expected, (std::vector<std::string>{"Upper", "a&b", "caf\xC3\xA9", "dup", "named",
                                                "svglink/", "with space"}));
  for (const size_t piece : {size_t(1), size_t(2), size_t(7), size_t(4096), page.size()}) {
    AnchorFinder finder;
    startAnchorFinder(&finder, {}, true);
    for (size_t at = 0; at < page.size(); at += piece) {
      ASSERT_TRUE(feedAnchorFinder(finder, std::string_view(page).substr(at, piece)));
    }
    finishAnchorFinder(finder);
    EXPECT_EQ(finder.anchors, expected) << "pieces of " << piece;
  }
}

TEST(AnchorFinder, StopsAtTheAnchorsAskedForAndAtTheCap) {
  const std::string page = "<p id=first>" + std::string(100000, 'x') + "<p id=second>";
  AnchorFinder finder;
  startAnchorFinder(&finder, {"first", "top", ":~:text=x", ""}, false);
  ASSERT_EQ(finder.wanted.size(), 1u);
  size_t fed = 0;
  while (fed < page.size() && feedAnchorFinder(finder, std::string_view(page).substr(fed, 1000))) {
    fed += 1000;
  }
  EXPECT_TRUE(finder.allFound);
  EXPECT_LT(fed, 10000u);

  finder = AnchorFinder();
  finder.maxBytes = 50000;
  startAnchorFinder(&finder, {"second"}, false);
  EXPECT_FALSE(feedAnchorFinder(finder, page));
  EXPECT_TRUE(finder.capped);
  EXPECT_EQ(finder.bytesSeen, 50000u);
  finishAnchorFinder(finder);
  EXPECT_EQ(finder.anchors, std::vector<std::string>{"first"});

  finder = AnchorFinder();
  startAnchorFinder(&finder, {"x"}, false);
  EXPECT_FALSE(feedAnchorFinder(finder, std::string("\xFF\xFE<\0p\0", 6)));
  EXPECT_TRUE(finder.utf16);
}

TEST(AnchorFinder, AFragmentMatchesAsWrittenOrPercentDecoded) {
  const std::vector<std::string> anchors = {"100%", "a b", "caf\xC3\xA9", "sec"};
  for (const char* found : {"a%20b", "caf%C3%A9", "100%", "sec:~:text=x", ":~:text=x", "", "TOP"}) {
    EXPECT_TRUE(anchorsHaveFragment(anchors, found)) << found;
  }
  for (const char* missing : {"a+b", "Sec", "cafe", "nope:~:text=sec"}) {
    EXPECT_FALSE(anchorsHaveFragment(anchors, missing)) << missing;
  }
}

TEST(LinkCache, ReadsWhatItWritesAndRefusesWhatItDidNot) {
  const fs::path dir =
      fs::temp_directory_path() / ("tangler-site-cache-" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const std::string path = (dir / "links.cache").string();
  FileSystem fileSystem;
  LinkCache cache;
  std::string error;
  ASSERT_TRUE(readLinkCache(fileSystem, path, &cache, &error)) << error;  // none yet
  EXPECT_TRUE(cache.checkedAt.empty());

  cache.checkedAt = {{"https://b.test/", 1700000000}, {"http://a.test/x?q=%20", 1690000000}};
  ASSERT_TRUE(writeLinkCache(path, cache, &error)) << error;
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(),
            "tangler-site link cache 1\n1690000000 http://a.test/x?q=%20\n"
            "1700000000 https://b.test/\n");
  LinkCache read;
  ASSERT_TRUE(readLinkCache(fileSystem, path, &read, &error)) << error;
  EXPECT_EQ(read.checkedAt, cache.checkedAt);
  // Nothing but the cache is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  EXPECT_TRUE(freshInLinkCache(read, "https://b.test/", 1700000000 + 59, 60));
  EXPECT_FALSE(freshInLinkCache(read, "https://b.test/", 1700000000 + 60, 60));
  EXPECT_FALSE(freshInLinkCache(read, "https://b.test/", 1700000000 - 1, 60));
  EXPECT_FALSE(freshInLinkCache(read, "https://c.test/", 1700000000, 60));

  for (const auto& [bad, why] : std::vector<std::pair<std::string, std::string>>{
           {"", "it is empty"},
           {"<html>\n", "it is not a tangler-site link cache"},
           {"tangler-site link cache 1\n1 http://a.test/\nsoon http://b.test/\n",
            "line 3 is not a time and a URL"},
           {"tangler-site link cache 1\n1\n", "line 2 is not a time and a URL"}}) {
    std::ofstream(path, std::ios::binary) << bad;
    EXPECT_FALSE(readLinkCache(fileSystem, path, &read, &error)) << bad;
    EXPECT_EQ(error, why);
    EXPECT_TRUE(read.checkedAt.empty());
  }
  // A cache that cannot be replaced (its directory is gone) says why.
  fs::remove_all(dir);
  EXPECT_FALSE(writeLinkCache(path, cache, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace site
