// The walk of ROOT: every file and directory under it, through the file
// system's exact-spelling face, into the tree that references resolve in.
// Symbolic links are followed while they stay inside ROOT; a link that
// leads out, dangles or loops is left out as if it were not there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "site/walk/site_tree.h"

namespace site {

struct WalkOptions {
  // File names (not paths) of the files read as HTML, ASCII case ignored.
  std::vector<std::string> pages{"*.html", "*.htm"};
  // Paths under ROOT that are neither read nor orphans, as given to
  // --exclude (see ExcludePattern); a directory that matches takes
  // everything below it along.
  std::vector<std::string> excludes;
  // The report file, when the walk may meet it: never walked (neither read,
  // counted nor an orphan), whatever its name or the path that leads to it.
  bool skipReportFile = false;
  FileIdentity reportFile;
};

// A walked directory that could not be listed.
struct WalkError {
  std::string path;    // under ROOT
  std::string reason;  // the system's
};

struct WalkResult {
  SiteTree tree;
  std::vector<WalkedFile> files;  // neither hidden nor excluded, sorted by path bytes
  std::vector<WalkError> errors;  // in walk order
  // Per entry of WalkOptions::excludes: whether it matched some entry that
  // was neither hidden nor below an excluded directory.
  std::vector<bool> excludeUsed;
};

// Walks the directory hostRoot. False, with *error the system's reason, when
// ROOT itself cannot be listed; directories below that cannot be listed are
// left unlisted in the tree and named in result->errors, unless hidden or
// excluded (those go silently).
// How a file at path (under ROOT, '/'-separated; it need not exist) would be
// read by the walk: as a Page or a StyleSheet, or Other when it would not be
// read (hidden or excluded on its way, or neither kind by its name).
NodeRole walkedRole(const WalkOptions& options, std::string_view path);

bool walkSite(FileSystem& fileSystem, const std::string& hostRoot, const WalkOptions& options,
              WalkResult* result, std::string* error);

}  // namespace site
