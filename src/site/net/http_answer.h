// What the external-link check reads in an HTTP answer beyond its status:
// the standard reason phrase a finding quotes (HTTP/2 sends none, and
// servers send odd ones), and how long a Retry-After header asks to wait.
#pragma once

#include <cstdint>
#include <string_view>

namespace site {

// The standard reason phrase of status ("Not Found" for 404), or "" for a
// status that has none.
const char* statusReasonPhrase(int status);

// An HTTP date in any of the three forms HTTP allows ("Sun, 06 Nov 1994
// 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37
// 1994") into seconds since 1970 (UTC). False when it is none of them.
bool parseHttpDate(std::string_view text, int64_t* unixSeconds);

// The wait a Retry-After value asks for, in whole seconds:
// delay-seconds as they are, an HTTP date less the current time nowUnix (0
// when it has passed). False when the value is neither.
bool parseRetryAfter(std::string_view value, int64_t nowUnix, int64_t* waitSeconds);

// Whether a Content-Type names HTML (text/html, application/xhtml+xml); an
// answer that sends none is taken as HTML, as browsers sniff most such.
bool isHtmlContentType(std::string_view contentType);

}  // namespace site
