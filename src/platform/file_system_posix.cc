// The file system on POSIX hosts. tangler's face builds Windows' name rules
// out of directory listings; the exact-spelling face is plain system calls on
// the path as given.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/directory_handles.h"
#include "platform/file_system.h"
#include "platform/system_text_posix.h"

namespace {

EntryKind kindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  return EntryKind::Other;
}

// Reads the names one directory holds, "." and ".." left out, in the order
// the host hands them over, with what the listing itself says of each kind
// (Missing for a link, or where the file system does not say). Every
// listing, cached or not, comes through here.
bool readDirectory(const std::string& dir, std::vector<std::string>* names,
                   std::vector<EntryKind>* kinds, int* error) {
  names->clear();
  kinds->clear();
  if (holdsNul(dir)) {
    *error = EINVAL;
    return false;
  }
  DIR* handle = opendir(dir.empty() ? "." : dir.c_str());
  if (handle == nullptr) {
    *error = errno;
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle);
    if (entry == nullptr) break;
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    names->emplace_back(name);
    switch (entry->d_type) {
      case DT_REG:
        kinds->push_back(EntryKind::File);
        break;
      case DT_DIR:
        kinds->push_back(EntryKind::Directory);
        break;
      case DT_LNK:
      case DT_UNKNOWN:
        kinds->push_back(EntryKind::Missing);
        break;
      default:
        kinds->push_back(EntryKind::Other);
        break;
    }
  }
  *error = errno;
  closedir(handle);
  return *error == 0;
}

// The directory part as handed to the host, joined with one more name.
std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + '/' + name;
}

// One spelling for each directory: no trailing '/' (but for the root) and
// "" for the current directory, however it was written.
std::string listingKey(const std::string& dir) {
  std::string key = dir;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  if (key == ".") key.clear();
  return key;
}

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "c:" at the front names a Windows drive, which this host has none of.
bool hasDriveLetter(const std::string& path) {
  return path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':';
}

// A path the host cannot even be asked about: the C calls would cut it short
// at the first NUL and look up some other name.
bool isUnusable(const std::string& path) {
  return path.empty() || hasDriveLetter(path) || holdsNul(path);
}

// A path split into its components after "." and ".." have been folded away
// by name, the way Windows normalises a path before it touches the disk.
struct SplitPath {
  bool absolute = false;
  bool trailingSeparator = false;
  std::vector<std::string> components;
};

SplitPath splitPath(std::string_view path) {
  SplitPath split;
  split.absolute = !path.empty() && isSeparator(path.front());
  split.trailingSeparator = !path.empty() && isSeparator(path.back());
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == ".") {
      // Doubled separators and "." add nothing.
    } else if (part == ".." && !split.components.empty() && split.components.back() != "..") {
      split.components.pop_back();
    } else {
      split.components.emplace_back(part);
    }
    start = end + 1;
  }
  return split;
}

// A name that a directory search passes over: hidden, or one that Windows
// could not hold, so that a site gives the same pages and candidates on
// either host.
constexpr std::array<bool, 256> kSkippingByte = [] {
  std::array<bool, 256> skipping{};
  for (int c = 0; c < 0x20; ++c) skipping[c] = true;
  for (char c : std::string_view("\\:*?\"<>|")) skipping[static_cast<unsigned char>(c)] = true;
  return skipping;
}();

bool isSkippedName(std::string_view name) {
  if (name.empty() || name[0] == '.') return true;
  for (char c : name) {
    if (kSkippingByte[static_cast<unsigned char>(c)]) return true;
  }
  return false;
}

