#include "site/net/web_url.h"

#include <vector>

#include "text/text_helpers.h"

namespace site {

namespace {

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isSlash(char c) {
  return c == '/' || c == '\\';
}

uint16_t defaultPort(std::string_view scheme) {
  return scheme == "https" ? 443 : 80;
}

void appendEncoded(std::string* out, unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  out->push_back('%');
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 15]);
}

// The URL standard's path percent-encode set, '#' and '?' aside (they
// cannot be in a path by now).
bool pathNeedsEncoding(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' ||
         c == '}';
}

// Its special-query percent-encode set.
bool queryNeedsEncoding(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '#' || c == '<' || c == '>' || c == '\'';
}

bool isSingleDot(std::string_view segment) {
  return segment == "." || lowerAscii(segment) == "%2e";
}

bool isDoubleDot(std::string_view segment) {
  if (segment.size() < 2 || segment.size() > 6) return false;
  const std::string lower = lowerAscii(segment);
  return lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e";
}

// A path as written ('\' already made '/', or not) into its normal form.
std::string normalPath(std::string_view raw) {
  std::string path;
  for (const char c : raw) {
    if (pathNeedsEncoding(static_cast<unsigned char>(c))) {
      appendEncoded(&path, static_cast<unsigned char>(c));
    } else {
      path.push_back(c == '\\' ? '/' : c);
    }
  }
  std::string_view rest = path;
  if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  if (path.empty()) return "/";
  std::vector<std::string_view> kept;
  for (;;) {
    const size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    const bool last = slash == std::string_view::npos;
    if (isSingleDot(segment)) {
      if (last) kept.emplace_back();
    } else if (isDoubleDot(segment)) {
      if (!kept.empty()) kept.pop_back();
      if (last) kept.emplace_back();
    } else {
      kept.push_back(segment);
    }
    if (last) break;
    rest.remove_prefix(slash + 1);
  }
  std::string out;
  for (const std::string_view segment : kept) {
    out.push_back('/');
    out.append(segment);
  }
  return out.empty() ? "/" : out;
}

std::string normalQuery(std::string_view raw) {
  std::string query;
  for (const char c : raw) {
    if (queryNeedsEncoding(static_cast<unsigned char>(c))) {
      appendEncoded(&query, static_cast<unsigned char>(c));
    } else {
      query.push_back(c);
    }
  }
  return query;
}

// A host as the URL standard takes it, before any IDNA step: percent-decoded,
// ASCII letters folded, no byte a host may not hold.
bool normalHost(std::string_view raw, std::string* host) {
  host->clear();
  if (raw.empty()) return false;
  if (raw.front() == '[') {
    if (raw.size() < 3 || raw.back() != ']') return false;
    for (const char c : raw.substr(1, raw.size() - 2)) {
      if (!(isDigit(c) || hexDigitValue(c) >= 0 || c == ':' || c == '.')) return false;
    }
    *host = lowerAscii(raw);
    return true;
  }
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%' && i + 2 < raw.size() && hexDigitValue(raw[i + 1]) >= 0 &&
        hexDigitValue(raw[i + 2]) >= 0) {
      c = char(hexDigitValue(raw[i + 1]) * 16 + hexDigitValue(raw[i + 2]));
      i += 2;
    }
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return false;
    switch (c) {
      case '#':
      case '%':
      case '/':
      case ':':
      case '<':
      case '>':
      case '?':
      case '@':
      case '[':
      case '\\':
      case ']':
      case '^':
      case '|':
        return false;
      default:
        host->push_back(lowerAscii(c));
    }
  }
  return true;
}

// The scheme of reference when it has one ("http" from "HTTP:..."), else
// empty.
std::string schemeOf(std::string_view reference) {
  if (reference.empty() || !isAlpha(reference.front())) return "";
  for (size_t i = 1; i < reference.size(); ++i) {
    const char c = reference[i];
    if (c == ':') return lowerAscii(reference.substr(0, i));
    if (!(isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.')) return "";
  }
  return "";
}

std::string_view trimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  return text;
}

std::string authorityText(const WebUrl& url) {
  std::string out = url.scheme + "://";
  if (!url.userinfo.empty()) out += url.userinfo + "@";
  out += url.host;
  if (url.port != defaultPort(url.scheme)) out += ":" + std::to_string(url.port);
  return out;
}

}  // namespace

