// The one object through which a run reaches the file system. It has two
// faces: tangler's, which reads names the way Windows does on any host and
// can keep what it learns of the site while the run only reads it, and the
// exact-spelling face, which takes host paths literally and keeps nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/hash_slots.h"

enum class EntryKind : unsigned char { Missing, File, Directory, Other };

struct DirectoryEntry {
  std::string name;  // the stored bytes of the name
  EntryKind kind;    // after following symbolic links; Missing for a dangling link or a loop
  bool symlink;      // the entry itself is a symbolic link (on Windows, or a junction)
};

// What tells two paths to the same file or directory apart.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What the POSIX build of tangler's face has learnt of the disk while
// caching is on. Only FileSystem touches it.
struct DirectoryCache {
  static constexpr uint32_t kNoName = UINT32_MAX;
  DirectoryCache() = default;
  // A copy starts empty, since what is kept points into the cache it was
  // kept in; a move keeps it all.
  DirectoryCache(const DirectoryCache&) {}
  DirectoryCache& operator=(const DirectoryCache& other) {
    if (this != &other) *this = DirectoryCache();
    return *this;
  }
  DirectoryCache(DirectoryCache&&) = default;
  DirectoryCache& operator=(DirectoryCache&&) = default;
  struct Listing {
    bool readable = false;
    std::vector<std::string> names;  // as the host lists them, until sorted (below)
    // What the listing itself says of each name; Missing where it does not
    // say (a link, or a file system that keeps no types), so stat() decides.
    std::vector<EntryKind> kinds;
    // The names that are equal but for case, found by the hash of their
    // lower-cased bytes in a table whose slots hold the hash's top half
    // above the first one's index + 1 (0: empty); sameFold[i]
    // is the next such index (kNoName ends), in the order directory searches
    // yield them. Built on first use; flat, so that a look-up in a listing
    // of 100,000 names touches a few cache lines.
    HashSlots<32, 32> foldedSlots;
    std::vector<uint32_t> sameFold;
    // One bit for each (length mod 32, last byte mod 32) that a name has, so
    // that most names the listing cannot hold are turned away unhashed.
    uint64_t shapes[16] = {};
    bool folded = false;
    // Whether names (and kinds with them) are in the order directory
    // searches yield them, as a kept listing is from its reading on.
    bool ordered = false;
  };
  // By host directory, written without a trailing '/' ("" for the current
  // directory), so that every spelling of one directory shares one listing.
  std::unordered_map<std::string, Listing> listings;
  std::unordered_map<std::string, EntryKind> kinds;  // by host path, links followed
  // The directory part of a path as written ("img/", "../pics/"), resolved:
  // the host directory its components lead to (no trailing '/'), whether
  // every one of them was found, and that directory's listing. A check of
  // every reference into one directory resolves the directory once. Past
  // kMaxDirectories parts, further ones are resolved afresh each time.
  static constexpr size_t kMaxDirectories = 16384;
  struct ResolvedDirectory {
    std::string hostDir;
    bool found = true;
    Listing* listing = nullptr;
  };
  std::unordered_map<std::string, ResolvedDirectory> directories;
  ResolvedDirectory* currentDirectory = nullptr;  // directories[""], once made
};

class FileSystem {
 public:
  // --- tangler's face. Names match ignoring ASCII letter case in every
  // component of a path; both '\' and '/' separate components; "." and ".."
  // are folded away by name before anything is looked up; a drive letter
  // ("c:") matches nothing. Where a directory holds several names that differ
  // only in case, the exact spelling wins, else the first in directory order.
  // That is the POSIX build. The Windows build leaves all of it to the
  // system (its case folding, separators, drive letters, wildcard rules with
  // 8.3 short names, listing order), hands paths to it as written and keeps
  // nothing, since the system keeps its own cache.

  // While on, each directory is listed and each path asked about once, and
  // the answers are used until caching is turned off again: for a stretch of
  // the run in which the site does not change, so that resolving many names
  // in one large directory reads it once instead of once per name. Off (as
  // at the start) looks at the disk afresh each time. Creating or deleting a
  // file through this object forgets what was kept.
  void setCaching(bool on);

  // The stored names (bare, without any directory part, in stored letter
  // case) of the files that match pattern: a directory part resolved as
  // above and a last component with wildcards ('*' any run of characters,
  // '?' exactly one, letter case ignored; a trailing ".*" also matches names
  // without a dot, so "*.*" matches every name). Skipped: directories, hidden
  // files (names beginning with '.'), names holding a byte below 0x20 or a
  // character no Windows name can hold (\ : * ? " < > |), and anything that
  // is not a regular file after following links. Sorted by
  // directoryOrderLess(). Empty when nothing matches or the directory cannot
  // be read.
  std::vector<std::string> findFiles(const std::string& pattern);

