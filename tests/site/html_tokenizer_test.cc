#include "site/html/html_tokenizer.h"

#include <gtest/gtest.h>

#include <string>

#include "site/html/character_references.h"

namespace site {
namespace {

using std::string_view_literals::operator""sv;

// The whole of text with its character references decoded, as in an
// attribute value (inAttribute) or in text; other bytes are copied.
std::string decodeCharacterReferences(std::string_view text, bool inAttribute) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, amp - pos));
    pos = amp + appendCharacterReference(text.substr(amp), inAttribute, &out);
  }
  return out;
}

// Tokens written back as markup: <name a=value ...>, </name>, "/>" for a
// self-closing tag, {text} for raw text.
std::string tokenize(std::string_view page, bool foreignEndTagsOnly = false) {
  HtmlTokenizer tokenizer;
  startHtml(tokenizer, page, 0);
  tokenizer.foreignEndTagsOnly = foreignEndTagsOnly;
  HtmlToken token;
  std::string out;
  while (nextHtmlToken(tokenizer, &token)) {
    if (token.kind == HtmlTokenKind::RawText) {
      out += "{" + std::string(token.text) + "}";
      continue;
    }
    out += token.kind == HtmlTokenKind::EndTag ? "</" : "<";
    out += token.name;
    for (const HtmlAttribute& a : token.attributes) {
      out += " " + std::string(a.name) + "=" + std::string(a.value);
    }
    out += token.selfClosing ? "/>" : ">";
  }
  return out;
}

TEST(HtmlTokenizer, ForeignEndTagsOnly) {
  // Only the end tags that close SVG and MathML (any case) come out; the
  // tags after a passed-over one are read as before.
  EXPECT_EQ(tokenize("<p></p><svg></SVG></span x=1><Math></math></a><a href=x>", true),
            "<p><svg></svg></span x=1><math></math><a href=x>");
  EXPECT_EQ(tokenize("</p><script></p></script></style>", true), "<script>{</p>}");
}

