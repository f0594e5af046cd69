// Reference resolution: from the text of a reference, as a page or style
// sheet holds it, to the file of the walked tree it names, as a web server
// serving ROOT at "/" would find it. Pure functions over the tree; nothing
// here touches the disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/walk/site_tree.h"

namespace site {

struct ResolveOptions {
  // Tried in order inside a directory that a reference names.
  std::vector<std::string> indexNames{"index.html", "index.htm"};
  // A missing "x" or "x/" also tries "x.html".
  bool cleanUrls = false;
};

// The reference with leading and trailing ASCII whitespace stripped and the
// tabs, line feeds and carriage returns inside it removed: the text that the
// findings quote.
std::string cleanReference(std::string_view value);
// The same into *cleaned, reusing its buffer.
void cleanReference(std::string_view value, std::string* cleaned);

enum class RefKind : unsigned char {
  Local,       // a path on the site: resolved and checked
  External,    // http:, https: (any case) or "//host": counted, never fetched
  Ignored,     // any other scheme: mailto:, tel:, javascript:, data:, ...
  FileScheme,  // file:, which only works on the author's own computer
};

// How a cleaned reference is taken, by its scheme or its leading "//".
RefKind referenceKind(std::string_view cleaned);

// Whether an http: or https: reference (any case), or one that starts with
// two slashes ('/' or '\\'), has an authority that browsers take, read as
// the URL standard reads a special URL's authority: the slashes after the
// scheme skipped, user information up to the last '@' dropped, then a
// host that is not empty, is a valid IPv6 address when it starts with '[',
// and otherwise holds no forbidden code point once percent-decoded (space,
// a control character, '#', '%', '/', ':', '<', '>', '?', '@', '[', '\\',
// ']', '^', '|'), and a port that is empty or digits up to 65535. True for
// every other reference. (Domain names are not checked further: what IDNA
// and the IPv4 rules refuse is let through.)
bool hasValidAuthority(std::string_view cleaned);

// Where the relative references of one page or style sheet start from: the
// file itself, or the first <base href> of a page resolved against it.
struct UrlBase {
  RefKind kind = RefKind::Local;  // External or Ignored when the base has a scheme
  std::vector<std::string> dirs;  // decoded directory names under ROOT
  std::string last;               // decoded last segment; empty when the base is a directory
  bool above = false;             // the base climbs above ROOT
  // chain[i] is the node of the directory dirs[0..i), as far as those exist;
  // chain[0] is ROOT. Lets a lookup skip the part of a path it shares with
  // the base.
  std::vector<uint32_t> chain;
  // Given by makeBase, so that a thread can remember what paths resolved to
  // against this base: bases with equal serials resolve every path but the
  // empty one alike. The base of a file without a <base href> is its
  // directory's, shared by every such file there; any other gets a serial
  // of its own. 0 (a base made by hand) is never remembered.
  uint64_t serial = 0;
};

// The base of the file at node (a walked file of tree). With hasBase,
// baseHref is the page's first <base href> value, character references
// decoded.
UrlBase makeBase(const SiteTree& tree, uint32_t node, bool hasBase, std::string_view baseHref);

enum class TargetStatus : unsigned char {
  Found,         // the exact spelling names a file
  CaseMismatch,  // only a search that ignores ASCII letter case finds one
  Missing,       // no such file, in any letter case
  OutsideRoot,   // ".." climbs above ROOT
  Unknown,       // the path runs into a directory that could not be listed
};

struct Resolution {
  RefKind kind = RefKind::Local;
  TargetStatus status = TargetStatus::Missing;  // for Local references only
  uint32_t node = kNoNode;                      // the file found (Found and CaseMismatch)
  bool hasFragment = false;
  std::string_view fragment;  // raw text after '#'; points into the cleaned reference
};

// Buffers one thread reuses from reference to reference, so that resolving
// allocates nothing once they have grown. One scratch serves one tree and
// one set of options: what it remembers is their answers.
struct ResolveScratch {
  std::vector<std::string_view> names;
  std::string decoded;
  std::string probe;
  // Paths resolved lately, by a hash of the path and its base's serial (or
  // of the path alone when it starts at ROOT): a page names the same few
  // targets again and again, and the pages of a directory name many of the
  // same ones.
  struct Remembered {
    uint64_t serial = 0;
    std::string path;
    TargetStatus status = TargetStatus::Missing;
    uint32_t node = kNoNode;
  };
  std::vector<Remembered> remembered;
};

// Resolves a cleaned reference against base. The returned fragment points
// into cleaned, which must outlive its use.
Resolution resolveReference(const SiteTree& tree, const ResolveOptions& options,
                            const UrlBase& base, std::string_view cleaned, ResolveScratch* scratch);

// Percent-decodes text to bytes: "%XX" with two hexadecimal digits becomes
// that byte; any other '%' stays as it is.
std::string percentDecode(std::string_view text);

// The anchor that a raw fragment asks the target page for, in both the
// spellings a browser tries: *written, the fragment as written (a view into
// fragment), and *decoded, the same percent-decoded (UTF-8). A page has it
// when it has an anchor equal to *written, else one equal to *decoded.
// False when any page satisfies the fragment: it is empty, "top" in any
// case once decoded, or a text fragment (":~:") with nothing before it;
// "sec:~:text=..." asks for "sec".
bool anchorToCheck(std::string_view fragment, std::string_view* written, std::string* decoded);

}  // namespace site
