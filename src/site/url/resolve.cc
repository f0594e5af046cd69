#include "site/url/resolve.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/ascii_case.h"
#include "text/text_helpers.h"

namespace site {

namespace {

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Appends the percent-decoding of text to *out.
void appendDecoded(std::string_view text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
        hexDigitValue(text[i + 2]) >= 0) {
      out->push_back(char(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
      i += 2;
    } else {
      out->push_back(text[i]);
    }
  }
}

bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isSlash(char c) {
  return c == '/' || c == '\\';
}

// Whether scheme is "http" or "https" in any case; asked of every
// reference with a scheme, so spelt out rather than two general compares.
inline bool isWebScheme(std::string_view scheme) {
  auto is = [&](size_t i, char lower) { return (scheme[i] | 0x20) == lower; };
  return (scheme.size() == 4 || (scheme.size() == 5 && is(4, 's'))) && is(0, 'h') && is(1, 't') &&
         is(2, 't') && is(3, 'p');
}

// What a byte means to the reading of an authority, as bits.
enum : uint8_t {
  kEndsAuthority = 1,    // '/', '\\', '?', '#'
  kForbiddenInHost = 2,  // the URL standard's forbidden domain code points
};

constexpr std::array<uint8_t, 256> makeAuthorityBytes() {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c <= 0x20; ++c) table[c] = kForbiddenInHost;
  table[0x7F] = kForbiddenInHost;
  for (char c : {'#', '%', '/', ':', '<', '>', '?', '@', '[', '\\', ']', '^', '|'}) {
    table[static_cast<unsigned char>(c)] = kForbiddenInHost;
  }
  for (char c : {'/', '\\', '?', '#'}) table[static_cast<unsigned char>(c)] |= kEndsAuthority;
  return table;
}

constexpr std::array<uint8_t, 256> kAuthorityBytes = makeAuthorityBytes();

uint8_t authorityByte(char c) {
  return kAuthorityBytes[static_cast<unsigned char>(c)];
}

// The length of the scheme that cleaned starts with (RFC 3986: a letter,
// then letters, digits, '+', '-', '.', then ':'), without the ':'; 0 when
// it has none. Inline: every reference asks.
inline size_t schemeLength(std::string_view cleaned) {
  if (cleaned.empty() || !isAsciiLetter(cleaned[0])) return 0;
  size_t i = 1;
  while (i < cleaned.size() && (isAsciiLetter(cleaned[i]) || isAsciiDigit(cleaned[i]) ||
                                cleaned[i] == '+' || cleaned[i] == '-' || cleaned[i] == '.')) {
    ++i;
  }
  return i < cleaned.size() && cleaned[i] == ':' ? i : 0;
}

// The URL standard's IPv6 parser, as a yes or no: eight pieces of up to four
// hexadecimal digits, or fewer with one "::", the last two of which may be
// written as a dotted IPv4 address.
bool isIpv6Address(std::string_view text) {
  size_t pos = 0;
  const size_t size = text.size();
  int pieces = 0;
  bool compressed = false;
  auto at = [&](size_t i) { return i < size ? text[i] : '\0'; };
  if (at(0) == ':') {
    if (at(1) != ':') return false;
    pos = 2;
    compressed = true;
    pieces = 1;  // the standard counts the "::" as a piece already begun
  }
  while (pos < size) {
    if (pieces == 8) return false;
    if (text[pos] == ':') {
      if (compressed) return false;
      ++pos;
      ++pieces;
      compressed = true;
      continue;
    }
    size_t length = 0;
    while (length < 4 && pos < size && hexDigitValue(text[pos]) >= 0) ++pos, ++length;
    if (at(pos) == '.') {
      // The last 32 bits as a dotted IPv4 address: exactly four numbers of
      // 0 to 255, without leading zeros.
      if (length == 0 || pieces > 6) return false;
      pos -= length;
      for (int numbers = 0; numbers < 4; ++numbers) {
        if (numbers > 0) {
          if (at(pos) != '.') return false;
          ++pos;
        }
        if (!isAsciiDigit(at(pos))) return false;
        int value = 0;
        const size_t start = pos;
        while (isAsciiDigit(at(pos))) {
          if (pos > start && value == 0) return false;
          value = value * 10 + (text[pos] - '0');
          if (value > 255) return false;
          ++pos;
        }
      }
      return pos == size && (compressed || pieces + 2 == 8);
    }
    if (at(pos) == ':') {
      ++pos;
      if (pos == size) return false;
    } else if (pos < size) {
      return false;
    }
    ++pieces;
  }
  return compressed || pieces == 8;
}

// A path as a stack of decoded names, the way a browser merges a reference
// with its base: "." and empty segments vanish, ".." pops.
struct PathState {
  std::vector<std::string_view>* names;
  size_t kept = 0;       // names[0..kept) are still the base's directories
  bool dirForm = false;  // the path ends with '/', "." or "..": it names a directory
};

// Applies the '/'- or '\'-separated segments of path to *state, decoding
// each into *decoded (which must have room for path.size() more bytes, so
// that earlier names stay valid). False when ".." climbs above ROOT.
bool applySegments(std::string_view path, PathState* state, std::string* decoded) {
  // Decoding never lengthens a segment, so this room is enough.
  assert(decoded->capacity() - decoded->size() >= path.size());
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && path[end] != '/' && path[end] != '\\') ++end;
    std::string_view segment = path.substr(start, end - start);
    if (segment.find('%') != std::string_view::npos) {
      size_t from = decoded->size();
      appendDecoded(segment, decoded);
      segment = std::string_view(*decoded).substr(from);
    }
    if (segment.empty() || segment == ".") {
      // An empty segment inside a path is dropped, as servers merge "//".
      state->dirForm = true;
    } else if (segment == "..") {
      if (state->names->empty()) return false;
      state->names->pop_back();
      state->kept = std::min(state->kept, state->names->size());
      state->dirForm = true;
    } else {
      state->names->push_back(segment);
      state->dirForm = false;
    }
    start = end + 1;
  }
  return true;
}

