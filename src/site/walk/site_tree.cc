#include "site/walk/site_tree.h"

#include <algorithm>
#include <cstring>

namespace site {

namespace {

uint64_t mix(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0x9e3779b97f4a7c15ull;
  return hash ^ (hash >> 29);
}

// The name eight bytes at a time, seeded with the parent: a look-up costs
// one probe into the table and one into the node, where a binary search
// over a large directory would touch many nodes.
uint64_t entryHash(uint32_t parent, std::string_view name) {
  uint64_t hash = mix(0xcbf29ce484222325ull ^ name.size(), parent);
  size_t at = 0;
  for (; name.size() - at >= 8; at += 8) {
    uint64_t word;
    std::memcpy(&word, name.data() + at, 8);
    hash = mix(hash, word);
  }
  uint64_t tail = 0;
  if (at < name.size()) std::memcpy(&tail, name.data() + at, name.size() - at);
  return mix(hash, tail);
}

}  // namespace

void indexTree(SiteTree* tree) {
  resetSlots(&tree->slots, tree->nodes.size());
  for (uint32_t i = 1; i < tree->nodes.size(); ++i) {
    const TreeNode& node = tree->nodes[i];
    addToSlots(&tree->slots, entryHash(node.parent, node.name), i);
  }
}

uint32_t findChild(const SiteTree& tree, uint32_t dir, std::string_view name) {
  dir = realNode(tree, dir);
  uint64_t node = 0;
  const bool found = findInSlots(
      tree.slots, entryHash(dir, name),
      [&](uint64_t other) {
        return tree.nodes[other].parent == dir && tree.nodes[other].name == name;
      },
      &node);
  return found ? uint32_t(node) : kNoNode;
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
