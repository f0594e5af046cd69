// Absolute http: and https: URLs as the external-link check handles them:
// parsed and put in one normal spelling, so that each distinct URL is asked
// for once; a redirect's Location resolved against the URL that sent it;
// and the site's own address (--site-url), under which an absolute
// reference is a local one. Pure functions over text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace site {

struct WebUrl {
  std::string scheme;    // "http" or "https"
  std::string userinfo;  // before '@' in the authority, as written; usually empty
  std::string host;      // ASCII letters in lower case; an IPv6 address in brackets
  uint16_t port = 0;     // as written, or the scheme's default
  std::string path;      // starts with '/'; dot segments resolved, unsafe bytes percent-encoded
  std::string query;     // with its '?', or empty when there is none
  bool hasFragment = false;
  std::string fragment;  // after '#', as written
};

// Parses an absolute http: or https: URL (the scheme in any case) or, with
// a non-empty defaultScheme, a scheme-relative "//host/..." one, as the URL
// standard reads them: '\' counts as '/', any number of slashes may follow
// the scheme, "." and ".." segments (also percent-encoded) are resolved,
// the host's ASCII letters are folded and a default port is dropped. Bytes
// a URL cannot carry (controls, space, '"', '<', '>', '`', '{', '}' and
// non-ASCII in the path; likewise, and '\'', in the query) are
// percent-encoded; a '%' is left alone. False when it is neither, or its
// host is empty or holds a byte no host may hold, or its port is not a
// number up to 65535.
bool parseWebUrl(std::string_view text, WebUrl* url, std::string_view defaultScheme = "");

// The URL without its fragment, in the normal spelling: what the check
// requests and keys its results by. Two references to one resource give
// the same text.
std::string webUrlKey(const WebUrl& url);

// The scheme, name and port of url ("https://example.org:443"): what the
// per-host limits count.
std::string webHostKey(const WebUrl& url);

// Resolves reference (a Location header: absolute, "//host/...", "/path",
// "path", "?query" or empty) against base, as RFC 3986 does. False when
// the result is not an http: or https: URL that parseWebUrl() takes.
bool resolveWebUrl(const WebUrl& base, std::string_view reference, WebUrl* resolved);

// The site's own address, from --site-url.
struct SiteUrl {
  WebUrl base;  // its path ends with '/'
};

// Parses --site-url: an absolute http: or https: URL without query or
// fragment ("https://example.org/docs/"); a path that does not end with
// '/' is taken as a directory all the same. False with *error (a phrase
// naming the problem) otherwise.
bool parseSiteUrl(std::string_view text, SiteUrl* site, std::string* error);

// Whether the cleaned absolute reference (http:, https: or "//host") lies
// under the site's address, by host and port (either scheme: a site's
// pages are the same whichever one a link names) and by path, segment by
// segment. When it does, *local is its path below the site as a
// '/'-rooted reference, with its query and fragment ("/guide/a.html#x"),
// which the local check takes as it takes any other.
bool siteLocalReference(const SiteUrl& site, std::string_view reference, std::string* local);

}  // namespace site
