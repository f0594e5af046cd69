// The walk of ROOT: every file and directory under it, into the tree that
// references resolve in, and the way back to each file it found. Everything
// is reached one name at a time from ROOT held open, so no path is too long
// and no more than a few directories are open at once. Symbolic links are
// followed, name by name and never above ROOT, while they stay inside it; a
// link that leads out, dangles or loops is left out as if it were not there.
// Each real file and directory is walked once, under its first path; other
// paths to it are aliases in the tree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/directory_handles.h"
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

// A directory as the walk reached it on disk: entry name of the directory
// of route parent, no link on the way. routes[0] is ROOT.
struct DiskRoute {
  uint32_t parent = UINT32_MAX;
  std::string name;
  FileIdentity identity;
};

// Where a walked file lies on disk, and what it was when the walk saw it.
struct DiskPlace {
  uint32_t route = 0;  // the directory holding it
  // Its entry there is the file's node's name, but for a file walked through
  // a link: then the link target's name, WalkResult::linkedNames[linkedName].
  uint32_t linkedName = UINT32_MAX;
  FileIdentity identity;
};

struct WalkResult {
  SiteTree tree;
  std::vector<WalkedFile> files;  // real, neither hidden nor excluded, sorted by path bytes
  std::vector<WalkError> errors;  // in walk order
  // Per entry of WalkOptions::excludes: whether it matched some entry that
  // was neither hidden nor below an excluded directory.
  std::vector<bool> excludeUsed;
  // How each walked file is opened again: ROOT, held open from the start,
  // and the names from it.
  HeldHandle root;
  std::vector<DiskRoute> routes;
  std::vector<DiskPlace> places;  // places[i] is where files[i] lies
  std::vector<std::string> linkedNames;
};

// The reason a file that is no longer what the walk saw is given.
inline const char kChangedDuringRun[] = "changed during the run";

// How a file at path (under ROOT, '/'-separated; it need not exist) would be
// read by the walk: as a Page or a StyleSheet, or Other when it would not be
// read (hidden or excluded on its way, or neither kind by its name).
NodeRole walkedRole(const WalkOptions& options, std::string_view path);

// Walks the directory hostRoot. False, with *error the system's reason, when
// ROOT itself cannot be opened or listed; directories below that cannot be
// listed are left unlisted in the tree and named in result->errors, unless
// hidden or excluded (those go silently). fileSystem is asked only where an
// absolute link target meets ROOT.
bool walkSite(FileSystem& fileSystem, const std::string& hostRoot, const WalkOptions& options,
              WalkResult* result, std::string* error);

// Reads walked file fileIndex whole into *bytes: opened from ROOT by the
// names the walk found it under, following no link, and only when it is
// still the file the walk saw. False, with *error the system's reason, or
// kChangedDuringRun when something else now stands there (another file, a
// link, a directory on the way replaced). Safe to call from several threads
// at once.
bool readWalkedFile(const WalkResult& walk, size_t fileIndex, std::string* bytes,
                    std::string* error);

// The order of entries of one directory in the walk: whether name a (with a
// '/' after it when aDirectory) sorts before name b (likewise), byte by
// byte, so that everything below a directory falls where its paths do.
bool walkOrderLess(std::string_view a, bool aDirectory, std::string_view b, bool bDirectory);

// Opens walked file fileIndex as readWalkedFile() does, for reading it a
// piece at a time (readHeldPiece()). False, with *error, as there.
bool openWalkedFile(const WalkResult& walk, size_t fileIndex, HeldHandle* file, std::string* error);

}  // namespace site
