#include "site/walk/walk.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/hash_slots.h"
#include "site/walk/glob.h"

namespace site {

namespace {

constexpr uint32_t kNoRoute = UINT32_MAX;
// Directories held open at once besides ROOT, however deep the tree: one
// further up is opened again from the nearest one held, name by name.
constexpr size_t kHeldDirectories = 16;
// Links followed in resolving one link, as Linux counts them; more is a loop.
constexpr int kMaxLinkHops = 40;

uint64_t identityHash(const FileIdentity& id) {
  return (id.inode * 0x9e3779b97f4a7c15ull ^ id.device) * 0xff51afd7ed558ccdull;
}

// The real node of each file and directory met so far, by what it is on
// disk: node indexes keyed by their identity.
using ClaimedNodes = HashSlots<32, 32>;

// The node that already holds identity, or kNoNode after recording node as
// its holder.
uint32_t claimIdentity(ClaimedNodes* claimed, const std::vector<FileIdentity>& identities,
                       uint32_t node) {
  const uint64_t hash = identityHash(identities[node]);
  uint64_t held = 0;
  if (findInSlots(
          *claimed, hash, [&](uint64_t other) { return identities[other] == identities[node]; },
          &held)) {
    return uint32_t(held);
  }
  addToSlots(claimed, hash, node);
  return kNoNode;
}

// An open directory kept at hand, by route.
struct HeldRoute {
  uint32_t route = kNoRoute;
  uint64_t used = 0;  // when it was last asked for; the least recent goes first
  HeldHandle handle;
};

// A listed entry waiting for its turn: a file or a directory, any link
// already followed.
struct Pending {
  uint32_t node = kNoNode;
  bool directory = false;
  uint32_t route = kNoRoute;        // a directory reached through a link: its route
  uint32_t parentRoute = kNoRoute;  // otherwise: the directory holding it,
  std::string diskName;             //   and its entry there
  FileIdentity identity;
  std::string name;  // the listed name
  std::string path;  // under ROOT
};

// A directory being walked: its entries in walk order.
struct Frame {
  std::vector<Pending> entries;
  size_t next = 0;
};

// What one walk keeps while it runs.
struct WalkState {
  FileSystem* fileSystem = nullptr;
  const WalkOptions* options = nullptr;
  std::vector<ExcludePattern> excludes;
  WalkResult* result = nullptr;
  std::vector<FileIdentity> identity;  // by node, what each is on disk
  ClaimedNodes claimed;
  // The route of each (parent route, name) made so far.
  std::unordered_map<std::string, uint32_t> routeIndex;
  std::vector<HeldRoute> held;  // at most kHeldDirectories, never reallocated
  uint64_t clock = 0;
  // Hidden and excluded entries: visited once every walked one has had its
  // turn, so that a file reachable both from a walked path and from a hidden
  // or excluded one is walked.
  std::vector<Pending> deferred;
  std::vector<HeldEntry> listing;  // reused from directory to directory
  // Whether the walked files came out of path order, and the last one's.
  bool filesUnsorted = false;
  std::string lastFilePath;
};

std::string joined(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  std::string out = dir;
  if (out.back() != '/') out += '/';
  out += name;
  return out;
}

bool matchesAny(const std::vector<std::string>& globs, const std::string& text, bool ignoreCase) {
  for (const std::string& glob : globs) {
    if (globMatches(glob, text, ignoreCase)) return true;
  }
  return false;
}

std::vector<ExcludePattern> excludePatterns(const WalkOptions& options) {
  std::vector<ExcludePattern> patterns(options.excludes.size());
  for (size_t i = 0; i < patterns.size(); ++i) {
    // One that names nothing ("/") stays empty and matches nothing.
    parseExclude(options.excludes[i], &patterns[i]);
  }
  return patterns;
}

// True when one of patterns matches the entry at path; each that does is
// marked in *used.
bool excluded(const std::vector<ExcludePattern>& patterns, const std::string& path, bool directory,
              std::vector<bool>* used) {
  bool any = false;
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (patterns[i].glob.empty() || !excludeMatches(patterns[i], path, directory)) continue;
    any = true;
    if (used != nullptr) (*used)[i] = true;
  }
  return any;
}

NodeRole roleOf(const WalkOptions& options, const std::string& name) {
  if (matchesAny(options.pages, name, true)) return NodeRole::Page;
  if (name.size() >= 4 &&
      equalIgnoringCase(std::string_view(name).substr(name.size() - 4), ".css")) {
    return NodeRole::StyleSheet;
  }
  return NodeRole::Other;
}

std::vector<std::string> splitComponents(const std::string& text, size_t from) {
  std::vector<std::string> parts;
  size_t start = from;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The route of entry name of directory parent, made if new, into *route.
// False when it was met before as something else: the tree changed.
bool findOrAddRoute(WalkState& st, uint32_t parent, const std::string& name,
                    const FileIdentity& identity, uint32_t* route) {
  std::vector<DiskRoute>& routes = st.result->routes;
  std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
  key += name;
  auto [it, added] = st.routeIndex.try_emplace(std::move(key), uint32_t(routes.size()));
  if (added) routes.push_back({parent, name, identity});
  *route = it->second;
  return routes[*route].identity == identity;
}

// The open directory of route, or nullptr with *error: the system's reason,
// or kChangedDuringRun when a directory on the way is no longer the one
// first seen there. Opens what is not held from the nearest held directory
// above it, checking each on the way; the pointer lasts until the next call.
const HeldHandle* openRoute(WalkState& st, uint32_t route, std::string* error) {
  const std::vector<DiskRoute>& routes = st.result->routes;
  const HeldHandle* at = &st.result->root;
  std::vector<uint32_t> missing;  // routes to open, the deepest first
  for (uint32_t r = route; r != 0; r = routes[r].parent) {
    auto held = std::find_if(st.held.begin(), st.held.end(),
                             [r](const HeldRoute& slot) { return slot.route == r; });
    if (held != st.held.end()) {
      held->used = ++st.clock;
      at = &held->handle;
      break;
    }
    missing.push_back(r);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    HeldHandle next;
    FileIdentity identity;
    std::string reason;
    const OpenOutcome outcome =
        openChildDirectory(*at, routes[*it].name, &next, &identity, &reason);
    if (outcome != OpenOutcome::Opened || !(identity == routes[*it].identity)) {
      const bool changed = outcome == OpenOutcome::Opened || outcome == OpenOutcome::Link ||
                           outcome == OpenOutcome::WrongKind;
      *error = changed ? kChangedDuringRun : reason;
      return nullptr;
    }
    // The slot to fill: a free one, else the least recently used, which is
    // never the one at points into (that was just used).
    HeldRoute* slot = nullptr;
    if (st.held.size() < kHeldDirectories) {
      slot = &st.held.emplace_back();
    } else {
      slot = &*std::min_element(
          st.held.begin(), st.held.end(),
          [](const HeldRoute& a, const HeldRoute& b) { return a.used < b.used; });
    }
    slot->route = *it;
    slot->used = ++st.clock;
    slot->handle = std::move(next);
    at = &slot->handle;
  }
  return at;
}

// For an absolute link target: the components that follow the first part
// of it that is ROOT itself (by identity, however ROOT is spelled or reached)
// into *rest. False when no part of it is ROOT: the target lies outside.
bool partBelowRoot(WalkState& st, const std::string& target, size_t rootLength,
                   std::vector<std::string>* rest) {
  const FileIdentity& rootIdentity = st.result->routes[0].identity;
  const std::vector<std::string> parts = splitComponents(target, rootLength);
  std::string prefix = target.substr(0, rootLength);
  for (size_t i = 0;; ++i) {
    FileIdentity identity;
    if (st.fileSystem->statPath(prefix, &identity) == EntryKind::Directory &&
        identity == rootIdentity) {
      rest->assign(parts.begin() + std::ptrdiff_t(i), parts.end());
      return true;
    }
    if (i == parts.size()) return false;
    if (prefix.size() > rootLength) prefix += '/';
    prefix += parts[i];
  }
}

// Follows link name of the directory of route to what it leads to, one name
// at a time from that directory, never above ROOT, into *entry: a directory
// (its route) or a file (its directory's route and name). False when the
// link dangles, loops, leads out of ROOT or through something that is not a
// directory.
bool followLink(WalkState& st, uint32_t route, const std::string& name, Pending* entry) {
  const std::vector<DiskRoute>& routes = st.result->routes;
  std::vector<uint32_t> at;  // the routes from ROOT to the directory reached
  for (uint32_t r = route; r != kNoRoute; r = routes[r].parent) at.push_back(r);
  std::reverse(at.begin(), at.end());
  std::vector<std::string> todo;  // names still to follow, the next one last
  int hops = 0;
  std::string reason;
  // Puts the target of link linkName (in the directory at.back()) in front
  // of what is still to follow.
  auto expand = [&](const std::string& linkName) {
    std::string target;
    const HeldHandle* dir = openRoute(st, at.back(), &reason);
    if (++hops > kMaxLinkHops || dir == nullptr || !readLinkTarget(*dir, linkName, &target) ||
        target.empty()) {
      return false;
    }
    std::vector<std::string> parts;
    const size_t rootLength = absoluteTargetRoot(target);
    if (rootLength > 0) {
      if (!partBelowRoot(st, target, rootLength, &parts)) return false;
      at.resize(1);
    } else {
      parts = splitComponents(target, 0);
    }
    // "x/" leads to a directory or nowhere.
    if (target.back() == '/') parts.push_back(".");
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
    return true;
  };
  if (!expand(name)) return false;
  while (!todo.empty()) {
    const std::string part = std::move(todo.back());
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      if (at.size() == 1) return false;  // above ROOT
      at.pop_back();
      continue;
    }
    const HeldHandle* dir = openRoute(st, at.back(), &reason);
    HeldKind kind;
    FileIdentity identity;
    if (dir == nullptr ||
        inspectEntry(*dir, part, &kind, &identity, &reason) != OpenOutcome::Opened) {
      return false;
    }
    if (kind == HeldKind::Link) {
      if (!expand(part)) return false;
    } else if (kind == HeldKind::Directory) {
      uint32_t next;
      if (!findOrAddRoute(st, at.back(), part, identity, &next)) return false;
      at.push_back(next);
    } else if (kind == HeldKind::File && todo.empty()) {
      entry->directory = false;
      entry->parentRoute = at.back();
      entry->diskName = part;
      entry->identity = identity;
      return true;
    } else {
      return false;
    }
  }
  entry->directory = true;
  entry->route = at.back();
  entry->identity = routes[at.back()].identity;
  return true;
}

// True when identity is that of directory node or of one above it: a link
// there would lead round in a circle.
bool isLoop(const WalkState& st, uint32_t node, const FileIdentity& identity) {
  const std::vector<TreeNode>& nodes = st.result->tree.nodes;
  for (uint32_t at = node; at != kNoNode; at = nodes[at].parent) {
    if (st.identity[at] == identity) return true;
  }
  return false;
}

// Lists directory node (at route, path under ROOT) into the tree: its
// entries become its children, in name order, and *frame holds them in walk
// order (bytes of their paths, a directory's path taken with its '/', so
// that everything below it falls where its own paths do). Links are
// followed here; dangling ones and loops are left out. False, with *error,
// when the directory cannot be listed.
bool listDirectory(WalkState& st, uint32_t node, uint32_t route, const std::string& path,
                   Frame* frame, std::string* error) {
  std::vector<TreeNode>& nodes = st.result->tree.nodes;
  const HeldHandle* dir = openRoute(st, route, error);
  if (dir == nullptr || !listHeldDirectory(*dir, &st.listing, error)) return false;
  nodes[node].listed = true;
  std::vector<Pending> kept;
  kept.reserve(st.listing.size());
  for (HeldEntry& listed : st.listing) {
    Pending entry;
    if (listed.kind == HeldKind::Link) {
      if (!followLink(st, route, listed.name, &entry)) continue;
    } else if (listed.kind == HeldKind::File || listed.kind == HeldKind::Directory) {
      entry.directory = listed.kind == HeldKind::Directory;
      entry.parentRoute = route;
      entry.diskName = listed.name;
      entry.identity = listed.identity;
    } else {
      continue;
    }
    if (entry.directory && isLoop(st, node, entry.identity)) continue;
    entry.name = std::move(listed.name);
    kept.push_back(std::move(entry));
  }
  // Indexes are sorted, not the entries, which are heavy to move.
  std::vector<uint32_t> order(kept.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return kept[a].name < kept[b].name; });