bool isFile(const SiteTree& tree, uint32_t node) {
  return node != kNoNode && !tree.nodes[node].directory;
}

// Looks for the target at parent, the directory that should hold name: the
// file itself, a directory's index, then with clean URLs "name.html". Each
// name is found by exact spelling or, with ignoreCase, by the first stored
// spelling in byte order that matches. kNoNode when nothing is found;
// *unknown is set when the answer lies in a directory that was not listed.
uint32_t findInDirectory(const SiteTree& tree, const ResolveOptions& options, uint32_t parent,
                         std::string_view name, bool dirForm, bool ignoreCase, std::string* probe,
                         bool* unknown) {
  auto matching = [&](uint32_t in, std::string_view wanted, auto&& take) -> uint32_t {
    if (!ignoreCase) {
      uint32_t child = findChild(tree, in, wanted);
      return child != kNoNode ? take(child) : kNoNode;
    }
    const TreeNode& holder = tree.nodes[in];
    for (uint32_t c = holder.firstChild; c < holder.firstChild + holder.childCount; ++c) {
      if (!equalIgnoringCase(tree.nodes[c].name, wanted)) continue;
      uint32_t hit = take(c);
      if (hit != kNoNode) return hit;
    }
    return kNoNode;
  };
  auto fileOnly = [&](uint32_t c) { return isFile(tree, c) ? c : kNoNode; };
  uint32_t hit = matching(parent, name, [&](uint32_t c) -> uint32_t {
    const TreeNode& node = tree.nodes[c];
    if (!node.directory) return dirForm ? kNoNode : c;
    if (!node.listed) {
      *unknown = true;
      return kNoNode;
    }
    for (const std::string& index : options.indexNames) {
      uint32_t found = matching(c, index, fileOnly);
      if (found != kNoNode) return found;
    }
    return kNoNode;
  });
  if (hit != kNoNode || !options.cleanUrls) return hit;
  probe->assign(name);
  *probe += ".html";
  return matching(parent, *probe, fileOnly);
}

// The case-blind search: the directories matching names[depth..last) below
// node, in byte order, depth first, until one holds the target.
uint32_t findIgnoringCase(const SiteTree& tree, const ResolveOptions& options,
                          const std::vector<std::string_view>& names, size_t depth, uint32_t node,
                          bool dirForm, std::string* probe) {
  const TreeNode& dir = tree.nodes[node];
  if (!dir.listed) return kNoNode;
  if (depth + 1 == names.size()) {
    bool unknown = false;
    return findInDirectory(tree, options, node, names[depth], dirForm, true, probe, &unknown);
  }
  for (uint32_t c = dir.firstChild; c < dir.firstChild + dir.childCount; ++c) {
    const TreeNode& child = tree.nodes[c];
    if (!child.directory || !equalIgnoringCase(child.name, names[depth])) continue;
    uint32_t hit = findIgnoringCase(tree, options, names, depth + 1, c, dirForm, probe);
    if (hit != kNoNode) return hit;
  }
  return kNoNode;
}

