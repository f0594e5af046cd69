// A walked tree built in memory from a list of paths, for the tests of
// resolution and checking, which never need the disk.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "site/walk/site_tree.h"

namespace site {

// A tree from paths under ROOT; a path ending in '/' is a directory, one
// ending in '!' a directory that could not be listed. Files named *.html
// are pages and *.css style sheets; a name beginning with '.' and all below
// it are not walked, as hidden files are not.
inline SiteTree makeTree(const std::vector<std::string>& paths) {
  // dir path -> entry name -> '/' (directory), '!' (unlisted) or 0 (file)
  std::map<std::string, std::map<std::string, char>> children;
  for (const std::string& path : paths) {
    std::string dir;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
      children[dir][path.substr(start, slash - start)] = '/';
      dir = path.substr(0, slash);
      children[dir];
    }
    if (start == path.size()) continue;
    bool unlisted = path.back() == '!';
    children[dir][path.substr(start, path.size() - start - unlisted)] = unlisted ? '!' : 0;
  }
  SiteTree tree;
  tree.nodes.push_back({});
  tree.nodes[0].directory = tree.nodes[0].listed = tree.nodes[0].walked = true;
  std::vector<std::pair<uint32_t, std::string>> queue{{0, ""}};
  for (size_t q = 0; q < queue.size(); ++q) {
    auto [node, dir] = queue[q];
    if (!tree.nodes[node].listed) continue;
    tree.nodes[node].firstChild = uint32_t(tree.nodes.size());
    for (const auto& [name, kind] : children[dir]) {
      TreeNode child;
      bool isDir = kind != 0;
      child.name = name;
      child.parent = node;
      child.directory = isDir;
      child.listed = kind == '/';
      child.walked = tree.nodes[node].walked && name[0] != '.';
      if (!isDir && name.ends_with(".html")) child.role = NodeRole::Page;
      if (!isDir && name.ends_with(".css")) child.role = NodeRole::StyleSheet;
      if (isDir)
        queue.push_back(
            {uint32_t(tree.nodes.size()), dir.empty() ? child.name : dir + "/" + child.name});
      tree.nodes.push_back(child);
      tree.nodes[node].childCount++;
    }
  }
  indexTree(&tree);
  return tree;
}

inline uint32_t nodeOf(const SiteTree& tree, const std::string& path) {
  for (uint32_t i = 0; i < tree.nodes.size(); ++i) {
    if (nodePath(tree, i) == path) return i;
  }
  return kNoNode;
}

}  // namespace site