  const bool walked = nodes[node].walked;
  nodes[node].firstChild = uint32_t(nodes.size());
  nodes[node].childCount = uint32_t(kept.size());
  for (uint32_t i : order) {
    Pending& entry = kept[i];
    TreeNode child;
    child.name = entry.name;
    child.parent = node;
    child.directory = entry.directory;
    entry.path = joined(path, entry.name);
    child.walked = walked && entry.name[0] != '.' &&
                   !excluded(st.excludes, entry.path, child.directory, &st.result->excludeUsed);
    if (!child.directory) child.role = roleOf(*st.options, entry.name);
    // The report file, under whatever name or path: never walked.
    if (child.walked && !child.directory && st.options->skipReportFile &&
        entry.identity == st.options->reportFile) {
      child.walked = false;
    }
    entry.node = uint32_t(nodes.size());
    nodes.push_back(std::move(child));
    st.identity.push_back(entry.identity);
  }
  // Walk order: a directory's name is taken with its '/'.
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return walkOrderLess(kept[a].name, kept[a].directory, kept[b].name, kept[b].directory);
  });
  frame->entries.clear();
  frame->entries.reserve(kept.size());
  for (uint32_t i : order) frame->entries.push_back(std::move(kept[i]));
  frame->next = 0;
  return true;
}

