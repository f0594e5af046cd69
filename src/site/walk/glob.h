// The globs of --exclude and --pages. A glob is matched against the whole
// text: '*' stands for any run of bytes but '/', '?' for one byte but '/',
// "**" for any run of bytes, '/' included, and "**/" for zero or more whole
// directories ("**/x" matches "x" and "a/b/x"). Every other byte stands for
// itself.
#pragma once

#include <string_view>

namespace site {

// True when glob matches all of text. With ignoreCase, ASCII letters match
// either case. Takes time proportional to the two lengths' product at worst.
bool globMatches(std::string_view glob, std::string_view text, bool ignoreCase);

}  // namespace site
