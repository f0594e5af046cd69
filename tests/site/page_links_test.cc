#include "site/extract/page_links.h"

#include <gtest/gtest.h>

#include <string>

#include "site/html/page_decoder.h"

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
    for (size_t piece = 1; piece <= 8; ++piece) {
      EXPECT_EQ(describe(extractHtml(row.page, piece), true), row.places) << piece << row.page;
    }
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

// Everything extraction found: places and values, anchors, base, refresh.
std::string describeAll(const PageLinks& links) {
  std::string out = describe(links, true) + " |" + describe(links, false);
  if (links.hasRefresh) {
    out += " | refresh " + std::to_string(links.refreshDelay) + " " +
           (links.refreshHasUrl ? links.refreshUrl : "-");
  }
  return out;
}

// Pages read in pieces of every size from 1 to 64 bytes, so that a piece
// ends inside every kind of token, find what the whole page finds.
TEST(ExtractHtml, AnyPieceSizeFindsTheSame) {
  const std::string_view pages[] = {
      // Tags and attributes in every quoting, character references, names
      // folded, repeated names, CR LF and lone CRs, a valueless attribute.
      "\xEF\xBB\xBF<!DOCTYPE html>\r\n<A HREF=\"a&amp;b.html\" id='one' Href=x>\r\r"
      "<img src=unquoted&lt;.png\r\nsrcset=\"s1.png 1x,\r\n s2.png 2x\"/><a href NAME=n>"
      "<area href=\"&#x41;&notit;&#128512;\"  >\n<p id=\"\r\nlong\r\">text < 3 <<a href=last>",
      // Comments with their odd endings, bogus comments, a tag cut by the end.
      "<!-- <a href=c1> --><a href=k1><!--><a href=k2><!---><a href=k3><!-- x --!><a href=k4>"
      "<!-- a--b --><!--<!-- --><a href=k5><? <a href=c2> ?><a href=k6></ x ><a href=k7>"
      "<!-- x ---><a href=k8><!-- never ends <a href=c3>",
      // Raw text with end tags that are and are not, and plaintext.
      "<script>if (a</b) x='<a href=s>';</scriptx></SCRIPT ><a href=r1><title><a href=t></title>"
      "<textarea></textarea</textarea/><a href=r2><xmp><a href=x></xmp><iframe>"
      "</iframe><a href=r3><noembed><a></noembed><noframes></noframes >"
      "<plaintext><a href=p></plaintext>",
      // CSS in a style element and in style attributes: comments, strings
      // with escapes, url() with spaces, bad URLs, @import, <!-- and -->.
      "<style>\n/* url(no) */ @import 'i1.css'; p { background: url(  u1.png  ) }\r\n"
      "a { b: url(\"u\\\"2\") url(u\\33 x) url(bad url) url(u4) } <!-- @import \"i2.css\" -->"
      "@namespace svg url(ns); q{c:url(u5)} \"str\\\nmore\" #url(h) 1url(n) url(\"unterminated"
      "</style><p style=\"x: url(a1) url( &quot;a2&quot; )\"><style>@import url(i3.css)</style>",
      // SVG and MathML: CDATA, xlink:href, breakouts.
      "<svg><a xlink:href=sv1 /><![CDATA[ <a href=no> ]]><use href=sv2><p><use href=no>"
      "<math><![CDATA[ x ]]></math><![CDATA[ <a href=yes> ]]>",
      // Meta refresh and base.
      "<meta http-equiv=Refresh content=\"0; URL='next.html'\"><base href=\"/docs/\">"
      "<base href=second><a href=rel.html id=x name=y><a name=z>",
  };
  for (std::string_view page : pages) {
    const std::string whole = describeAll(extractHtml(page));
    ASSERT_NE(whole.find("|"), 0u) << page;
    for (size_t piece = 1; piece <= 64; ++piece) {
      ASSERT_EQ(describeAll(extractHtml(page, piece)), whole) << "piece " << piece << ": " << page;
    }
  }
}

TEST(ExtractCss, AnyPieceSizeFindsTheSame) {
  const std::string_view sheets[] = {
      "\xEF\xBB\xBF@import \"a.css\";@import url(b.css);\r\n@IMPORT 'c.css' screen;"
      "/* url(no) */ p{background:url( 'q\\\nr' )} url(a\\29 b.png) url(caf\\E9 .png)"
      " url(a b) url(c) -url(d) u\\72l(e) 1url(f) @namespace x url(g); url(h)\rurl(\"i",
  };
  for (std::string_view sheet : sheets) {
    const std::string whole = describe(extractCss(sheet), true);
    for (size_t piece = 1; piece <= 64; ++piece) {
      ASSERT_EQ(describe(extractCss(sheet, piece), true), whole) << "piece " << piece;
    }
  }
}