// Gives entry its turn: the first path to a file or directory makes it real
// (a directory is then listed, its frame pushed on *frames), any later one
// an alias. With deferHidden, hidden and excluded entries wait in
// st.deferred instead.
void visit(WalkState& st, Pending&& entry, bool deferHidden, std::vector<Frame>* frames) {
  WalkResult& result = *st.result;
  TreeNode& node = result.tree.nodes[entry.node];
  if (!node.walked && deferHidden) {
    st.deferred.push_back(std::move(entry));
    return;
  }
  const uint32_t real = claimIdentity(&st.claimed, st.identity, entry.node);
  if (real != kNoNode) {
    node.alias = real;
    node.walked = false;
    return;
  }
  if (!node.directory) {
    if (node.walked) {
      if (!st.filesUnsorted && !result.files.empty() && entry.path < st.lastFilePath) {
        st.filesUnsorted = true;
      }
      st.lastFilePath = std::move(entry.path);
      result.files.push_back({entry.node});
      DiskPlace place{entry.parentRoute, UINT32_MAX, entry.identity};
      if (entry.diskName != node.name) {
        place.linkedName = uint32_t(result.linkedNames.size());
        result.linkedNames.push_back(std::move(entry.diskName));
      }
      result.places.push_back(place);
    }
    return;
  }
  const bool walked = node.walked;
  uint32_t route = entry.route;
  std::string error;
  if (route == kNoRoute &&
      !findOrAddRoute(st, entry.parentRoute, entry.diskName, entry.identity, &route)) {
    error = kChangedDuringRun;
  } else {
    Frame frame;
    if (listDirectory(st, entry.node, route, entry.path, &frame, &error)) {
      frames->push_back(std::move(frame));
      return;
    }
  }
  if (walked) result.errors.push_back({std::move(entry.path), std::move(error)});
}

