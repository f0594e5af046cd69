#include "site/extract/page_links.h"

#include <gtest/gtest.h>

#include <string>

namespace site {
namespace {

// "value value | anchors: a b | base: x" (base "-" when there is none), or
// with places, "line:column value".
std::string describe(const PageLinks& links, bool withPlaces) {
  std::string out;
  for (const ExtractedReference& r : links.references) {
    if (!out.empty()) out += " ";
    if (withPlaces) out += std::to_string(r.line) + ":" + std::to_string(r.column) + " ";
    out += r.value;
  }
  if (withPlaces) return out;
  out += " | anchors:";
  for (const std::string& anchor : links.anchors) out += " " + anchor;
  out += " | base: " + (links.hasBase ? links.base : std::string("-"));
  return out;
}

TEST(ExtractHtml, WhatIsTaken) {
  struct Row {
    std::string_view page;
    std::string_view links;
  } rows[] = {
      {"<a href=a1 name=n id=i><area href=a2><link rel=icon href=a3>",
       "a1 a2 a3 | anchors: n i | base: -"},
      {"<img src=1><script src=2></script><iframe src=3></iframe><frame src=4><embed src=5>"
       "<source src=6><track src=7><audio src=8><video src=9 poster=10><input src=11>",
       "1 2 3 4 5 6 7 8 9 10 11 | anchors: | base: -"},
      {"<object data=1><body background=2><table background=3><td background=4><th background=5>",
       "1 2 3 4 5 | anchors: | base: -"},
      // Attributes that name nothing on these elements.
      {"<div src=x href=y data=z background=w><img href=x><link src=x><use href=x><p name=x>",
       " | anchors: | base: -"},
      {"<a href=\"?a=1&amp;b=&lt;2&gt;\" id=\"t&amp;c\"><p id=\"\">",
       "?a=1&b=<2> | anchors: t&c | base: -"},
      {"<img srcset=\"a.png 1x, b.png 2x,c.png,, d(1).png 100w, e.png (x, y) 3x, f.png\">",
       "a.png b.png c.png d(1).png e.png f.png | anchors: | base: -"},
      {"<source srcset=\"data:image/png;base64,AA 1x ,x.webp\"><div srcset=no>",
       "data:image/png;base64,AA x.webp | anchors: | base: -"},
      {"<image src=x srcset=y>", "x y | anchors: | base: -"},
      // Meta refresh, read as browsers read it.
      {"<meta http-equiv=\"Refresh\" content=\"0; URL='next.html'\">",
       "next.html | anchors: | base: -"},
      {"<meta content=\"3;url=a b.html\" http-equiv=refresh><meta http-equiv=refresh content=5>",
       "a b.html | anchors: | base: -"},
      {"<meta http-equiv=refresh content=\"0, 'q.html' x\"><meta http-equiv=refresh content=\".5 "
       "urlx\"><meta http-equiv=refresh content='1 url = \"u\"'>",
       "q.html urlx u | anchors: | base: -"},
      {"<meta http-equiv=refresh content=\"x; url=y\"><meta name=refresh content=\"0;url=z\">",
       " | anchors: | base: -"},
      // SVG: href wins over xlink:href; xlink:href, use and image only there.
      {"<svg><a xlink:href=1 href=2 /><use xlink:href=3 /><image href=4 xlink:href=5 /></svg>"
       "<a xlink:href=6 href=7><use href=8><image src=9 href=10>",
       "2 3 4 7 9 | anchors: | base: -"},
      {"<svg><svg></svg><use href=a><p><use href=b>", "a | anchors: | base: -"},
      {"<svg><![CDATA[ > <a href=y> ]]></svg><![CDATA[ > <a href=z> ]]>", "z | anchors: | base: -"},
      // CSS in style elements and attributes.
      {"<style>@import \"s.css\"; p{background:url(a.png)} /* url(no) */</style>"
       "<p style=\"background: url(&quot;b.png&quot;)\"><div style='x:url(c) url(d)'>",
       "s.css a.png b.png c d | anchors: | base: -"},
      // Raw text hides tags; noscript does not.
      {"<title><a href=t></title><textarea><img src=u></textarea><script>'<a href=v>'</script>"
       "<noscript><img src=w></noscript><!-- <a href=x> -->",
       "w | anchors: | base: -"},
      // The first base with an href; anchors from ids and a names only.
      {"<base target=_top><base href=\"/docs/\"><base href=x><span name=s><A NAME=m>",
       " | anchors: m | base: /docs/"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(describe(extractHtml(row.page), false), row.links) << row.page;
  }
}

TEST(ExtractHtml, FirstRefresh) {
  struct Row {
    std::string_view page;
    std::string_view refresh;  // "DELAY url=URL", "DELAY no url" or "none"
  } rows[] = {
      {"<meta http-equiv=refresh content=\"0; url=a.html\">", "0 url=a.html"},
      // The first that reads as a refresh counts, a later one never.
      {"<meta http-equiv=refresh content=\"5; URL='a'\"><meta http-equiv=refresh content=0;url=b>",
       "5 url=a"},
      {"<meta http-equiv=refresh content=x><meta http-equiv=refresh><meta http-equiv=refresh "
       "content=\"0,b\">",
       "0 url=b"},
      {"<meta http-equiv=refresh content=\"0\"><meta http-equiv=refresh content=\"0;url=b\">",
       "0 no url"},
      {"<meta http-equiv=refresh content=\"0 ; \">", "0 no url"},
      {"<meta http-equiv=refresh content=\"0; url=\">", "0 url="},
      {"<meta http-equiv=refresh content=\"0.9 'q.html' x\">", "0 url=q.html"},
      {"<meta http-equiv=refresh content=\".5;url=&quot;a&amp;b&quot;\">", "0 url=a&b"},
      {"<meta http-equiv=refresh content=\"99999999999; url=x\">", "4294967295 url=x"},
      {"<meta name=refresh content=\"0;url=z\"><meta http-equiv=refreshx content=0;url=y>", "none"},
  };
  for (const Row& row : rows) {
    const PageLinks links = extractHtml(row.page);
    std::string got = "none";
    if (links.hasRefresh) {
      got = std::to_string(links.refreshDelay) +
            (links.refreshHasUrl ? " url=" + links.refreshUrl : std::string(" no url"));
    }
    EXPECT_EQ(got, row.refresh) << row.page;
  }
}

TEST(ExtractHtml, Places) {
  struct Row {
    std::string_view page;
    std::string_view places;
  } rows[] = {
      // A value starts at its first byte: after the quote when quoted.
      {"<a href=\"x\"><a href=y><a href='z'><a href>", "1:10 x 1:21 y 1:32 z 1:38 "},
      {"<p>\r\n<a\r\nhref=\"x\">\r\r<img src=y>\n\r<a href=z>", "3:7 x 5:10 y 7:9 z"},
      {"\xEF\xBB\xBF<a href=x>", "1:9 x"},
      {"<a href=\"\nx\">", "1:10 \nx"},
      {"<style>\n  @import 'a.css';\n p { background: url( b.png ) }</style>",
       "2:11 a.css 3:18 b.png"},
      {"<p\nstyle=\"a:url(x) url(y)\"><img srcset=\"a 1x, b 2x\">", "2:8 x 2:8 y 2:38 a 2:38 b"},
      {"<meta http-equiv=refresh\r\n content=\"0; url=r\">", "2:11 r"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(describe(extractHtml(row.page), true), row.places) << row.page;
  }
}

TEST(ExtractCss, UrlsAndImports) {
  struct Row {
    std::string_view css;
    std::string_view places;
  } rows[] = {
      {"a{background:url(x.png)}", "1:14 x.png"},
      {"@import \"a.css\";@import url(b.css);\n@IMPORT 'c.css' screen;@import\"m.css\";",
       "1:9 a.css 1:25 b.css 2:9 c.css 2:31 m.css"},
      {"@import /* c */ \"h.css\"; p { content: \"i.png\" } @media print{a{b:url( 'o' )}}",
       "1:17 h.css 1:66 o"},
      // Escapes: hex with its space, escaped quotes, line continuations.
      {"url(a\\29 b.png) url(\\\"x) url(\"a\\\"b\") url(caf\\E9 .png) url('a\\\nb') url(\\0)",
       "1:1 a)b.png 1:17 \"x 1:26 a\"b 1:38 caf\xC3\xA9.png 1:55 ab 2:5 \xEF\xBF\xBD"},
      // Bad urls and strings load nothing; reading goes on after them.
      // A string cut by a line end leaves its closing quote to open the next.
      {"url(a b) url(a\"b) url(c) url(\"a\nb\") url(d)\nurl(e)", "1:19 c 3:1 e"},
      // Comments, strings and longer names are no url(.
      {"/* url(no.png) */ \"url(no)\" xurl(a) -url(b) 1url(c) #url(n) u\\72l(d) URL(e)",
       "1:61 d 1:70 e"},
      {"@namespace svg url(http://www.w3.org/2000/svg); p{background:url(g)}", "1:62 g"},
      {"\xEF\xBB\xBFp{}\r\n@import 'l';url(j", "2:9 l 2:13 j"},
      {"url(\"k", "1:1 k"},
  };
  for (const Row& row : rows) {
    const PageLinks links = extractCss(row.css);
    EXPECT_EQ(describe(links, true), row.places) << row.css;
    EXPECT_TRUE(links.anchors.empty() && !links.hasBase);
  }
}

}  // namespace
}  // namespace site
