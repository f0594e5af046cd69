// The file system as tangler sees it: Windows file-name semantics on any host.
// Names match ignoring ASCII letter case in every component of a path; both
// '\' and '/' separate components; "." and ".." are folded away by name, as
// Windows does, before anything is looked up; a drive letter ("c:") matches
// nothing. Where a directory holds several names that differ only in case,
// the exact spelling wins, else the first in directory order.
//
// That is the POSIX build (directory_posix.cc). The Windows build
// (directory_win32.cc) leaves it all to the system: its own case folding,
// separators and drive letters, its wildcard rules (8.3 short names match
// too), and its listing order, which findFiles() keeps; resolvePath() hands
// the path back as written and the cache goes unused.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

// Directory listings kept for a stretch of a run in which tangler only reads
// the site, so that resolving many names in one large directory reads it
// once instead of once per name. A listing is a snapshot: files that appear
// or vanish later are not seen through it. Pass nullptr wherever a fresh
// look at the disk is wanted.
struct DirectoryCache {
  struct Listing {
    bool readable = false;
    std::vector<std::string> names;  // as the host lists them
    // Lower-cased name -> the stored names that fold to it, in directory order.
    std::unordered_map<std::string, std::vector<std::string>> byFoldedName;
  };
  std::unordered_map<std::string, Listing> listings;  // by host directory path
  // What stat() said of a host path, following links: kinds as st_mode's
  // S_IFMT bits, 0 where it failed. Many references name the same few files.
  std::unordered_map<std::string, unsigned> kinds;
};

// The stored names (bare, without any directory part, in stored letter case)
// of the files that match pattern: a directory part taken literally (letter
// case ignored) and a last component with wildcards ('*' any run of
// characters, '?' exactly one, letter case ignored; a trailing ".*" also
// matches names without a dot, so "*.*" matches every name). Skipped:
// directories, hidden files (names beginning with '.'), names holding a byte
// below 0x20, and anything that is not a regular file after following links.
// Sorted byte by byte with the ASCII letters folded to upper case, ties
// broken by the exact bytes. Empty when nothing matches or the directory
// cannot be read.
// With a cache, the directory is read through it (and a pattern without
// wildcards costs a table look-up, not a pass over the directory).
std::vector<std::string> findFiles(const std::string& pattern, DirectoryCache* cache = nullptr);

// True when path names an existing file or directory (letter case ignored).
// The empty path does not exist.
bool pathExists(const std::string& path, DirectoryCache* cache = nullptr);

// Deletes the file at path (letter case ignored). False on failure.
bool deleteFile(const std::string& path);

// The current directory, whole; the empty text if it cannot be read.
std::string currentDirectory();

// Turns path into the name the host file system holds, resolving each
// component ignoring letter case. For a path that does not exist, returns the
// longest existing prefix resolved and the rest as written (with '/'
// separators), so that a file can be created under it. False when a drive
// letter or an empty path makes it unusable.
bool resolvePath(const std::string& path, std::string* hostPath, DirectoryCache* cache = nullptr);

// True when name matches the wildcard pattern as findFiles() matches names.
bool wildcardMatch(const std::string& pattern, const std::string& name);

// The order findFiles() yields names in: true when a sorts before b.
bool directoryOrderLess(const std::string& a, const std::string& b);
