// Directories and files reached one name at a time from a directory that is
// already held open, never through a symbolic link unless the caller follows
// it itself: how tangler-site walks a site and opens its pages again. No path
// is ever too long this way (each call names one entry), and a link that
// appears meanwhile cannot carry a call somewhere else. Names and link
// targets cross this seam as bytes; on Windows as UTF-8 with '/' separators.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

// An open directory or file, closed when it goes.
class HeldHandle {
 public:
  HeldHandle() = default;
  explicit HeldHandle(std::intptr_t native) : native_(native) {}
  ~HeldHandle();
  HeldHandle(HeldHandle&& other) noexcept : native_(other.native_) { other.native_ = -1; }
  HeldHandle& operator=(HeldHandle&& other) noexcept;
  HeldHandle(const HeldHandle&) = delete;
  HeldHandle& operator=(const HeldHandle&) = delete;
  bool valid() const { return native_ != -1; }
  // A descriptor on POSIX, a HANDLE on Windows; -1 when nothing is held.
  std::intptr_t native() const { return native_; }

 private:
  std::intptr_t native_ = -1;
};

// What an entry is in itself: a symbolic link (or, on Windows, a junction)
// is a Link, whatever it leads to.
enum class HeldKind : unsigned char { File, Directory, Link, Other };

struct HeldEntry {
  std::string name;
  HeldKind kind = HeldKind::Other;
  FileIdentity identity;  // the entry's own (a link's, not its target's)
};

// How an attempt to reach an entry ended. Every outcome but Opened comes
// with the system's reason in *error.
enum class OpenOutcome : unsigned char {
  Opened,
  Missing,      // no entry by that name (or a path through one)
  Link,         // a symbolic link or junction stands where none may be followed
  WrongKind,    // not a directory where one was asked for, not a regular file where a file was
  Escapes,      // the path would leave the directory it starts from
  Unsupported,  // openFileBeneath only: the system cannot do it; go one name at a time
  Failed,       // any other reason (permissions, I/O)
};

// Opens the directory at hostPath, following links in it (the user named
// it), and tells its identity.
OpenOutcome openHeldDirectory(const std::string& hostPath, HeldHandle* dir, FileIdentity* identity,
                              std::string* error);

// The entries of the directory dir holds, "." and ".." left out, in the
// host's order, each with its kind and identity as the entry itself has
// them. An entry that vanishes while the listing is read is left out. False,
// with the system's reason, when the directory cannot be read.
bool listHeldDirectory(const HeldHandle& dir, std::vector<HeldEntry>* entries, std::string* error);

// The kind and identity of entry name of dir, links not followed. name is
// one component: no separator, not "." or "..".
OpenOutcome inspectEntry(const HeldHandle& dir, const std::string& name, HeldKind* kind,
                         FileIdentity* identity, std::string* error);

// Opens directory name of dir, refusing a link there (Link) and anything
// that is not a directory (WrongKind), and tells what was opened.
OpenOutcome openChildDirectory(const HeldHandle& dir, const std::string& name, HeldHandle* child,
                               FileIdentity* identity, std::string* error);

// Opens regular file name of dir for reading, refusing a link there (Link)
// and anything that is not a regular file (WrongKind: a FIFO or a device
// never blocks the call). Tells the identity of what was opened.
OpenOutcome openChildFile(const HeldHandle& dir, const std::string& name, HeldHandle* file,
                          FileIdentity* identity, std::string* error);

// Opens the regular file at relativePath below dir ('/'-separated names, no
// "." or ".."), in one call where the system can promise that it follows no
// link and stays below dir on the way (Linux's openat2 with RESOLVE_BENEATH).
// Unsupported where it cannot (an older kernel, another system, a path
// longer than the system takes in one call): the caller then goes one name
// at a time with openChildDirectory() and openChildFile().
OpenOutcome openFileBeneath(const HeldHandle& dir, const std::string& relativePath,
                            HeldHandle* file, FileIdentity* identity, std::string* error);

// What link name of dir holds: its target as written, '/'-separated. False
// when it is no link or cannot be read.
bool readLinkTarget(const HeldHandle& dir, const std::string& name, std::string* target);

// The length of the part of an absolute link target that names the top of a
// file system ("/"; on Windows "C:/" or "//server/share/"), or 0 when target
// is relative to the link's directory.
size_t absoluteTargetRoot(const std::string& target);

// All the bytes of the file handle holds, from where it stands. False, with
// the system's reason, when a read fails or memory runs out.
bool readHeldFile(const HeldHandle& file, std::string* bytes, std::string* error);

// The next bytes of the file handle holds, at most size, into data: *got of
// them, 0 at its end. False, with the system's reason, when a read fails.
// Reading a page this way, a piece at a time, never holds it whole.
bool readHeldPiece(const HeldHandle& file, char* data, size_t size, size_t* got,
                   std::string* error);
