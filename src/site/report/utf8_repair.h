// Report text made safe for formats that must be valid UTF-8 (JSON, SARIF,
// XML, workflow commands): file names and references are bytes on disk and
// may be in any encoding, or none.
#pragma once

#include <string>
#include <string_view>

#include "text/text_helpers.h"

namespace site {

// bytes with each maximal ill-formed subsequence (a stray continuation byte,
// a truncated sequence, an overlong form, an encoded surrogate, a code point
// above U+10FFFF) replaced by U+FFFD, as the Unicode standard recommends and
// as Python's "replace" decoding does. Well-formed text comes back unchanged.
std::string repairUtf8(std::string_view bytes);

}  // namespace site
