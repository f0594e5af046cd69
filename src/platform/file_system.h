// The one object through which a run reaches the file system. It has two
// faces: the exact-spelling one below, which takes host paths literally, and
// tangler's, which resolves names the way Windows does on any host and keeps
// what it learns of the site for the stretch of a run in which nothing there
// changes.
#pragma once

#include <string>
#include <vector>

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
};

class FileSystem {
 public:
  // --- The exact-spelling face. Paths are host paths with '/' separators,
  // taken literally: no case folding, no '\' handling, no "." or ".."
  // folding. These five keep no state, so they may be called from several
  // threads at once on one object.

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

  // Creates hostPath, or empties it, and writes bytes to it untouched (no
  // line-end translation). False, with *error the system's reason (e.g. "No
  // space left on device"), when it cannot be created or a write fails.
  bool writeWholeFile(const std::string& hostPath, const std::string& bytes, std::string* error);
};