// Visits everything in *frames, depth first.
void walkFrames(WalkState& st, std::vector<Frame>* frames, bool deferHidden) {
  while (!frames->empty()) {
    Frame& top = frames->back();
    if (top.next == top.entries.size()) {
      frames->pop_back();
      continue;
    }
    Pending entry = std::move(top.entries[top.next++]);
    visit(st, std::move(entry), deferHidden, frames);
  }
}

}  // namespace

NodeRole walkedRole(const WalkOptions& options, std::string_view path) {
  const std::vector<ExcludePattern> patterns = excludePatterns(options);
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    const std::string name(path.substr(start, slash - start));
    if (name.empty() || name[0] == '.') return NodeRole::Other;
    const bool directory = slash != std::string_view::npos;
    if (excluded(patterns, std::string(path.substr(0, slash)), directory, nullptr))
      return NodeRole::Other;
    if (slash == std::string_view::npos) return roleOf(options, name);
    start = slash + 1;
  }
}

bool walkSite(FileSystem& fileSystem, const std::string& hostRoot, const WalkOptions& options,
              WalkResult* result, std::string* error) {
  SiteTree& tree = result->tree;
  tree = SiteTree();
  result->files.clear();
  result->errors.clear();
  result->routes.clear();
  result->places.clear();
  result->linkedNames.clear();

  FileIdentity rootIdentity;
  if (openHeldDirectory(hostRoot, &result->root, &rootIdentity, error) != OpenOutcome::Opened) {
    return false;
  }
  WalkState st;
  st.fileSystem = &fileSystem;
  st.options = &options;
  st.excludes = excludePatterns(options);
  result->excludeUsed.assign(st.excludes.size(), false);
  st.result = result;
  st.held.reserve(kHeldDirectories);
  result->routes.push_back({kNoRoute, "", rootIdentity});
  TreeNode root;
  root.directory = true;
  root.walked = true;
  tree.nodes.push_back(root);
  st.identity.push_back(rootIdentity);
  claimIdentity(&st.claimed, st.identity, 0);

  std::vector<Frame> frames(1);
  if (!listDirectory(st, 0, 0, "", &frames[0], error)) return false;
  walkFrames(st, &frames, true);
  // Hidden and excluded entries, in walk order; deferring no further, so
  // st.deferred does not grow meanwhile.
  for (size_t i = 0; i < st.deferred.size(); ++i) {
    visit(st, std::move(st.deferred[i]), false, &frames);
    walkFrames(st, &frames, false);
  }

  for (TreeNode& node : tree.nodes) {
    if (node.alias == kNoNode) continue;
    const TreeNode& real = tree.nodes[node.alias];
    node.role = real.role;
    node.listed = real.listed;
    node.firstChild = real.firstChild;
    node.childCount = real.childCount;
  }
  indexTree(&tree);
  // What the check keeps from here on: no room left for growth.
  tree.nodes.shrink_to_fit();

  // Walk order is path order already but where links and hidden entries
  // reorder it; the paths and copies are only made then.
  if (!st.filesUnsorted) {
    result->files.shrink_to_fit();
    result->places.shrink_to_fit();
    return true;
  }
  std::vector<std::string> paths(result->files.size());
  for (size_t i = 0; i < paths.size(); ++i) paths[i] = nodePath(tree, result->files[i].node);
  std::vector<uint32_t> order(result->files.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return paths[a] < paths[b]; });
  std::vector<WalkedFile> files;
  std::vector<DiskPlace> places;
  files.reserve(order.size());
  places.reserve(order.size());
  for (uint32_t i : order) {
    files.push_back(std::move(result->files[i]));
    places.push_back(std::move(result->places[i]));
  }
  result->files = std::move(files);
  result->places = std::move(places);
  return true;
}

