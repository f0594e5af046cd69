// The cache of external links (--cache): the URLs found working, each with
// the time it was checked, so that a run within --cache-age of that time
// does not ask for them again. One line a URL in a small text file, written
// whole and renamed into place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

class FileSystem;

namespace site {

struct LinkCache {
  // URL (as webUrlKey() spells it) -> when it was found working, in
  // seconds since 1970.
  std::unordered_map<std::string, int64_t> checkedAt;
};

// The text of a cache file: a first line naming the format, then one
// "SECONDS URL" line a URL. False with *error (naming the line) when text
// is not such a file; *cache is then empty.
bool parseLinkCache(std::string_view text, LinkCache* cache, std::string* error);

// The file's text for cache, its lines sorted by URL, so that one cache
// gives the same bytes.
std::string formatLinkCache(const LinkCache& cache);

// Reads the cache file at hostPath into *cache. A file that does not exist
// is an empty cache. False with *error (the system's reason, or what is
// wrong in it) when it cannot be read or is not a cache file: the caller
// names it on the error stream and goes on with an empty cache.
bool readLinkCache(FileSystem& fileSystem, const std::string& hostPath, LinkCache* cache,
                   std::string* error);

// Writes cache to hostPath, through a temporary file beside it that is
// renamed over it. False with *error, the system's reason.
bool writeLinkCache(const std::string& hostPath, const LinkCache& cache, std::string* error);

// Whether url was found working no more than maxAgeSeconds before now (and
// not after it: a time ahead of the clock is not trusted).
bool freshInLinkCache(const LinkCache& cache, const std::string& url, int64_t now,
                      int64_t maxAgeSeconds);

// Drops the entries that are no longer fresh.
void dropStaleLinks(LinkCache* cache, int64_t now, int64_t maxAgeSeconds);

}  // namespace site
