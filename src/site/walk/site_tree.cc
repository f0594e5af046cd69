#include "site/walk/site_tree.h"

#include <algorithm>

namespace site {

uint32_t findChild(const SiteTree& tree, uint32_t dir, std::string_view name) {
  const TreeNode& parent = tree.nodes[dir];
  auto begin = tree.nodes.begin() + parent.firstChild;
  auto end = begin + parent.childCount;
  auto it = std::lower_bound(begin, end, name, [](const TreeNode& node, std::string_view key) {
    return std::string_view(node.name) < key;
  });
  if (it == end || it->name != name) return kNoNode;
  return uint32_t(it - tree.nodes.begin());
}

std::string nodePath(const SiteTree& tree, uint32_t node) {
  std::vector<uint32_t> chain;
  for (uint32_t at = node; at != 0 && at != kNoNode; at = tree.nodes[at].parent)
    chain.push_back(at);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += tree.nodes[*it].name;
  }
  return path;
}

}  // namespace site
