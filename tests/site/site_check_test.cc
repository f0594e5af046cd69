// The checks over small sites held in memory: each page extracted and
// checked in several orders, as worker threads might take them, then the
// second pass and the report. Every order must give the same report.
#include "site/check/site_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "test_tree.h"

namespace site {
namespace {

struct SiteFile {
  std::string path;
  std::string content;
};

// The report as "PATH:LINE:COLUMN: KIND: MESSAGE" lines (an orphan:
// "PATH: orphan"), then one line of counts.
std::string describe(const SiteReport& report) {
  std::string out;
  for (FindingCursor cursor{&report}; nextFinding(&cursor);) {
    const Finding& f = cursor.finding;
    out += f.path;
    if (f.kind != FindingKind::Orphan) {
      out += ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
             kindName(f.kind) + ": " + f.message + "\n";
    } else {
      out += ": orphan\n";
    }
  }
  const Summary& s = report.summary;
  out += "references " + std::to_string(s.references) + ", external " + std::to_string(s.external) +
         ", ignored " + std::to_string(s.ignored) + ", errors " + std::to_string(s.errors) +
         ", warnings " + std::to_string(s.warnings) + "\n";
  return out;
}

// Checks the site with the files read in the given order (indexes into
// the walked files, sorted by path), as the run does: one pass over each,
// then the second pass over each.
std::string checkSite(const std::vector<SiteFile>& site, const CheckOptions& options,
                      unsigned seed) {
  std::vector<std::string> paths;
  for (const SiteFile& file : site) paths.push_back(file.path);
  SiteTree tree = makeTree(paths);
  std::vector<std::pair<std::string, uint32_t>> byPath;
  for (uint32_t i = 1; i < tree.nodes.size(); ++i) {
    if (!tree.nodes[i].directory && tree.nodes[i].walked) byPath.emplace_back(nodePath(tree, i), i);
  }
  std::sort(byPath.begin(), byPath.end());
  std::vector<WalkedFile> files;
  for (const auto& [path, node] : byPath) files.push_back({node});
  CheckContext context;
  initCheckContext(tree, files, options, &context);
  std::vector<size_t> order(files.size());
  std::iota(order.begin(), order.end(), 0);
  if (seed == 1) std::reverse(order.begin(), order.end());
  if (seed > 1) std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  ResolveScratch scratch;
  for (size_t i : order) {
    const NodeRole role = tree.nodes[files[i].node].role;
    if (role == NodeRole::Other) continue;
    std::string content;
    for (const SiteFile& file : site) {
      if (file.path == nodePath(tree, files[i].node)) content = file.content;
    }
    if (content == "UNREADABLE") {
      markUnreadable(context, i, "Permission denied");
      continue;
    }
    // As a run reads it: in pieces (here of 5 bytes), each reference
    // checked as it is found.
    PageExtractor extractor;
    startExtraction(extractor, role != NodeRole::Page);
    FileCheck check;
    beginFileCheck(context, i, &check);
    const ReferenceSink sink = [&](std::string_view value, TextPosition at) {
      if (!check.baseKnown && extractor.links.hasBase) {
        setFileBase(context, check, true, extractor.links.base, &scratch);
      }
      checkReference(context, check, value, at.line, at.column, &scratch);
    };
    for (size_t at = 0; at < content.size(); at += 5) {
      extractPiece(extractor, std::string_view(content).substr(at, 5), sink);
    }
    finishExtraction(extractor, sink);
    endFileCheck(context, check, extractor.links, &scratch);
  }
  for (size_t i : order) checkPendingAnchors(context, i);
  return describe(finishReport(context));
}

// A page that redirects at once to url.
std::string stub(const std::string& url) {
  return "<meta http-equiv=refresh content=\"0; url=" + url + "\">";
}

// Redirect pages of every sort, linked with fragments from index.html, one
// a line; r1 to r9 lead one to the next and on to end.html.
std::vector<SiteFile> redirectSite() {
  std::vector<SiteFile> site = {
      {"index.html",
       "<a href=\"stub.html#target\">\n<a href=\"stub.html#gone\">\n<a href=\"chain1.html#deep\">\n"
       "<a href=\"loopa.html#x\">\n<a href=\"slow.html#x\">\n<a href=\"tomissing.html#x\">\n"
       "<a href=\"withfrag.html#x\">\n<a href=\"tocase.html#target\">\n"
       "<a href=\"tohidden.html#x\">\n<a href=\"r1.html#e\">\n<a href=\"r2.html#nope\">\n"},
      {"real.html", "<p id=target>"},
      {"stub.html", stub("real.html")},
      {"chain1.html", stub("chain2.html")},
      {"chain2.html", "<meta http-equiv=refresh content=\"0; url=/\"><p id=deep>"},
      {"loopa.html", stub("loopb.html")},
      {"loopb.html", stub("loopa.html")},
      {"slow.html", "<meta http-equiv=refresh content=\"5; url=real.html\">"},
      {"tomissing.html", stub("nothing.html")},
      {"withfrag.html", stub("real.html#target")},
      {"tocase.html", stub("REAL.html")},
      {"tohidden.html", stub(".hidden/p.html")},
      {".hidden/p.html", ""},
      {"end.html", "<p id=e>"},
  };
  for (int i = 1; i <= 9; ++i) {
    site.push_back({"r" + std::to_string(i) + ".html",
                    stub(i < 9 ? "r" + std::to_string(i + 1) + ".html" : "end.html")});
  }
  return site;
}

struct Row {
  const char* what;
  std::vector<SiteFile> site;
  std::string report;
  std::vector<std::string> ignore = {};
  std::vector<FindingKind> disable = {};
};

TEST(SiteCheck, Table) {
  const Row rows[] = {
      // A fragment is found as written, else percent-decoded; the message
      // names it decoded.
      {"fragments",
       {{"index.html",
         "<a href=\"a.html#impl-From%3CT%3E\"><a href=\"a.html#x%20y\">"
         "<a href=\"a.html#caf%C3%A9\"><a href=\"a.html#no%3Cpe\">"
         "<a href=\"a.html#%74op\"><a href=\"a.html#:~:text=z\"><a href=\"a.html#sec:~:text=z\">"
         "<a href=\"a.html#pct%25\">"},
        {"a.html",
         "<p id=\"impl-From%3CT%3E\"><p id=\"x y\"><p id=\"caf&#xE9;\"><p id=\"sec\">"
         "<p id=\"pct%\">"}},
       "index.html:1:94: missing-anchor: 'a.html#no%3Cpe': a.html has no anchor 'no<pe'\n"
       "references 8, external 0, ignored 0, errors 1, warnings 0\n"},
      // A fragment whose page is read later waits with the names its page's
      // path gives back left out of its text: each message spells the
      // reference as written, however its path is spelled.
      {"waiting fragments",
       {{"index.html",
         "<a href=\"/docs/a.html#no\"><a href=\"docs/#no\"><a href=\"./docs/./a.html#no\">"
         "<a href=\"docs/a.html?q=a.html#no\"><a href=\"%64ocs/a.html#no\">"
         "<a href=\"docs//a.html#no\"><a href=\"a.html#no\"><a href=\"docs/#top\">"},
        {"docs/a.html", "<a href=\"../index.html#n\"><a href=\"/index.html#n\"><a href=\"./#n\">"},
        {"docs/index.html", "<a href=\"../sub/#n\"><a href=\"../sub/deep/?a#n\">"},
        {"sub/index.html", "<p id=n>"},
        {"sub/deep/index.html", ""}},
       "docs/a.html:1:10: missing-anchor: '../index.html#n': index.html has no anchor 'n'\n"
       "docs/a.html:1:36: missing-anchor: '/index.html#n': index.html has no anchor 'n'\n"
       "docs/a.html:1:60: missing-anchor: './#n': docs/index.html has no anchor 'n'\n"
       "docs/index.html:1:30: missing-anchor: '../sub/deep/?a#n': sub/deep/index.html has no "
       "anchor 'n'\n"
       "index.html:1:10: missing-anchor: '/docs/a.html#no': docs/a.html has no anchor 'no'\n"
       "index.html:1:36: missing-anchor: 'docs/#no': docs/index.html has no anchor 'no'\n"
       "index.html:1:55: missing-anchor: './docs/./a.html#no': docs/a.html has no anchor 'no'\n"
       "index.html:1:84: missing-anchor: 'docs/a.html?q=a.html#no': docs/a.html has no anchor "
       "'no'\n"
       "index.html:1:118: missing-anchor: '%64ocs/a.html#no': docs/a.html has no anchor 'no'\n"
       "index.html:1:145: missing-anchor: 'docs//a.html#no': docs/a.html has no anchor 'no'\n"
       "index.html:1:171: missing-file: 'a.html#no' not found\n"
       "references 13, external 0, ignored 0, errors 11, warnings 0\n"},
      // A fragment is looked for where redirect pages lead, through eight of
      // them at most; a loop, or a page that is not read, leaves it unchecked.
      {"redirects", redirectSite(),
       "index.html:2:10: missing-anchor: 'stub.html#gone': real.html has no anchor 'gone'\n"
       "index.html:3:10: missing-anchor: 'chain1.html#deep': index.html has no anchor 'deep'\n"
       "index.html:5:10: missing-anchor: 'slow.html#x': slow.html has no anchor 'x'\n"
       "index.html:6:10: missing-anchor: 'tomissing.html#x': tomissing.html has no anchor 'x'\n"
       "index.html:7:10: missing-anchor: 'withfrag.html#x': withfrag.html has no anchor 'x'\n"
       "index.html:11:10: missing-anchor: 'r2.html#nope': end.html has no anchor 'nope'\n"
       "tocase.html:1:35: case-mismatch: 'REAL.html' differs in letter case from the stored "
       "'real.html'\n"
       "tomissing.html:1:35: missing-file: 'nothing.html' not found\n"
       "references 30, external 0, ignored 0, errors 8, warnings 0\n"},
      // The first base counts for the references before it too; a
      // fragment aimed at the page itself is looked for once the whole page
      // is read.
      {"late base",
       {{"index.html",
         "<a href=\"x.html#in\"><a href=\"#self\"><a href=\"#nope\">\n"
         "<base href=\"sub/\"><base href=\"other/\"><p id=self>"},
        {"sub/x.html", "<p id=in>"},
        {"sub/index.html", "<p id=self>"},
        {"self.html", "<a href=\"#here\"><a href=\"#gone\"><a href=\"index.html\"><p id=here>"}},
       "index.html:1:46: missing-anchor: '#nope': sub/index.html has no anchor 'nope'\n"
       "self.html: orphan\n"
       "self.html:1:26: missing-anchor: '#gone': self.html has no anchor 'gone'\n"
       "references 6, external 0, ignored 0, errors 2, warnings 1\n"},
      // A web address whose host no browser takes; still counted external.
      // A relative reference under a web base has that base's host.
      {"invalid-url",
       {{"index.html",
         "<a href=\" http://&lt;servername&gt;/my-new-repo.git\">\n<a href=\"//cdn.example.com/a\">"
         "<a href=\"https://example.com:99999/\"><a href=\"mailto:a b\">"},
        {"b.html", "<base href=\"https://example.com/\"><a href=\"x y/<z>\"><a href=\"//a b/\">"}},
       "b.html: orphan\n"
       "b.html:1:62: invalid-url: '//a b/' is not a valid URL\n"
       "index.html:1:10: invalid-url: 'http://<servername>/my-new-repo.git' is not a valid URL\n"
       "index.html:2:40: invalid-url: 'https://example.com:99999/' is not a valid URL\n"
       "references 6, external 5, ignored 0, errors 3, warnings 1\n"},
      // An ignored reference is matched as messages write it, is neither
      // judged nor reported, and still keeps its target from being an
      // orphan; it counts among the references (and external ones).
      {"ignore",
       {{"index.html",
         "<a href=\"old/x.html\"><a href=\"a.html#nope\"><a href=\"http://bad host/\">"
         "<a href=\"B.html#nope\"><a href=\"file:///x\"><a href=\"a%20b.html\">"
         "<a href=\"c.html?a=1&amp;b\"><a href=\" gone2\t.html \"><a href=\"gone.html\">"},
        {"a.html", ""},
        {"b.html", ""},
        {"c.html", "<a href=\"../x.html\">"}},
       "index.html:1:194: missing-file: 'gone.html' not found\n"
       "references 10, external 1, ignored 9, errors 1, warnings 0\n",
       {"^old/", "#nope$", "bad host", "^file:", "a%20b", "a=1&b$", "^gone2\\.html$", "^\\.\\./"}},
      // A disabled kind is not made and counts for nothing; orphans among
      // them are orphans off.
      {"disable",
       {{"index.html",
         "<a href=\"a.html#nope\"><a href=\"A.html#nope\"><a href=\"file:///x\">"
         "<a href=\"gone.html\"><a href=\"stub.html#nope\">"},
        {"a.html", ""},
        {"stub.html", "<meta http-equiv=refresh content=\"0; url=a.html\">"},
        {"lonely.html", ""}},
       "index.html:1:74: missing-file: 'gone.html' not found\n"
       "references 6, external 0, ignored 0, errors 1, warnings 0\n",
       {},
       {FindingKind::MissingAnchor, FindingKind::Orphan, FindingKind::FileScheme,
        FindingKind::CaseMismatch}},
      {"disable some",
       {{"index.html",
         "<a href=\"A.html#nope\"><a href=\"stub.html#nope\"><a href=\"http://a b/\">"},
        {"a.html", ""},
        {"stub.html", "<meta http-equiv=refresh content=\"0; url=a.html\">"},
        {"lonely.html", ""}},
       "index.html:1:10: missing-anchor: 'A.html#nope': a.html has no anchor 'nope'\n"
       "index.html:1:32: missing-anchor: 'stub.html#nope': a.html has no anchor 'nope'\n"
       "references 4, external 1, ignored 0, errors 2, warnings 0\n",
       {},
       {FindingKind::InvalidUrl, FindingKind::CaseMismatch, FindingKind::Orphan}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CheckOptions options;
    std::string error;
    ASSERT_TRUE(options.ignore->compile(row.ignore, &error)) << error;
    for (FindingKind kind : row.disable) options.disabledKinds |= 1u << unsigned(kind);
    for (unsigned seed : {0u, 1u, 2u, 3u, 4u}) {
      SCOPED_TRACE("order " + std::to_string(seed));
      EXPECT_EQ(checkSite(row.site, options, seed), row.report);
    }
  }
}

// A page's anchors are packed with two-byte ends, or four once their bytes
// pass 64 KiB; either way a look-up finds each anchor and nothing else.
TEST(SiteCheck, AnchorSetFindsExactlyItsAnchors) {
  std::vector<std::string> many;
  for (int i = 0; i < 2000; ++i)
    many.push_back("id-" + std::to_string(1000 + i) + std::string(40, 'x'));
  const struct {
    std::vector<std::string> anchors;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } rows[] = {
      {{"b", "a", "ab", "a", ""}, {"a", "ab", "b", ""}, {"aa", "c", "A", "ab "}},
      // Alike in their first eight bytes, shorter, with a zero byte or a
      // high one there.
      {{"method.pop", "method.push", "method", std::string("method\0\0", 8), "method.\xFF",
        "method.p", "method.pop"},
       {"method", std::string("method\0\0", 8), "method.p", "method.pop", "method.push",
        "method.\xFF"},
       {std::string("method\0", 7), "method.", "method.po", "method.pu"}},
      {many,
       {many.front(), many[999], many.back()},
       {"id-1000", "id-3000" + std::string(40, 'x'), ""}},
      {{}, {}, {"", "a"}},
  };
  for (const auto& row : rows) {
    AnchorSet set;
    set.assign(row.anchors);
    for (const std::string& anchor : row.present) EXPECT_TRUE(set.contains(anchor)) << anchor;
    for (const std::string& anchor : row.absent) EXPECT_FALSE(set.contains(anchor)) << anchor;
  }
}

}  // namespace
}  // namespace site