  // The first name findFiles(pattern) gives, into *storedName, without
  // gathering the rest; false when it gives none. For looking up the stored
  // name of every reference: while caching is on, a pattern without
  // wildcards costs a hash look-up or two.
  bool findFirstFile(const std::string& pattern, std::string* storedName);

  // True when path names an existing file or directory. The empty path does
  // not exist.
  bool pathExists(const std::string& path);
  // Asks early for the memory pathExists(path) will touch, for a name in the
  // current directory while caching: step 0 the index slot of the name,
  // step 1 (once that has had time to arrive) the listed name it leads to.
  // Changes no answer; does nothing where there is nothing to ask for.
  void prefetchExists(std::string_view path, int step) const;

  // Turns path into the name the host file system holds. For a path that
  // does not exist, the longest existing prefix resolved and the rest as
  // written (with '/' separators), so that a file can be created under it.
  // False when a drive letter or an empty path makes it unusable.
  bool resolvePath(const std::string& path, std::string* hostPath);

  // Opens path for reading: a descriptor for host_file.h's calls, or -1 when
  // there is no such file or it is not a regular file after following links.
  // A FIFO or a device never blocks the call.
  int openForReading(const std::string& path);

  // Creates (or empties) path for writing: a descriptor, or -1. An existing
  // file whose name differs only in case is replaced under its stored name.
  // Never blocks on a FIFO that nobody reads.
  int createForWriting(const std::string& path);

  // Deletes the file at path. False on failure.
  bool deleteFile(const std::string& path);

  // The current directory, whole; the empty text if it cannot be read.
  std::string currentDirectory();

  // --- The exact-spelling face. Paths are host paths with '/' separators,
  // taken literally: no case folding, no '\' handling, no "." or ".."
  // folding. These five touch nothing the object keeps, so they may be
  // called from several threads at once on one object.

  // The entries of hostDir other than "." and "..", in the host's order
  // (callers sort). False, with *error set to the system's reason (e.g.
  // "Permission denied"), when it cannot be listed. Each call reads the
  // directory afresh.
  bool listEntries(const std::string& hostDir, std::vector<DirectoryEntry>* entries,
                   std::string* error);

  // The kind of hostPath after following links, and its identity when it is
  // not Missing.
  EntryKind statPath(const std::string& hostPath, FileIdentity* identity = nullptr);

  // The absolute path with every link resolved. False when it cannot be had.
  bool canonicalPath(const std::string& hostPath, std::string* canonical);

  // All the bytes of a regular file, untouched (no text-mode rules). False,
  // with *error the system's reason, when it cannot be opened (or is not a
  // regular file: "Not a regular file") or a read fails.
  bool readWholeFile(const std::string& hostPath, std::string* bytes, std::string* error);

 private:
  // The POSIX build's name resolution; each reads through the cache when
  // caching is on and afresh otherwise, by the same code.
  DirectoryCache::Listing& listing(const std::string& hostDir, DirectoryCache::Listing* fresh);
  // The stored name in hostDir that name stands for ("" when none), and,
  // when a listing said so, its kind there (Missing where it did not).
  std::string storedName(const std::string& hostDir, const std::string& name,
                         EntryKind* listedKind = nullptr);
  bool resolveTracked(const std::string& path, std::string* hostPath, EntryKind* listedKind);
  EntryKind kindOf(const std::string& hostPath);
  // The directory part of a path (up to and including its last separator)
  // resolved as the components before a path's last one are; kept while
  // caching is on (it must be), else made in *fresh.
  const DirectoryCache::ResolvedDirectory& resolvedDirectory(
      std::string_view dirPart, DirectoryCache::ResolvedDirectory* fresh);

  bool caching_ = false;
  DirectoryCache cache_;
  std::string directoryKey_;  // resolvedDirectory()'s look-up key, kept for its memory
};

// How names match a wildcard pattern and the order directory searches yield
// them in: the long-name rules of Windows, which the POSIX build's directory
// search is made of.

// True when name matches the wildcard pattern as findFiles() matches names.
bool wildcardMatch(const std::string& pattern, const std::string& name);

// The order findFiles() yields names in: byte by byte with the ASCII letters
// folded to upper case, ties broken by the exact bytes. True when a sorts
// before b.
bool directoryOrderLess(const std::string& a, const std::string& b);

// The positions of names in that order: names[order[0]] comes first.
std::vector<uint32_t> directoryOrder(const std::vector<std::string>& names);