// The index of ROOT itself ("/" or "." from the top).
uint32_t findRootIndex(const SiteTree& tree, const ResolveOptions& options, bool ignoreCase) {
  const TreeNode& root = tree.nodes[0];
  for (const std::string& index : options.indexNames) {
    if (!ignoreCase) {
      uint32_t child = findChild(tree, 0, index);
      if (isFile(tree, child)) return child;
      continue;
    }
    for (uint32_t c = root.firstChild; c < root.firstChild + root.childCount; ++c) {
      const std::string& name = tree.nodes[c].name;
      if (isFile(tree, c) && equalIgnoringCase(name, index)) {
        return c;
      }
    }
  }
  return kNoNode;
}

}  // namespace

namespace {

// The first index from pos of a tab, line feed or carriage return in text,
// or its size; sixteen bytes at a time with SSE2.
size_t findDropped(std::string_view text, size_t pos) {
#if defined(__SSE2__)
  const __m128i tabs = _mm_set1_epi8('\t');
  const __m128i feeds = _mm_set1_epi8('\n');
  const __m128i returns = _mm_set1_epi8('\r');
  for (; text.size() - pos >= 16; pos += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, tabs), _mm_cmpeq_epi8(bytes, feeds)),
                     _mm_cmpeq_epi8(bytes, returns));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return pos + static_cast<size_t>(std::countr_zero(mask));
  }
#endif
  while (pos < text.size() && text[pos] != '\t' && text[pos] != '\n' && text[pos] != '\r') ++pos;
  return pos;
}

}  // namespace

void cleanReference(std::string_view value, std::string* cleaned) {
  size_t begin = 0, end = value.size();
  while (begin < end && isAsciiWhitespace(value[begin])) ++begin;
  while (end > begin && isAsciiWhitespace(value[end - 1])) --end;
  value = value.substr(0, end);
  cleaned->clear();
  // Copied a run at a time between the tabs and line ends it drops.
  for (size_t i = begin; i < end;) {
    const size_t run = findDropped(value, i);
    cleaned->append(value.data() + i, run - i);
    i = run + 1;
  }
}

std::string cleanReference(std::string_view value) {
  std::string cleaned;
  cleanReference(value, &cleaned);
  return cleaned;
}

RefKind referenceKind(std::string_view cleaned) {
  if (const size_t length = schemeLength(cleaned); length > 0) {
    std::string_view scheme = cleaned.substr(0, length);
    if (isWebScheme(scheme)) return RefKind::External;
    if (equalIgnoringCase(scheme, "file")) return RefKind::FileScheme;
    return RefKind::Ignored;
  }
  // '\' counts as '/', so "\\host" names another host just as "//host" does.
  if (cleaned.size() >= 2 && isSlash(cleaned[0]) && isSlash(cleaned[1])) return RefKind::External;
  return RefKind::Local;
}

bool hasValidAuthority(std::string_view cleaned) {
  size_t pos = 0;
  if (const size_t length = schemeLength(cleaned); length > 0) {
    std::string_view scheme = cleaned.substr(0, length);
    if (!isWebScheme(scheme)) return true;
    pos = length + 1;
  } else if (cleaned.size() < 2 || !isSlash(cleaned[0]) || !isSlash(cleaned[1])) {
    return true;
  }
  while (pos < cleaned.size() && isSlash(cleaned[pos])) ++pos;
  // The authority ends at the first '/', '\\', '?' or '#'; the host starts
  // after its last '@'.
  size_t end = pos;
  bool plain = true;  // no byte of the host so far means anything
  for (; end < cleaned.size(); ++end) {
    const uint8_t meaning = authorityByte(cleaned[end]);
    if (meaning == 0) continue;
    if (meaning & kEndsAuthority) break;
    plain = cleaned[end] == '@';
    if (plain) pos = end + 1;
  }
  // Most hosts are plain names: nothing more to look at.
  if (plain) return end > pos;
  const std::string_view authority = cleaned.substr(pos, end - pos);
  // The host runs to the first ':' outside brackets, the port from there.
  size_t hostEnd = 0;
  if (!authority.empty() && authority[0] == '[') {
    // The text up to the first ']' must be an IPv6 address, and the host
    // must end there: whatever else it took in would hold a ']' or a '['.
    hostEnd = authority.find(']');
    if (hostEnd == std::string_view::npos || !isIpv6Address(authority.substr(1, hostEnd - 1))) {
      return false;
    }
    ++hostEnd;
    if (hostEnd < authority.size() && authority[hostEnd] != ':') return false;
  } else {
    // Brackets elsewhere are forbidden, so the first ':' ends the host.
    for (; hostEnd < authority.size() && authority[hostEnd] != ':'; ++hostEnd) {
      if (!(authorityByte(authority[hostEnd]) & kForbiddenInHost)) continue;
      if (authority[hostEnd] != '%' || hostEnd + 2 >= authority.size()) return false;
      // An escape: what it stands for must not be forbidden either. A '%'
      // without two hexadecimal digits stays itself, which is.
      const int high = hexDigitValue(authority[hostEnd + 1]);
      const int low = hexDigitValue(authority[hostEnd + 2]);
      if (high < 0 || low < 0 || (authorityByte(char(high * 16 + low)) & kForbiddenInHost)) {
        return false;
      }
      hostEnd += 2;
    }
    if (hostEnd == 0) return false;
  }
  if (hostEnd == authority.size()) return true;
  uint32_t port = 0;
  for (char c : authority.substr(hostEnd + 1)) {
    if (!isAsciiDigit(c)) return false;
    port = std::min<uint32_t>(port * 10 + uint32_t(c - '0'), 65536);
  }
  return port <= 65535;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendDecoded(text, &out);
  return out;
}