TEST(HtmlTokenizer, TagsCommentsAndRawText) {
  struct Row {
    std::string_view page;
    std::string_view tokens;
  } rows[] = {
      // Quotings, case folding, the first of equal names.
      {"<A HREF=\"x\" Title='y' href=z data-X=w>", "<a href=x title=y data-x=w>"},
      {"<a href='a\"b' c=\"d'e\" f=g'h\"i>", "<a href=a\"b c=d'e f=g'h\"i>"},
      {"<a href=x/><br/><br />", "<a href=x/><br/><br/>"},
      {"<a href = \"x\"y=1 z>", "<a href=x y=1 z=>"},
      {"<a =x ==y><b c=>", "<a =x==y><b c=>"},
      {"<a\0 b\0=\"\0\">"sv, "<a\xEF\xBF\xBD b\xEF\xBF\xBD=\xEF\xBF\xBD>"},
      {"<a href=\"a\r\nb\rc\">", "<a href=a\nb\nc>"},
      {"</A x=y></ b></><p>", "</a x=y><p>"},
      // Not tags: '<' before a non-letter, cut off by the end of the page.
      {"a < b <3 <<p>", "<p>"},
      {"<a href=\"x", ""},
      {"<a href=x", ""},
      {"<a", ""},
      // Comments and their odd endings.
      {"<!-- <a href=x> --><p>", "<p>"},
      {"<!--><p>", "<p>"},
      {"<!---><p>", "<p>"},
      {"<!-- x --!><p>", "<p>"},
      {"<!-- x ---><p>", "<p>"},
      {"<!-- a--b -- ><q> --><p>", "<p>"},
      {"<!--<!-- --><p>", "<p>"},
      {"<!-- x --!-><q> --><p>", "<p>"},
      {"<!-- x", ""},
      // Bogus comments and doctypes end at the first '>'.
      {"<!DOCTYPE html><?xml a=\"<q>\"?><! x ></ x><p>", "<p>"},
      {"<![CDATA[<q>]]><p>", "<p>"},
      // Raw text runs to its own end tag, in any case, followed by a
      // space, '/' or '>'.
      {"<script>if (a<b) x='<a href=y>'</script ><p>",
       "<script>{if (a<b) x='<a href=y>'}</script><p>"},
      {"<style>p{}</stylex></STYLE/><p>", "<style>{p{}</stylex>}</style/><p>"},
      {"<title><a></title><textarea></textarea</textarea>",
       "<title>{<a>}</title><textarea>{</textarea}</textarea>"},
      {"<xmp><a></xmp><iframe><a></iframe><noembed><a></noembed><noframes><a></noframes>",
       "<xmp>{<a>}</xmp><iframe>{<a>}</iframe><noembed>{<a>}</noembed><noframes>{<a>}</noframes>"},
      {"<script>x</script", "<script>{x</script}"},
      {"<plaintext><a></plaintext>", "<plaintext>{<a></plaintext>}"},
      {"<noscript><a></noscript>", "<noscript><a></noscript>"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(tokenize(row.page), row.tokens) << row.page;
  }
}

// However many attributes a tag has, the first of equal names wins.
TEST(HtmlTokenizer, ManyAttributes) {
  std::string page = "<p";
  std::string tokens = "<p";
  for (int i = 0; i < 100; ++i) {
    page += " a" + std::to_string(i) + "=" + std::to_string(i);
    tokens += " a" + std::to_string(i) + "=" + std::to_string(i);
    if (i % 10 == 0) page += " A" + std::to_string(i / 2) + "=x";
  }
  EXPECT_EQ(tokenize(page + " a99=x a0=y>"), tokens + ">");
}

TEST(HtmlTokenizer, CharacterReferences) {
  struct Row {
    std::string_view text;
    std::string_view inAttribute;
    std::string_view inText;
  } rows[] = {
      {"&amp;", "&", "&"},
      {"&AMP", "&", "&"},
      {"&ampx", "&ampx", "&x"},
      {"&amp=", "&amp=", "&="},
      {"&amp;x", "&x", "&x"},
      {"&notit;", "&notit;", "\xC2\xACit;"},
      {"&noti", "&noti", "\xC2\xACi"},
      {"&notin;", "\xE2\x88\x89", "\xE2\x88\x89"},
      {"&not-", "\xC2\xAC-", "\xC2\xAC-"},
      {"&am &zz; & &;", "&am &zz; & &;", "&am &zz; & &;"},
      {"&NotNestedGreaterGreater;", "\xE2\xAA\xA2\xCC\xB8", "\xE2\xAA\xA2\xCC\xB8"},
      {"&#x41;&#65&#X6a;", "AAj", "AAj"},
      {"&#;&#x;&#xg", "&#;&#x;&#xg", "&#;&#x;&#xg"},
      {"&#0;&#x110000;&#xD800;&#99999999999999;",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"&#x80;&#x81;&#159;&#x10FFFF;", "\xE2\x82\xAC\xC2\x81\xC5\xB8\xF4\x8F\xBF\xBF",
       "\xE2\x82\xAC\xC2\x81\xC5\xB8\xF4\x8F\xBF\xBF"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(decodeCharacterReferences(row.text, true), row.inAttribute) << row.text;
    EXPECT_EQ(decodeCharacterReferences(row.text, false), row.inText) << row.text;
    // The tokenizer decodes values the same way, in every quoting.
    const std::string page = "<a v=\"" + std::string(row.text) + "\">";
    EXPECT_EQ(tokenize(page), "<a v=" + std::string(row.inAttribute) + ">") << row.text;
  }
  EXPECT_EQ(tokenize("<a v=&amp;&ampx&amp=>"), "<a v=&&ampx&amp=>");
}

}  // namespace
}  // namespace site
