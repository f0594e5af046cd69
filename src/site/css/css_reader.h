// The CSS reader: finds the URLs a style sheet loads, url(...) tokens and
// the strings of @import rules, by tokenizing it as the CSS syntax standard
// does (comments, strings and their escapes, identifiers, numbers), so that
// a "url(" inside a comment, a string or a longer name is not taken.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace site {

struct CssReference {
  // Escapes decoded (to UTF-8), nothing else done to it.
  std::string value;
  // Offset in the style sheet of the url( token's first byte (its 'u'), or
  // of the opening quote of an @import string.
  size_t offset = 0;
};

// Appends the references of css to *out, in order. url() tokens that the
// standard makes bad-url tokens (a space or quote inside an unquoted URL)
// and strings cut by a line end load nothing and are left out, and so are
// the URLs of @namespace rules, which name and do not load.
void readCssReferences(std::string_view css, std::vector<CssReference>* out);

}  // namespace site