bool anchorToCheck(std::string_view fragment, std::string_view* written, std::string* decoded) {
  size_t directive = fragment.find(":~:");
  if (directive != std::string_view::npos) fragment = fragment.substr(0, directive);
  if (fragment.empty()) return false;
  *written = fragment;
  decoded->clear();
  appendDecoded(fragment, decoded);
  return !equalIgnoringCase(*decoded, "top");
}

// The last serial makeBase gave a base of its own.
static std::atomic<uint64_t> baseSerials{0};

// The serials of bases that stand for a directory (above those counted),
// and the one under which paths from ROOT are remembered, whatever their
// base.
constexpr uint64_t kDirectorySerials = uint64_t(1) << 62;
constexpr uint64_t kRootedSerial = uint64_t(1) << 63;

UrlBase makeBase(const SiteTree& tree, uint32_t node, bool hasBase, std::string_view baseHref) {
  UrlBase base;
  for (uint32_t at = tree.nodes[node].parent; at != 0 && at != kNoNode;
       at = tree.nodes[at].parent) {
    base.dirs.push_back(tree.nodes[at].name);
  }
  std::reverse(base.dirs.begin(), base.dirs.end());
  base.last = tree.nodes[node].name;
  base.serial = kDirectorySerials + tree.nodes[node].parent;
  if (hasBase) {
    std::string cleaned = cleanReference(baseHref);
    RefKind kind = referenceKind(cleaned);
    if (kind != RefKind::Local) {
      base.kind = kind == RefKind::External ? RefKind::External : RefKind::Ignored;
      return base;
    }
    std::string_view path = cleaned;
    path = path.substr(0, path.find('#'));
    path = path.substr(0, path.find('?'));
    std::vector<std::string_view> names;
    std::string decoded;
    decoded.reserve(path.size());
    PathState state{&names};
    bool rooted = !path.empty() && (path[0] == '/' || path[0] == '\\');
    if (!rooted) {
      for (const std::string& dir : base.dirs) names.push_back(dir);
      if (path.empty()) {
        if (!base.last.empty()) names.push_back(base.last);
      }
    }
    if (!applySegments(path, &state, &decoded)) {
      base.above = true;
      base.dirs.clear();
      base.last.clear();
    } else {
      bool dirForm = path.empty() ? false : state.dirForm;
      std::vector<std::string> owned(names.begin(), names.end());
      base.last.clear();
      if (!dirForm && !owned.empty()) {
        base.last = owned.back();
        owned.pop_back();
      }
      base.dirs = std::move(owned);
    }
    base.serial = ++baseSerials;
  }
  base.chain.push_back(0);
  for (const std::string& dir : base.dirs) {
    uint32_t next =
        tree.nodes[base.chain.back()].listed ? findChild(tree, base.chain.back(), dir) : kNoNode;
    if (next == kNoNode || !tree.nodes[next].directory) break;
    base.chain.push_back(next);
  }
  return base;
}

namespace {

// Paths remembered per thread; a power of two.
constexpr size_t kRemembered = 2048;

// The status and node of path (cleaned, without fragment and query) against
// base into *out.
void findTarget(const SiteTree& tree, const ResolveOptions& options, const UrlBase& base,
                std::string_view path, ResolveScratch* scratch, Resolution* out);

}  // namespace