// True when the host would read path as Windows does, so that where its exact
// spelling exists it is the file the case-blind look-up would find: no '\',
// no drive letter, no "." or ".." to fold away.
bool readsAsWritten(const std::string& path) {
  if (path.empty() || path.find('\\') != std::string::npos || holdsNul(path)) return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

// Opens with O_NONBLOCK so that a FIFO (or a device) cannot hold the run up
// in open(); the caller checks what it got.
int openNonBlocking(const std::string& hostPath, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(hostPath.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool clearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

void FileSystem::setCaching(bool on) {
  caching_ = on;
  cache_ = DirectoryCache();
}

namespace {

// Sorts a kept listing into the order directory searches yield its names:
// every search with wildcards then finds them in order as it walks them, and
// names that begin alike (a site's pages, its images) lie together in memory.
void putInDirectoryOrder(DirectoryCache::Listing* listing) {
  const std::vector<uint32_t> order = directoryOrder(listing->names);
  std::vector<std::string> names(order.size());
  std::vector<EntryKind> kinds(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    names[i] = std::move(listing->names[order[i]]);
    kinds[i] = listing->kinds[order[i]];
  }
  listing->names.swap(names);
  listing->kinds.swap(kinds);
  listing->ordered = true;
}

}  // namespace

DirectoryCache::Listing& FileSystem::listing(const std::string& hostDir,
                                             DirectoryCache::Listing* fresh) {
  DirectoryCache::Listing* listing = fresh;
  const std::string key = listingKey(hostDir);
  if (caching_) {
    auto [it, added] = cache_.listings.try_emplace(key);
    listing = &it->second;
    if (!added) return *listing;
  }
  int error = 0;
  listing->readable = readDirectory(key, &listing->names, &listing->kinds, &error);
  listing->foldedSlots.slots.clear();
  listing->sameFold.clear();
  listing->folded = false;
  listing->ordered = false;
  if (caching_ && listing->readable) putInDirectoryOrder(listing);
  return *listing;
}

namespace {

uint64_t foldedHash(std::string_view name) {
  return hashIgnoringCase(name);
}

using FoldedSlots = HashSlots<32, 32>;

// The slot of the names that fold as name does: the one that holds them, or
// the empty one where they would go.
size_t foldedSlot(const DirectoryCache::Listing& listing, std::string_view name, uint64_t hash) {
  return findSlot(listing.foldedSlots, hash,
                  [&](uint64_t i) { return equalIgnoringCase(listing.names[i], name); });
}

// The bit of shapes a name sets: its length and last byte, case folded.
unsigned shapeOf(std::string_view name) {
  const unsigned last = name.empty() ? 0 : static_cast<unsigned char>(toLowerAscii(name.back()));
  return (static_cast<unsigned>(name.size() & 31) << 5) | (last & 31);
}

void buildFoldedIndex(DirectoryCache::Listing* listing) {
  const std::vector<std::string>& names = listing->names;
  resetSlots(&listing->foldedSlots, names.size());
  listing->sameFold.assign(names.size(), DirectoryCache::kNoName);
  for (uint64_t& word : listing->shapes) word = 0;
  for (uint32_t i = 0; i < names.size(); ++i) {
    const unsigned shape = shapeOf(names[i]);
    listing->shapes[shape >> 6] |= uint64_t(1) << (shape & 63);
    const uint64_t hash = foldedHash(names[i]);
    uint64_t& slot = listing->foldedSlots.slots[foldedSlot(*listing, names[i], hash)];
    if (slot == 0) {
      slot = FoldedSlots::pack(hash, i);
      continue;
    }
    // Into its chain in directory order; chains are a name or two long.
    const auto head = static_cast<uint32_t>(FoldedSlots::valueOf(slot));
    if (directoryOrderLess(names[i], names[head])) {
      listing->sameFold[i] = head;
      slot = FoldedSlots::pack(hash, i);
      continue;
    }
    uint32_t at = head;
    while (listing->sameFold[at] != DirectoryCache::kNoName &&
           !directoryOrderLess(names[i], names[listing->sameFold[at]])) {
      at = listing->sameFold[at];
    }
    listing->sameFold[i] = listing->sameFold[at];
    listing->sameFold[at] = i;
  }
  listing->folded = true;
}

// The first of the names that fold as name does, in directory order, or
// kNoName.
uint32_t firstVariant(DirectoryCache::Listing* listing, std::string_view name) {
  if (!listing->folded) buildFoldedIndex(listing);
  const unsigned shape = shapeOf(name);
  if ((listing->shapes[shape >> 6] >> (shape & 63) & 1) == 0) return DirectoryCache::kNoName;
  const uint64_t slot = listing->foldedSlots.slots[foldedSlot(*listing, name, foldedHash(name))];
  return slot == 0 ? DirectoryCache::kNoName : static_cast<uint32_t>(FoldedSlots::valueOf(slot));
}

// What a byte of a pattern says: a separator, or in its last component a
// wildcard or a byte no name that a directory search yields can hold (see
// isSkippedName()).
constexpr unsigned char kWildcardByte = 1;
constexpr unsigned char kSkippedByte = 2;
constexpr unsigned char kSeparatorByte = 4;
constexpr std::array<unsigned char, 256> kNameByteClass = [] {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 0x20; ++c) classes[c] = kSkippedByte;
  for (char c : std::string_view(":\"<>|")) classes[static_cast<unsigned char>(c)] = kSkippedByte;
  classes['/'] = kSeparatorByte;
  classes['\\'] = kSeparatorByte;
  classes['*'] = kWildcardByte;
  classes['?'] = kWildcardByte;
  return classes;
}();

// The name in a readable listing that name stands for: its exact spelling
// when the listing holds it, else the first that equals it but for case in
// directory order; kNoName when none does.
uint32_t storedIndex(DirectoryCache::Listing* listing, std::string_view name) {
  const uint32_t first = firstVariant(listing, name);
  for (uint32_t i = first; i != DirectoryCache::kNoName; i = listing->sameFold[i]) {
    if (listing->names[i] == name) return i;
  }
  return first;
}

// The index of the separator-free last component of path: what follows its
// last '/' or '\\'.
size_t lastComponentStart(std::string_view path) {
  size_t cut = path.size();
  while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
  return cut;
}

}  // namespace

std::string FileSystem::storedName(const std::string& hostDir, const std::string& name,
                                   EntryKind* listedKind) {
  if (listedKind != nullptr) *listedKind = EntryKind::Missing;
  // Without a cache the exact spelling wins outright, and asking for it costs
  // one call instead of reading the whole directory.
  struct stat st;
  if (!caching_ && lstat(joinPath(hostDir, name).c_str(), &st) == 0) return name;
  DirectoryCache::Listing fresh;
  DirectoryCache::Listing& found = listing(hostDir, &fresh);
  if (!found.readable) {
    // A directory that may be searched but not listed still answers for the
    // exact spelling.
    return lstat(joinPath(hostDir, name).c_str(), &st) == 0 ? name : std::string();
  }
  // The index is built on first use: a listing read only for a pattern with
  // wildcards never needs it.
  const uint32_t chosen = storedIndex(&found, name);
  if (chosen == DirectoryCache::kNoName) return std::string();
  if (listedKind != nullptr && caching_) *listedKind = found.kinds[chosen];
  return found.names[chosen];
}

EntryKind FileSystem::kindOf(const std::string& hostPath) {
  if (!caching_) return statPath(hostPath);
  auto [it, added] = cache_.kinds.try_emplace(hostPath, EntryKind::Missing);
  if (added) it->second = statPath(hostPath);
  return it->second;
}

bool FileSystem::resolvePath(const std::string& path, std::string* hostPath) {
  EntryKind listedKind;
  return resolveTracked(path, hostPath, &listedKind);
}

bool FileSystem::resolveTracked(const std::string& path, std::string* hostPath,
                                EntryKind* listedKind) {
  hostPath->clear();
  *listedKind = EntryKind::Missing;
  if (isUnusable(path)) return false;
  // A bare name in the current directory, the common case, needs no
  // splitting.
  if (path.find_first_of("/\\") == std::string::npos && path != "." && path != "..") {
    std::string stored = storedName("", path, listedKind);
    *hostPath = stored.empty() ? path : std::move(stored);
    return true;
  }
  const SplitPath split = splitPath(path);
  std::string resolved = split.absolute ? "/" : "";
  bool found = true;  // every component so far exists on disk
  for (const std::string& component : split.components) {
    std::string name = component;
    *listedKind = EntryKind::Missing;
    if (found && component != "..") {
      std::string stored = storedName(resolved, component, listedKind);
      if (stored.empty()) {
        found = false;
      } else {
        name = std::move(stored);
      }
    }
    resolved = joinPath(resolved, name);
  }
  if (!found) *listedKind = EntryKind::Missing;
  if (resolved.empty()) resolved.push_back('.');
  if (split.trailingSeparator && resolved.back() != '/') {
    resolved += '/';
    // Only a directory is there when the path ends with a separator.
    if (*listedKind != EntryKind::Directory) *listedKind = EntryKind::Missing;
  }
  *hostPath = std::move(resolved);
  return true;
}

const DirectoryCache::ResolvedDirectory& FileSystem::resolvedDirectory(
    std::string_view dirPart, DirectoryCache::ResolvedDirectory* fresh) {
  // Most references name a file of the current directory.
  if (dirPart.empty() && cache_.currentDirectory != nullptr) return *cache_.currentDirectory;
  directoryKey_.assign(dirPart);
  auto known = cache_.directories.find(directoryKey_);
  if (known != cache_.directories.end()) return known->second;
  DirectoryCache::ResolvedDirectory* resolved = fresh;
  if (cache_.directories.size() < DirectoryCache::kMaxDirectories) {
    resolved = &cache_.directories[directoryKey_];
  }
  // The same walk as resolveTracked() makes over the components before a
  // path's last one.
  const SplitPath split = splitPath(dirPart);
  std::string hostDir = split.absolute ? "/" : "";
  bool found = true;
  for (const std::string& component : split.components) {
    std::string name = component;
    if (found && component != "..") {
      std::string stored = storedName(hostDir, component);
      if (stored.empty()) {
        found = false;
      } else {
        name = std::move(stored);
      }
    }
    hostDir = joinPath(hostDir, name);
  }
  DirectoryCache::Listing unused;
  resolved->listing = &listing(hostDir, &unused);
  resolved->hostDir = std::move(hostDir);
  resolved->found = found;
  if (dirPart.empty() && resolved != fresh) cache_.currentDirectory = resolved;
  return *resolved;
}

void FileSystem::prefetchExists(std::string_view path, int step) const {
  const DirectoryCache::ResolvedDirectory* dir = cache_.currentDirectory;
  if (!caching_ || dir == nullptr || !dir->found || dir->listing == nullptr) return;
  const DirectoryCache::Listing& listing = *dir->listing;
  if (!listing.folded || path.empty() || lastComponentStart(path) != 0) return;
  const uint64_t hash = foldedHash(path);
  const uint64_t& slot = listing.foldedSlots.slots[listing.foldedSlots.home(hash)];
  if (step == 0) {
    __builtin_prefetch(&slot);
  } else if (slot != 0 && FoldedSlots::hashMatches(slot, hash)) {
    __builtin_prefetch(&listing.names[FoldedSlots::valueOf(slot)]);
  }
}

bool FileSystem::pathExists(const std::string& path) {
  const size_t cut = lastComponentStart(path);
  const std::string_view name = std::string_view(path).substr(cut);
  if (caching_ && !isUnusable(path) && !name.empty() && name != "." && name != "..") {
    // What resolveTracked() and the test below would answer, with the
    // directory part resolved once for all the paths that share it.
    DirectoryCache::ResolvedDirectory fresh;
    const DirectoryCache::ResolvedDirectory& dir =
        resolvedDirectory(std::string_view(path).substr(0, cut), &fresh);
    if (dir.found && dir.listing->readable) {
      const uint32_t i = storedIndex(dir.listing, name);
      if (i != DirectoryCache::kNoName) {
        if (dir.listing->kinds[i] != EntryKind::Missing) return true;
        return kindOf(joinPath(dir.hostDir, dir.listing->names[i])) != EntryKind::Missing;
      }
    }
    // Not listed, or in a directory that cannot be listed: the spelling as
    // written is asked about.
    return kindOf(joinPath(dir.hostDir, std::string(name))) != EntryKind::Missing;
  }
  std::string host;
  EntryKind listed;
  if (!resolveTracked(path, &host, &listed)) return false;
  // What the listing said of a plain entry settles it; a link, or a file
  // system that does not say, is asked.
  if (listed != EntryKind::Missing) return true;
  return kindOf(host) != EntryKind::Missing;
}

std::vector<std::string> FileSystem::findFiles(const std::string& pattern) {
  std::vector<std::string> found;
  if (isUnusable(pattern)) return found;
  size_t cut = pattern.size();
  while (cut > 0 && !isSeparator(pattern[cut - 1])) --cut;
  const std::string last = pattern.substr(cut);
  if (last.empty()) return found;

  std::string dir;
  if (cut > 0 && !resolvePath(pattern.substr(0, cut), &dir)) return found;
  DirectoryCache::Listing fresh;
  DirectoryCache::Listing& names = listing(dir, &fresh);
  if (!names.readable) return found;
  // Without wildcards only the names equal but for case can match; with a
  // listing kept, those are found through its index.
  const bool literal = last.find_first_of("*?") == std::string::npos;
  const bool indexed = literal && caching_;
  const uint32_t first = indexed ? firstVariant(&names, last) : 0;
  for (size_t i = first; i < names.names.size() && i != DirectoryCache::kNoName;
       i = indexed ? names.sameFold[i] : i + 1) {
    const std::string& name = names.names[i];
    if (!wildcardMatch(last, name) || isSkippedName(name)) continue;
    // The listing's own word settles plain files and plain non-files; a link
    // (or a file system that does not say) is followed with stat().
    const EntryKind listed = names.kinds[i];
    if (listed == EntryKind::File ||
        (listed == EntryKind::Missing && kindOf(joinPath(dir, name)) == EntryKind::File)) {
      found.push_back(name);
    }
  }
  if (!names.ordered) {
    std::vector<std::string> sorted;
    sorted.reserve(found.size());
    for (uint32_t i : directoryOrder(found)) sorted.push_back(std::move(found[i]));
    found.swap(sorted);
  }
  return found;
}

bool FileSystem::findFirstFile(const std::string& pattern, std::string* storedName) {
  // One look at each byte finds the last component and what it holds:
  // wildcards, and bytes no listed name can hold. Most bytes are none of
  // these, so each is one test.
  size_t cut = 0;
  unsigned char classes = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const unsigned char kind = kNameByteClass[static_cast<unsigned char>(pattern[i])];
    if (kind == 0) continue;
    if (kind == kSeparatorByte) {
      cut = i + 1;
      classes = 0;
    } else {
      classes |= kind;
    }
  }
  const std::string_view last = std::string_view(pattern).substr(cut);
  if (!caching_ || (classes & kWildcardByte) != 0) {
    std::vector<std::string> names = findFiles(pattern);
    if (names.empty()) return false;
    *storedName = std::move(names.front());
    return true;
  }
  // Without wildcards only the names equal to the last component but for
  // case can match, and the listing's index holds those in directory order:
  // the first that is a file is the one. A name that a search skips has
  // only variants that are skipped too, since case folding leaves every
  // byte but the letters alone.
  if (isUnusable(pattern) || last.empty() || last[0] == '.' || (classes & kSkippedByte) != 0) {
    return false;
  }
  DirectoryCache::ResolvedDirectory fresh;
  const DirectoryCache::ResolvedDirectory& dir =
      resolvedDirectory(std::string_view(pattern).substr(0, cut), &fresh);
  DirectoryCache::Listing* names = dir.listing;
  if (!names->readable) return false;
  for (uint32_t i = firstVariant(names, last); i != DirectoryCache::kNoName;
       i = names->sameFold[i]) {
    const EntryKind listed = names->kinds[i];
    if (listed == EntryKind::File ||
        (listed == EntryKind::Missing &&
         kindOf(joinPath(dir.hostDir, names->names[i])) == EntryKind::File)) {
      *storedName = names->names[i];
      return true;
    }
  }
  return false;
}

int FileSystem::openForReading(const std::string& path) {
  // Pages are mostly opened by the name they are stored under: try that first
  // and look the name up ignoring case only when it is not there.
  int fd = -1;
  if (readsAsWritten(path)) {
    fd = openNonBlocking(path, O_RDONLY);
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR) return -1;
  }
  if (fd < 0) {
    std::string host;
    if (!resolvePath(path, &host)) return -1;
    fd = openNonBlocking(host, O_RDONLY);
  }
  if (fd < 0) return -1;
  // Only regular files are read, and on those O_NONBLOCK changes nothing, so
  // it stays set: one system call fewer for every page opened.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int FileSystem::createForWriting(const std::string& path) {
  std::string host;
  if (!resolvePath(path, &host)) return -1;
  cache_ = DirectoryCache();
  // Without O_NONBLOCK, opening a FIFO that nobody reads would wait forever;
  // with it the open fails at once (ENXIO).
  const int fd = openNonBlocking(host, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return -1;
  if (!clearNonBlocking(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool FileSystem::deleteFile(const std::string& path) {
  std::string host;
  if (!resolvePath(path, &host)) return false;
  cache_ = DirectoryCache();
  return unlink(host.c_str()) == 0;
}

std::string FileSystem::currentDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::strlen(buffer.c_str()));
      return buffer;
    }
    if (errno != ERANGE || buffer.size() > (size_t(1) << 24)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool FileSystem::listEntries(const std::string& hostDir, std::vector<DirectoryEntry>* entries,
                             std::string* error) {
  entries->clear();
  std::vector<std::string> names;
  std::vector<EntryKind> kinds;
  int failure = 0;
  // Taken literally: the empty path is no directory here.
  if (hostDir.empty() || !readDirectory(hostDir, &names, &kinds, &failure)) {
    *error = systemReason(hostDir.empty() ? ENOENT : failure);
    return false;
  }
  entries->reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    DirectoryEntry entry{std::move(names[i]), kinds[i], false};
    if (entry.kind == EntryKind::Missing) {
      // A link, or a file system that does not say: ask.
      const std::string path = joinPath(hostDir, entry.name);
      struct stat st;
      entry.symlink = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
      entry.kind = statPath(path);
    }
    entries->push_back(std::move(entry));
  }
  return true;
}

EntryKind FileSystem::statPath(const std::string& hostPath, FileIdentity* identity) {
  struct stat st;
  if (holdsNul(hostPath) || stat(hostPath.c_str(), &st) != 0) return EntryKind::Missing;
  if (identity != nullptr) {
    identity->device = static_cast<unsigned long long>(st.st_dev);
    identity->inode = static_cast<unsigned long long>(st.st_ino);
  }
  return kindOfMode(st.st_mode);
}

bool FileSystem::canonicalPath(const std::string& hostPath, std::string* canonical) {
  if (holdsNul(hostPath)) return false;
  char* resolved = realpath(hostPath.c_str(), nullptr);
  if (resolved == nullptr) return false;
  canonical->assign(resolved);
  free(resolved);
  return true;
}

bool FileSystem::readWholeFile(const std::string& hostPath, std::string* bytes,
                               std::string* error) {
  bytes->clear();
  if (holdsNul(hostPath)) {
    *error = systemReason(EINVAL);
    return false;
  }
  // Non-blocking, so that a FIFO cannot hold the caller up in open().
  const HeldHandle file(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) {
    *error = systemReason(errno);
    return false;
  }
  struct stat st;
  if (fstat(static_cast<int>(file.native()), &st) != 0) {
    *error = systemReason(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "Not a regular file";
    return false;
  }
  try {
    if (st.st_size > 0) bytes->reserve(static_cast<size_t>(st.st_size));
  } catch (const std::exception&) {  // bad_alloc, or length_error past max_size()
    *error = systemReason(ENOMEM);
    return false;
  }
  return readHeldFile(file, bytes, error);
}