bool parseWebUrl(std::string_view text, WebUrl* url, std::string_view defaultScheme) {
  *url = WebUrl();
  size_t pos = 0;
  if (text.size() >= 2 && isSlash(text[0]) && isSlash(text[1])) {
    if (defaultScheme.empty()) return false;
    url->scheme = std::string(defaultScheme);
  } else {
    url->scheme = schemeOf(text);
    if (url->scheme != "http" && url->scheme != "https") return false;
    pos = url->scheme.size() + 1;
  }
  while (pos < text.size() && isSlash(text[pos])) ++pos;
  size_t end = pos;
  while (end < text.size() && !isSlash(text[end]) && text[end] != '?' && text[end] != '#') ++end;
  std::string_view authority = text.substr(pos, end - pos);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    url->userinfo = std::string(authority.substr(0, at));
    authority.remove_prefix(at + 1);
  }
  std::string_view hostText = authority;
  std::string_view portText;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    hostText = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      hasPort = true;
      portText = after.substr(1);
    }
  } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    hostText = authority.substr(0, colon);
    hasPort = true;
    portText = authority.substr(colon + 1);
  }
  if (!normalHost(hostText, &url->host)) return false;
  url->port = defaultPort(url->scheme);
  if (hasPort && !portText.empty()) {
    uint32_t port = 0;
    for (const char c : portText) {
      if (!isDigit(c)) return false;
      port = port * 10 + uint32_t(c - '0');
      if (port > 65535) return false;
    }
    url->port = uint16_t(port);
  }
  std::string_view rest = text.substr(end);
  const size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    url->hasFragment = true;
    url->fragment = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    url->query = normalQuery(rest.substr(question));
    rest = rest.substr(0, question);
  }
  url->path = normalPath(rest);
  return true;
}

std::string webUrlKey(const WebUrl& url) {
  return authorityText(url) + url.path + url.query;
}

std::string webHostKey(const WebUrl& url) {
  return url.scheme + "://" + url.host + ":" + std::to_string(url.port);
}

bool resolveWebUrl(const WebUrl& base, std::string_view reference, WebUrl* resolved) {
  reference = trimControls(reference);
  if (!schemeOf(reference).empty()) return parseWebUrl(reference, resolved);
  if (reference.size() >= 2 && isSlash(reference[0]) && isSlash(reference[1])) {
    return parseWebUrl(reference, resolved, base.scheme);
  }
  std::string text = authorityText(base);
  if (reference.empty()) {
    text += base.path + base.query;
  } else if (reference.front() == '#') {
    text += base.path + base.query;
    text += reference;
  } else if (reference.front() == '?') {
    text += base.path;
    text += reference;
  } else if (isSlash(reference.front())) {
    text += reference;
  } else {
    text += base.path.substr(0, base.path.rfind('/') + 1);
    text += reference;
  }
  return parseWebUrl(text, resolved);
}

bool parseSiteUrl(std::string_view text, SiteUrl* site, std::string* error) {
  if (!parseWebUrl(text, &site->base)) {
    *error = "'" + std::string(text) + "' is not an http or https URL";
    return false;
  }
  if (!site->base.query.empty() || site->base.hasFragment) {
    *error = "the site URL '" + std::string(text) + "' may not have a query or fragment";
    return false;
  }
  if (site->base.path.back() != '/') site->base.path += '/';
  return true;
}

bool siteLocalReference(const SiteUrl& site, std::string_view reference, std::string* local) {
  WebUrl url;
  if (!parseWebUrl(reference, &url, site.base.scheme)) return false;
  if (url.host != site.base.host) return false;
  const bool bothDefault =
      url.port == defaultPort(url.scheme) && site.base.port == defaultPort(site.base.scheme);
  if (url.port != site.base.port && !bothDefault) return false;
  const std::string& prefix = site.base.path;
  std::string_view below;
  if (url.path.starts_with(prefix)) {
    below = std::string_view(url.path).substr(prefix.size());
  } else if (url.path.size() + 1 != prefix.size() || !prefix.starts_with(url.path)) {
    return false;
  }
  *local = "/";
  *local += below;
  *local += url.query;
  if (url.hasFragment) *local += "#" + url.fragment;
  return true;
}

}  // namespace site