// UTF-16 with a byte order mark, little- or big-endian.
std::string toUtf16(std::u16string_view text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    out += little ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

// A UTF-16 page is read as its UTF-8 text, with lines and columns counted
// there, in pieces cut between the two bytes of a unit and between the two
// units of a surrogate pair.
TEST(ExtractHtml, Utf16Pages) {
  const std::u16string page =
      u"<p id=\"caf\u00E9\">\r\n<a href=\"\U0001F600.html\">\n  <img src=\"\u4E2D.png\">";
  const std::string utf8 =
      "<p id=\"caf\xC3\xA9\">\r\n<a href=\"\xF0\x9F\x98\x80.html\">\n  <img "
      "src=\"\xE4\xB8\xAD.png\">";
  const std::string expected = describeAll(extractHtml(utf8));
  ASSERT_EQ(expected,
            "2:10 \xF0\x9F\x98\x80.html 3:13 \xE4\xB8\xAD.png |\xF0\x9F\x98\x80.html "
            "\xE4\xB8\xAD.png | anchors: caf\xC3\xA9 | base: -");
  for (bool little : {true, false}) {
    const std::string bytes = toUtf16(page, little);
    for (size_t piece = 1; piece <= 9; ++piece) {
      EXPECT_EQ(describeAll(extractHtml(bytes, piece)), expected)
          << (little ? "LE" : "BE") << " piece " << piece;
    }
  }
}

TEST(PageDecoder, Table) {
  using std::string_literals::operator""s;
  struct Row {
    std::string bytes;
    std::string text;
  } rows[] = {
      {"\xFF\xFE"
       "a\0\x3D\xD8\x00\xDE"s,
       "a\xF0\x9F\x98\x80"},
      {"\xFE\xFF"
       "\0a\xD8\x3D\xDE\x00"s,
       "a\xF0\x9F\x98\x80"},
      // Unpaired surrogates, a lead at the end, an odd last byte: U+FFFD.
      {"\xFF\xFE"
       "\x00\xD8"
       "a\0"
       "\x00\xDC"
       "\x00\xD8"s,
       "\xEF\xBF\xBD"
       "a"
       "\xEF\xBF\xBD"
       "\xEF\xBF\xBD"},
      {"\xFE\xFF"
       "\0a"
       "b"s,
       "a\xEF\xBF\xBD"},
      // A UTF-8 mark is dropped; anything else is the bytes as they are.
      {"\xEF\xBB\xBF"
       "x\xFF\xFE",
       "x\xFF\xFE"},
      {"\xEF\xBB"
       "x",
       "\xEF\xBB"
       "x"},
      {"\xFE", "\xFE"},
      {"\xFF\xFF"
       "ab",
       "\xFF\xFF"
       "ab"},
      {"", ""},
  };
  for (const Row& row : rows) {
    for (size_t piece = 1; piece <= row.bytes.size() + 1; ++piece) {
      PageDecoder decoder;
      std::string text;
      for (size_t at = 0; at < row.bytes.size(); at += piece) {
        decodePage(decoder, std::string_view(row.bytes).substr(at, piece), false, &text);
      }
      decodePage(decoder, "", true, &text);
      EXPECT_EQ(text, row.text) << "piece " << piece;
    }
  }
}

// A value longer than kMaxHtmlText is judged by its first kMaxHtmlText
// bytes; the rest is read past, and the places after it are right.
TEST(ExtractHtml, OversizedValues) {
  const std::string data = "data:text/plain," + std::string(kMaxHtmlText + 5000, 'd');
  const std::string path = std::string(kMaxHtmlText + 70000, 'p') + ".html";
  const std::string page =
      "<img src=\"" + data + "\">\n<a\nhref=" + path + " id=after>\r\n<img src=next.png>";
  for (size_t piece : {size_t(0), size_t(4096), size_t(65536), size_t(99991)}) {
    SCOPED_TRACE("piece " + std::to_string(piece));
    const PageLinks links = extractHtml(page, piece);
    ASSERT_EQ(links.references.size(), 3u);
    EXPECT_EQ(links.references[0].value, data.substr(0, kMaxHtmlText));
    EXPECT_EQ(links.references[1].value, path.substr(0, kMaxHtmlText));
    EXPECT_EQ(links.references[1].line, 3u);
    EXPECT_EQ(links.references[1].column, 6u);
    EXPECT_EQ(links.references[2].value, "next.png");
    EXPECT_EQ(links.references[2].line, 4u);
    EXPECT_EQ(links.references[2].column, 10u);
    EXPECT_EQ(links.anchors, std::vector<std::string>{"after"});
  }
}

}  // namespace
}  // namespace site