bool walkOrderLess(std::string_view a, bool aDirectory, std::string_view b, bool bDirectory) {
  const size_t common = std::min(a.size(), b.size());
  const int order = a.substr(0, common).compare(b.substr(0, common));
  if (order != 0) return order < 0;
  // The byte after the common part: the longer name's next one, the other's
  // '/', or none at all (-1). Names hold no '/', so two are equal only when
  // the keys are.
  auto next = [common](std::string_view name, bool directory) -> int {
    if (name.size() > common) return static_cast<unsigned char>(name[common]);
    return directory ? '/' : -1;
  };
  return next(a, aDirectory) < next(b, bDirectory);
}

bool readWalkedFile(const WalkResult& walk, size_t fileIndex, std::string* bytes,
                    std::string* error) {
  bytes->clear();
  HeldHandle file;
  return openWalkedFile(walk, fileIndex, &file, error) && readHeldFile(file, bytes, error);
}

bool openWalkedFile(const WalkResult& walk, size_t fileIndex, HeldHandle* opened,
                    std::string* error) {
  const DiskPlace& place = walk.places[fileIndex];
  std::vector<uint32_t> chain;  // the directories below ROOT on the way, the deepest first
  for (uint32_t r = place.route; r != 0; r = walk.routes[r].parent) chain.push_back(r);
  std::string relative;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    relative += walk.routes[*it].name;
    relative += '/';
  }
  const std::string& name = place.linkedName == UINT32_MAX
                                ? walk.tree.nodes[walk.files[fileIndex].node].name
                                : walk.linkedNames[place.linkedName];
  relative += name;

  HeldHandle file;
  FileIdentity identity;
  std::string reason;
  OpenOutcome outcome = openFileBeneath(walk.root, relative, &file, &identity, &reason);
  if (outcome == OpenOutcome::Unsupported) {
    // One name at a time, each directory on the way checked against the
    // one the walk listed.
    HeldHandle dir;
    const HeldHandle* at = &walk.root;
    outcome = OpenOutcome::Opened;
    for (auto it = chain.rbegin(); it != chain.rend() && outcome == OpenOutcome::Opened; ++it) {
      HeldHandle next;
      outcome = openChildDirectory(*at, walk.routes[*it].name, &next, &identity, &reason);
      if (outcome == OpenOutcome::Opened && !(identity == walk.routes[*it].identity)) {
        outcome = OpenOutcome::WrongKind;
      }
      dir = std::move(next);
      at = &dir;
    }
    if (outcome == OpenOutcome::Opened) {
      outcome = openChildFile(*at, name, &file, &identity, &reason);
    }
  }
  switch (outcome) {
    case OpenOutcome::Opened:
      // A file on another device than the one listed is a file mounted
      // there, whose listing named what it covers; no rename moves a file
      // across devices.
      if (identity == place.identity || identity.device != place.identity.device) {
        *opened = std::move(file);
        return true;
      }
      *error = kChangedDuringRun;
      return false;
    case OpenOutcome::Link:
    case OpenOutcome::WrongKind:
    case OpenOutcome::Escapes:
      *error = kChangedDuringRun;
      return false;
    default:
      *error = reason;
      return false;
  }
}

}  // namespace site
