#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/ascii_case.h"
#include "platform/directory.h"

namespace {

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
  return path.empty() || hasDriveLetter(path) || path.find('\0') != std::string::npos;
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

// Lists the names one directory holds, "." and ".." left out, in the order the
// host hands them over. Every lookup that needs a listing comes through here.
// With types, each name's d_type comes too (DT_UNKNOWN where the file system
// does not say), so that a search need not stat what it already knows.
bool listDirectory(const std::string& dir, std::vector<std::string>* names,
                   std::vector<unsigned char>* types = nullptr) {
  names->clear();
  if (types != nullptr) types->clear();
  DIR* handle = opendir(dir.empty() ? "." : dir.c_str());
  if (handle == nullptr) return false;
  errno = 0;
  while (const dirent* entry = readdir(handle)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    names->emplace_back(name);
    if (types != nullptr) types->push_back(entry->d_type);
  }
  const bool ok = errno == 0;
  closedir(handle);
  return ok;
}

// The directory prefix as handed to the host, joined with one more name.
std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + '/' + name;
}

// The listing of dir, read through the cache on first use.
const DirectoryCache::Listing& cachedListing(DirectoryCache& cache, const std::string& dir) {
  auto [it, added] = cache.listings.try_emplace(dir);
  DirectoryCache::Listing& listing = it->second;
  if (added) {
    listing.readable = listDirectory(dir, &listing.names);
    for (const std::string& name : listing.names) {
      listing.byFoldedName[lowerCaseAscii(name)].push_back(name);
    }
    for (auto& [folded, variants] : listing.byFoldedName) {
      std::sort(variants.begin(), variants.end(), directoryOrderLess);
    }
  }
  return listing;
}

// The stored name in dir that matches name ignoring case: the exact spelling
// if it is there, else the first such name in directory order. Empty if none.
std::string findStoredName(const std::string& dir, const std::string& name, DirectoryCache* cache) {
  struct stat st;
  if (cache != nullptr) {
    const DirectoryCache::Listing& listing = cachedListing(*cache, dir);
    if (listing.readable) {
      auto found = listing.byFoldedName.find(lowerCaseAscii(name));
      if (found == listing.byFoldedName.end()) return std::string();
      const std::vector<std::string>& variants = found->second;
      if (std::find(variants.begin(), variants.end(), name) != variants.end()) return name;
      return variants.front();
    }
    // A directory that may be searched but not listed still answers for the
    // exact spelling.
    return lstat(joinPath(dir, name).c_str(), &st) == 0 ? name : std::string();
  }
  // The exact spelling wins outright, and asking for it costs one call
  // instead of reading the whole directory.
  if (lstat(joinPath(dir, name).c_str(), &st) == 0) return name;
  std::vector<std::string> names;
  if (!listDirectory(dir, &names)) return std::string();
  const std::string* best = nullptr;
  for (const std::string& candidate : names) {
    if (equalIgnoringCase(candidate, name) &&
        (best == nullptr || directoryOrderLess(candidate, *best))) {
      best = &candidate;
    }
  }
  return best ? *best : std::string();
}

// The file type of a host path after following links (S_IFMT bits), or 0
// when there is nothing there; asked of the system once a run when cached.
unsigned fileKind(const std::string& hostPath, DirectoryCache* cache) {
  unsigned* cached = nullptr;
  if (cache != nullptr) {
    auto [it, added] = cache->kinds.try_emplace(hostPath, 0u);
    if (!added) return it->second;
    cached = &it->second;
  }
  struct stat st;
  unsigned kind = stat(hostPath.c_str(), &st) == 0 ? unsigned(st.st_mode & S_IFMT) : 0u;
  if (cached != nullptr) *cached = kind;
  return kind;
}

bool isRegularFile(const std::string& hostPath, DirectoryCache* cache) {
  return fileKind(hostPath, cache) == unsigned(S_IFREG);
}

bool hasControlByte(const std::string& name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

}  // namespace

bool resolvePath(const std::string& path, std::string* hostPath, DirectoryCache* cache) {
  hostPath->clear();
  if (isUnusable(path)) return false;
  const SplitPath split = splitPath(path);
  std::string resolved = split.absolute ? "/" : "";
  bool found = true;  // every component so far exists on disk
  for (const std::string& component : split.components) {
    std::string name = component;
    if (found && component != "..") {
      std::string stored = findStoredName(resolved, component, cache);
      if (stored.empty()) {
        found = false;
      } else {
        name = std::move(stored);
      }
    }
    resolved = joinPath(resolved, name);
  }
  if (resolved.empty()) resolved.push_back('.');
  if (split.trailingSeparator && resolved.back() != '/') resolved += '/';
  *hostPath = std::move(resolved);
  return true;
}

bool pathExists(const std::string& path, DirectoryCache* cache) {
  std::string host;
  if (!resolvePath(path, &host, cache)) return false;
  return fileKind(host, cache) != 0;
}

bool deleteFile(const std::string& path) {
  std::string host;
  if (!resolvePath(path, &host)) return false;
  return unlink(host.c_str()) == 0;
}

std::string currentDirectory() {
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

std::vector<std::string> findFiles(const std::string& pattern, DirectoryCache* cache) {
  std::vector<std::string> found;
  if (isUnusable(pattern)) return found;
  size_t cut = pattern.size();
  while (cut > 0 && !isSeparator(pattern[cut - 1])) --cut;
  const std::string last = pattern.substr(cut);
  if (last.empty()) return found;

  std::string dir;
  if (cut > 0) {
    if (!resolvePath(pattern.substr(0, cut), &dir, cache)) return found;
  }
  std::vector<std::string> fresh;
  std::vector<unsigned char> freshTypes;
  const std::vector<std::string>* names = &fresh;
  if (cache != nullptr) {
    const DirectoryCache::Listing& listing = cachedListing(*cache, dir);
    if (!listing.readable) return found;
    names = &listing.names;
    if (last.find_first_of("*?") == std::string::npos) {
      // Without wildcards only the names equal but for case can match.
      auto same = listing.byFoldedName.find(lowerCaseAscii(last));
      if (same == listing.byFoldedName.end()) return found;
      names = &same->second;
    }
  } else if (!listDirectory(dir, &fresh, &freshTypes)) {
    return found;
  }
  for (size_t i = 0; i < names->size(); ++i) {
    const std::string& name = (*names)[i];
    if (name.empty() || name[0] == '.' || hasControlByte(name)) continue;
    if (!wildcardMatch(last, name)) continue;
    // The listing's own word settles plain files and plain non-files; a link
    // (or a file system that does not say) is followed with stat().
    const unsigned type = i < freshTypes.size() ? unsigned(freshTypes[i]) : unsigned(DT_UNKNOWN);
    if (type == DT_REG) {
      found.push_back(name);
      continue;
    }
    if (type != DT_LNK && type != DT_UNKNOWN) continue;
    if (!isRegularFile(joinPath(dir, name), cache)) continue;
    found.push_back(name);
  }
  std::sort(found.begin(), found.end(), directoryOrderLess);
  return found;
}
