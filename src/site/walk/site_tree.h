// The walked site as the resolver sees it: every file and directory under
// ROOT by its stored name, hidden and excluded ones included (references to
// them resolve, though they are not read). Built once by the walk, then only
// read, by any number of threads at once.
//
// A file or directory that can be reached under several paths (through
// symbolic links) is one real node, at its first path; each other path's
// last entry is an alias node that names the real one. An alias directory
// shares the real directory's children (the same node range, which findChild
// follows too), so that a path through it resolves without its subtree being
// copied. A traversal that does not descend into aliases sees every real
// node once; one that does may meet a subtree many times, or without end
// (a hidden directory's link can lead back round through another path).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hash_slots.h"

namespace site {

constexpr uint32_t kNoNode = UINT32_MAX;

enum class NodeRole : unsigned char {
  Other,       // a file that is only tested for existence (an image, a PDF)
  Page,        // a file matching --pages: read as HTML
  StyleSheet,  // a .css file: read as CSS
};

struct TreeNode {
  std::string name;           // stored bytes; empty for ROOT
  uint32_t parent = kNoNode;  // kNoNode for ROOT
  uint32_t firstChild = 0;    // a directory's entries are nodes
  uint32_t childCount = 0;    //   [firstChild, firstChild + childCount), sorted by name bytes
  bool directory = false;
  bool walked =
      false;  // neither hidden nor excluded: read when a page or style sheet, may be an orphan
  bool listed = false;  // a directory whose entries are known (false when it could not be listed)
  NodeRole role = NodeRole::Other;
  // For an alias, the real node it is another path to (never itself an
  // alias); kNoNode for a real node. An alias is never walked, and has its
  // real node's role, listed, firstChild and childCount.
  uint32_t alias = kNoNode;
};

struct SiteTree {
  std::vector<TreeNode> nodes;  // nodes[0] is ROOT
  // Node indexes by a hash of (parent, name), for findChild(). Built by
  // indexTree().
  HashSlots<32, 32> slots;
};

// Builds tree->slots once every node is in.
void indexTree(SiteTree* tree);

// A file that the walk read or may report: neither hidden nor excluded.
// Its path under ROOT is nodePath(tree, node): not kept, since the report
// makes it from the tree when it writes it.
struct WalkedFile {
  uint32_t node = kNoNode;
};

// The real node that node stands for: node itself, or the one it is an alias
// of. kNoNode stays kNoNode.
inline uint32_t realNode(const SiteTree& tree, uint32_t node) {
  return node != kNoNode && tree.nodes[node].alias != kNoNode ? tree.nodes[node].alias : node;
}

// The entry of directory dir (or of the real directory that dir is an alias
// of) named exactly name, or kNoNode; the entry itself, which may be an
// alias. The tree must have been indexed.
uint32_t findChild(const SiteTree& tree, uint32_t dir, std::string_view name);

// The '/'-separated path of node under ROOT ("docs/a.html"; "" for ROOT).
std::string nodePath(const SiteTree& tree, uint32_t node);

}  // namespace site
