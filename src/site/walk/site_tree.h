// The walked site as the resolver sees it: every file and directory under
// ROOT by its stored name, hidden and excluded ones included (references to
// them resolve, though they are not read). Built once by the walk, then only
// read, by any number of threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
};

struct SiteTree {
  std::vector<TreeNode> nodes;  // nodes[0] is ROOT
  // A hash table over (parent, name) for findChild(): node indexes,
  // kNoNode in empty slots; its size is a power of two. Built by indexTree().
  std::vector<uint32_t> slots;
};

// Builds tree->slots once every node is in.
void indexTree(SiteTree* tree);

// A file that the walk read or may report: neither hidden nor excluded.
struct WalkedFile {
  uint32_t node = kNoNode;
  std::string path;  // '/'-separated, under ROOT
};

// The entry of directory dir named exactly name, or kNoNode. The tree must
// have been indexed.
uint32_t findChild(const SiteTree& tree, uint32_t dir, std::string_view name);

// The '/'-separated path of node under ROOT ("docs/a.html"; "" for ROOT).
std::string nodePath(const SiteTree& tree, uint32_t node);

}  // namespace site
