#include "site/walk/walk.h"

#include <algorithm>

#include "platform/ascii_case.h"
#include "site/walk/glob.h"

namespace site {

namespace {

struct PendingDirectory {
  uint32_t node;
  std::string hostPath;
  std::string path;  // under ROOT; empty for ROOT
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

// True when canonical lies in canonicalRoot or below it.
bool staysInside(const std::string& canonical, const std::string& canonicalRoot) {
  if (canonical == canonicalRoot) return true;
  std::string prefix = canonicalRoot;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  return canonical.compare(0, prefix.size(), prefix) == 0;
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
  tree.nodes.clear();
  result->files.clear();
  result->errors.clear();
  const std::vector<ExcludePattern> excludes = excludePatterns(options);
  result->excludeUsed.assign(excludes.size(), false);

  std::string canonicalRoot;
  std::vector<DirectoryEntry> entries;
  if (!fileSystem.listEntries(hostRoot, &entries, error)) return false;
  if (!fileSystem.canonicalPath(hostRoot, &canonicalRoot)) canonicalRoot = hostRoot;

  // Each directory's identity, to tell a link back to a directory above it
  // (a loop) from a second path to some other directory (an alias).
  std::vector<FileIdentity> identity;
  TreeNode root;
  root.directory = true;
  root.walked = true;
  tree.nodes.push_back(root);
  identity.emplace_back();
  fileSystem.statPath(hostRoot, &identity[0]);

  std::vector<PendingDirectory> stack;
  stack.push_back({0, hostRoot, ""});
  bool first = true;
  while (!stack.empty()) {
    PendingDirectory dir = std::move(stack.back());
    stack.pop_back();
    const bool dirWalked = tree.nodes[dir.node].walked;
    std::string reason;
    if (!first && !fileSystem.listEntries(dir.hostPath, &entries, &reason)) {
      if (dirWalked) result->errors.push_back({dir.path, reason});
      continue;
    }
    first = false;
    tree.nodes[dir.node].listed = true;
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });

    const uint32_t firstChild = uint32_t(tree.nodes.size());
    std::vector<PendingDirectory> below;
    for (const DirectoryEntry& entry : entries) {
      if (entry.kind != EntryKind::File && entry.kind != EntryKind::Directory) continue;
      std::string hostPath = joined(dir.hostPath, entry.name);
      if (entry.symlink) {
        std::string canonical;
        if (!fileSystem.canonicalPath(hostPath, &canonical) ||
            !staysInside(canonical, canonicalRoot)) {
          continue;
        }
      }
      FileIdentity id;
      if (entry.kind == EntryKind::Directory) {
        if (fileSystem.statPath(hostPath, &id) != EntryKind::Directory) continue;
        bool loop = false;
        for (uint32_t at = dir.node; at != kNoNode && !loop; at = tree.nodes[at].parent) {
          loop = identity[at].device == id.device && identity[at].inode == id.inode;
        }
        if (loop) continue;
      }
      TreeNode node;
      node.name = entry.name;
      node.parent = dir.node;
      node.directory = entry.kind == EntryKind::Directory;
      std::string path = joined(dir.path, entry.name);
      node.walked = dirWalked && entry.name[0] != '.' &&
                    !excluded(excludes, path, node.directory, &result->excludeUsed);
      if (!node.directory) node.role = roleOf(options, entry.name);
      if (node.walked && !node.directory && options.skipReportFile) {
        FileIdentity fileId;
        node.walked = fileSystem.statPath(hostPath, &fileId) == EntryKind::Missing ||
                      !(fileId == options.reportFile);
      }
      const uint32_t index = uint32_t(tree.nodes.size());
      if (node.directory) {
        below.push_back({index, std::move(hostPath), path});
      } else if (node.walked) {
        result->files.push_back({index, std::move(path)});
      }
      tree.nodes.push_back(std::move(node));
      identity.push_back(id);
    }
    tree.nodes[dir.node].firstChild = firstChild;
    tree.nodes[dir.node].childCount = uint32_t(tree.nodes.size()) - firstChild;
    for (auto it = below.rbegin(); it != below.rend(); ++it) stack.push_back(std::move(*it));
  }
  indexTree(&tree);
  std::sort(result->files.begin(), result->files.end(),
            [](const WalkedFile& a, const WalkedFile& b) { return a.path < b.path; });
  return true;
}

}  // namespace site
