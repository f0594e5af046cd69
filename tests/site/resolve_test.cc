// Reference resolution over a small tree built in memory, and the globs of
// --exclude and --pages.
#include "site/url/resolve.h"

#include <gtest/gtest.h>

#include "site/walk/glob.h"
#include "test_tree.h"

namespace site {
namespace {

struct Row {
  std::string page, base, ref;
  bool cleanUrls;
  RefKind kind;
  TargetStatus status;
  std::string target;  // for Found and CaseMismatch
};

TEST(Resolve, Table) {
  SiteTree tree =
      makeTree({"index.html", "about.html", "docs/index.html", "docs/guide.html",
                "docs/API/ref.html", "docs/a b.html", "img/Logo.PNG", "a%41.html", "empty/",
                "locked!", ".hidden/secret.html", "Dup/x.html", "dUp/x.html", "dUp/z.html"});
  const RefKind L = RefKind::Local;
  const TargetStatus F = TargetStatus::Found, C = TargetStatus::CaseMismatch,
                     M = TargetStatus::Missing, O = TargetStatus::OutsideRoot,
                     U = TargetStatus::Unknown;
  const Row rows[] = {
      {"docs/guide.html", "", "../about.html", false, L, F, "about.html"},
      {"docs/guide.html", "", "/about.html", false, L, F, "about.html"},
      {"docs/guide.html", "", "", false, L, F, "docs/guide.html"},
      {"docs/guide.html", "", "?q#x", false, L, F, "docs/guide.html"},
      {"docs/guide.html", "", "./", false, L, F, "docs/index.html"},
      {"docs/guide.html", "", "..", false, L, F, "index.html"},
      {"index.html", "", "docs", false, L, F, "docs/index.html"},
      {"index.html", "", "/", false, L, F, "index.html"},
      {"index.html", "", "docs//guide.html", false, L, F, "docs/guide.html"},
      {"index.html", "", "docs\\guide.html", false, L, F, "docs/guide.html"},
      {"index.html", "", "docs/%2E%2E/about.html", false, L, F, "about.html"},
      {"index.html", "", "docs/a%20b.html", false, L, F, "docs/a b.html"},
      {"index.html", "", "a%2541.html", false, L, F, "a%41.html"},
      {"index.html", "", "nothing/../about.html", false, L, F, "about.html"},
      {"index.html", "", ".hidden/secret.html", false, L, F, ".hidden/secret.html"},
      {"index.html", "", "docs%2Fguide.html", false, L, M, ""},
      {"index.html", "", "about.html/", false, L, M, ""},
      {"index.html", "", "empty/", false, L, M, ""},
      {"index.html", "", "about", false, L, M, ""},
      {"index.html", "", "about", true, L, F, "about.html"},
      {"index.html", "", "about/", true, L, F, "about.html"},
      {"index.html", "", "../x.html", false, L, O, ""},
      {"index.html", "", "docs/../../x.html", false, L, O, ""},
      {"index.html", "", "/..", false, L, O, ""},
      {"index.html", "", "locked/x.html", false, L, U, ""},
      {"index.html", "", "docs/api/ref.html", false, L, C, "docs/API/ref.html"},
      {"index.html", "", "IMG/logo.png", false, L, C, "img/Logo.PNG"},
      {"index.html", "", "ABOUT", true, L, C, "about.html"},
      {"index.html", "", "dup/x.html", false, L, C, "Dup/x.html"},
      {"index.html", "", "dup/z.html", false, L, C, "dUp/z.html"},
      {"index.html", "", "Docs/", false, L, C, "docs/index.html"},
      {"index.html", "", "http://example.com/", false, RefKind::External, M, ""},
      {"index.html", "", "HTTPS://example.com/", false, RefKind::External, M, ""},
      {"index.html", "", "//cdn.example.com/x.js", false, RefKind::External, M, ""},
      {"index.html", "", "\\\\host\\share", false, RefKind::External, M, ""},
      {"index.html", "", "mailto:a@example.com", false, RefKind::Ignored, M, ""},
      {"index.html", "", "c:/x.html", false, RefKind::Ignored, M, ""},
      {"index.html", "", "FILE:///c:/x.html", false, RefKind::FileScheme, M, ""},
      {"index.html", "docs/", "guide.html", false, L, F, "docs/guide.html"},
      {"index.html", "docs/", "#x", false, L, F, "docs/index.html"},
      {"index.html", "docs/guide.html", "", false, L, F, "docs/guide.html"},
      {"index.html", "/docs/API/", "../a%20b.html", false, L, F, "docs/a b.html"},
      {"index.html", "../", "about.html", false, L, O, ""},
      {"index.html", "../", "/about.html", false, L, F, "about.html"},
      {"index.html", "http://example.com/", "/about.html", false, RefKind::External, M, ""},
      {"index.html", "mailto:x", "about.html", false, RefKind::Ignored, M, ""},
      // What one page resolved is remembered for the others of its
      // directory, never for a page with a base of its own or elsewhere.
      {"docs/guide.html", "", "index.html", false, L, F, "docs/index.html"},
      {"docs/index.html", "/", "index.html", false, L, F, "index.html"},
      {"docs/index.html", "", "index.html", false, L, F, "docs/index.html"},
      {"index.html", "", "index.html", false, L, F, "index.html"},
      {"docs/API/ref.html", "", "/docs/guide.html", false, L, F, "docs/guide.html"},
      {"index.html", "docs/", "/docs/guide.html", false, L, F, "docs/guide.html"},
  };
  // A scratch serves one tree and one set of options.
  ResolveScratch scratches[2];
  for (const Row& row : rows) {
    ResolveScratch& scratch = scratches[row.cleanUrls ? 1 : 0];
    SCOPED_TRACE(row.page + " base '" + row.base + "' ref '" + row.ref + "'");
    ResolveOptions options;
    options.cleanUrls = row.cleanUrls;
    UrlBase base = makeBase(tree, nodeOf(tree, row.page), !row.base.empty(), row.base);
    std::string cleaned = cleanReference(row.ref);
    Resolution got = resolveReference(tree, options, base, cleaned, &scratch);
    EXPECT_EQ(int(got.kind), int(row.kind));
    if (row.kind != RefKind::Local) continue;
    EXPECT_EQ(int(got.status), int(row.status));
    EXPECT_EQ(got.node == kNoNode ? "" : nodePath(tree, got.node), row.target);
  }
}

TEST(Resolve, CleaningAndFragments) {
  EXPECT_EQ(cleanReference(" \t a\nb\rc\td \f\n"), "abcd");
  // Long ones are searched sixteen bytes at a time: a dropped byte at
  // either end of a block, and runs of them.
  EXPECT_EQ(cleanReference("0123456789abcde\rf0123456789abcd\t\n\r\t0123456789abcdef\n/x.html"),
            "0123456789abcdef0123456789abcd0123456789abcdef/x.html");
  EXPECT_EQ(cleanReference("a b"), "a b");
  struct {
    const char* fragment;
    bool checked;
    const char* written;
    const char* decoded;
  } const rows[] = {
      {"", false, "", ""},
      {"top", false, "", ""},
      {"ToP", false, "", ""},
      {"%74op", false, "", ""},
      {":~:text=x", false, "", ""},
      {"sec", true, "sec", "sec"},
      {"a%20b", true, "a%20b", "a b"},
      {"sec:~:text=x", true, "sec", "sec"},
      {"impl-From%3CT%3E:~:text=x", true, "impl-From%3CT%3E", "impl-From<T>"},
      {"caf%C3%A9", true, "caf%C3%A9", "caf\xC3\xA9"},
      {"100%", true, "100%", "100%"},
  };
  for (const auto& row : rows) {
    std::string_view written;
    std::string decoded;
    EXPECT_EQ(anchorToCheck(row.fragment, &written, &decoded), row.checked) << row.fragment;
    if (row.checked) {
      EXPECT_EQ(written, row.written) << row.fragment;
      EXPECT_EQ(decoded, row.decoded) << row.fragment;
    }
  }
}

TEST(Resolve, ValidAuthority) {
  struct {
    const char* reference;
    bool valid;
  } const rows[] = {
      {"https://example.com:8080/x", true},
      {"http://[::1]/", true},
      {"//cdn.example.com/a.js", true},
      {"http://user@host/", true},
      {"http://a@b@c/", true},
      {"HTTP://Example.COM", true},
      {"http://host:/", true},
      {"http://host:065535?q", true},
      {"\\\\host\\share", true},
      {"http:\\\\\\host#x", true},
      {"http:example.com", true},
      {"http://caf%C3%A9.example/", true},
      {"http://[2001:db8::1]:443/", true},
      {"http://[1:2:3:4:5:6:7:8]/", true},
      {"http://[1:2:3:4:5:6:1.2.3.4]/", true},
      {"mailto:a b", true},
      {"a b/<c>.html", true},
      {"http://<servername>/my-new-repo.git", false},
      {"https:", false},
      {"//", false},
      {"http://user@/", false},
      {"http://:80/", false},
      {"http://a b/", false},
      {"http://a%2Fb/", false},
      {"http://a%zz/", false},
      {"http://a^b/", false},
      {"http://a\x01b/", false},
      {"http://a[b]/", false},
      {"http://[::1/", false},
      {"http://[::1]x/", false},
      {"http://[]/", false},
      {"http://[1:2:3:4:5:6:7]/", false},
      {"http://[1:2:3:4:5:6:7:8:9]/", false},
      {"http://[1::2::3]/", false},
      {"http://[12345::]/", false},
      {"http://[:1]/", false},
      {"http://[1:]/", false},
      {"http://[::1.2.3.04]/", false},
      {"http://[::256.0.0.1]/", false},
      {"http://[::1.2.3]/", false},
      {"http://[1:2:3:4:5:6:7:1.2.3.4]/", false},
      {"http://host:65536/", false},
      {"http://host:99999999999999999999/", false},
      {"http://host:8o/", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(hasValidAuthority(row.reference), row.valid) << row.reference;
  }
}

TEST(Glob, Table) {
  struct {
    const char* glob;
    const char* text;
    bool ignoreCase;
    bool matches;
  } const rows[] = {
      {"*.html", "a.html", false, true},
      {"*.html", "d/a.html", false, false},
      {"*.html", "A.HTML", true, true},
      {"*.html", "A.HTML", false, false},
      {"**/x", "x", false, true},
      {"**/x", "a/b/x", false, true},
      {"**/x", "ax", false, false},
      {"a/**/b", "a/b", false, true},
      {"a/**/b", "a/x/y/b", false, true},
      {"a/**", "a/x/y", false, true},
      {"a/*", "a/x/y", false, false},
      {"a?c", "abc", false, true},
      {"a?c", "a/c", false, false},
      {"**", "", false, true},
      {"drafts", "drafts", false, true},
      {"drafts", "drafts/x.html", false, false},
      {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(globMatches(row.glob, row.text, row.ignoreCase), row.matches)
        << row.glob << " ~ " << row.text;
  }
}

}  // namespace
}  // namespace site