Resolution resolveReference(const SiteTree& tree, const ResolveOptions& options,
                            const UrlBase& base, std::string_view cleaned,
                            ResolveScratch* scratch) {
  Resolution result;
  result.kind = referenceKind(cleaned);
  if (result.kind != RefKind::Local) return result;
  if (base.kind != RefKind::Local) {
    result.kind = base.kind;
    return result;
  }
  std::string_view path = cleaned;
  size_t hash = path.find('#');
  if (hash != std::string_view::npos) {
    result.hasFragment = true;
    result.fragment = path.substr(hash + 1);
    path = path.substr(0, hash);
  }
  path = path.substr(0, path.find('?'));
  // The empty path is the base's own file, which a directory's serial does
  // not tell.
  if (base.serial == 0 || path.empty()) {
    findTarget(tree, options, base, path, scratch, &result);
    return result;
  }
  const uint64_t serial = isSlash(path[0]) ? kRootedSerial : base.serial;
  std::vector<ResolveScratch::Remembered>& remembered = scratch->remembered;
  if (remembered.empty()) remembered.resize(kRemembered);
  const size_t pathHash = std::hash<std::string_view>()(path);
  ResolveScratch::Remembered& slot =
      remembered[(pathHash ^ (serial * 0x9E3779B97F4A7C15u >> 32)) & (kRemembered - 1)];
  if (slot.serial == serial && slot.path == path) {
    result.status = slot.status;
    result.node = slot.node;
    return result;
  }
  findTarget(tree, options, base, path, scratch, &result);
  slot.serial = serial;
  slot.path.assign(path);
  slot.status = result.status;
  slot.node = result.node;
  return result;
}

namespace {

void findTarget(const SiteTree& tree, const ResolveOptions& options, const UrlBase& base,
                std::string_view path, ResolveScratch* scratch, Resolution* out) {
  Resolution& result = *out;
  std::vector<std::string_view>& names = scratch->names;
  names.clear();
  scratch->decoded.clear();
  scratch->decoded.reserve(path.size());
  PathState state{&names};
  bool rooted = !path.empty() && (path[0] == '/' || path[0] == '\\');
  if (!rooted) {
    if (base.above) {
      result.status = TargetStatus::OutsideRoot;
      return;
    }
    for (const std::string& dir : base.dirs) names.push_back(dir);
    state.kept = names.size();
    if (path.empty()) {
      // The empty reference (a bare "#x" or "?q" too) is the base itself.
      if (!base.last.empty()) names.push_back(base.last);
      state.dirForm = base.last.empty();
    }
  }
  if (!path.empty() && !applySegments(path, &state, &scratch->decoded)) {
    result.status = TargetStatus::OutsideRoot;
    return;
  }

  if (names.empty()) {
    // ROOT itself: its index, in either search.
    result.node = findRootIndex(tree, options, false);
    if (result.node != kNoNode) {
      result.status = TargetStatus::Found;
    } else if (tree.nodes[0].listed) {
      result.node = findRootIndex(tree, options, true);
      result.status = result.node != kNoNode ? TargetStatus::CaseMismatch : TargetStatus::Missing;
    } else {
      result.status = TargetStatus::Unknown;
    }
    return;
  }

  // The exact search, starting from the deepest directory shared with the
  // base (already known to exist).
  size_t parentDepth = names.size() - 1;
  size_t depth = std::min({state.kept, parentDepth, base.chain.size() - 1});
  uint32_t dir = base.chain[depth];
  bool unknown = false;
  uint32_t hit = kNoNode;
  for (; depth < parentDepth; ++depth) {
    if (!tree.nodes[dir].listed) {
      unknown = true;
      break;
    }
    uint32_t child = findChild(tree, dir, names[depth]);
    if (child == kNoNode || !tree.nodes[child].directory) break;
    dir = child;
  }
  if (!unknown && depth == parentDepth) {
    if (!tree.nodes[dir].listed) {
      unknown = true;
    } else {
      hit = findInDirectory(tree, options, dir, names.back(), state.dirForm, false, &scratch->probe,
                            &unknown);
    }
  }
  if (hit != kNoNode) {
    result.status = TargetStatus::Found;
    result.node = hit;
    return;
  }
  if (unknown) {
    result.status = TargetStatus::Unknown;
    return;
  }
  hit = findIgnoringCase(tree, options, names, 0, 0, state.dirForm, &scratch->probe);
  result.status = hit != kNoNode ? TargetStatus::CaseMismatch : TargetStatus::Missing;
  result.node = hit;
  return;
}

}  // namespace

}  // namespace site
