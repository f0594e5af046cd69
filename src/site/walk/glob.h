// The globs of --exclude and --pages. A glob is matched against the whole
// text: '*' stands for any run of bytes but '/', '?' for one byte but '/',
// "**" for any run of bytes, '/' included, and "**/" for zero or more whole
// directories ("**/x" matches "x" and "a/b/x"). Every other byte stands for
// itself.
#pragma once

#include <string>
#include <string_view>

namespace site {

// True when glob matches all of text. With ignoreCase, ASCII letters match
// either case. Takes time proportional to the two lengths' product at worst.
bool globMatches(std::string_view glob, std::string_view text, bool ignoreCase);

// One --exclude pattern, read as a .gitignore line is read: a pattern with
// no '/' but a trailing one matches a name at any depth ("*.gz", "drafts/");
// any other is anchored at ROOT, where a leading "/" or "./" is allowed and
// means the same; a trailing '/' matches directories alone. Letter case
// counts.
struct ExcludePattern {
  std::string glob;            // without the leading "/" or "./" and trailing '/'
  bool anyDepth = false;       // matched against the last component alone
  bool directoryOnly = false;  // a trailing '/'
};

// Reads text into *pattern. False when no name is left to match ("/", "./").
bool parseExclude(std::string_view text, ExcludePattern* pattern);

// True when pattern matches the entry at path (under ROOT, '/'-separated),
// a directory when directory is true. A directory that matches takes
// everything below it along; that is the walk's to do.
bool excludeMatches(const ExcludePattern& pattern, std::string_view path, bool directory);

}  // namespace site
