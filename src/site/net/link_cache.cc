#include "site/net/link_cache.h"

#include <algorithm>
#include <vector>

#include "platform/file_replace.h"
#include "platform/file_system.h"

namespace site {

namespace {

constexpr std::string_view kFirstLine = "tangler-site link cache 1";

}  // namespace

bool parseLinkCache(std::string_view text, LinkCache* cache, std::string* error) {
  cache->checkedAt.clear();
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (lineNumber == 1) {
      if (line != kFirstLine) {
        *error = "it is not a tangler-site link cache";
        return false;
      }
      continue;
    }
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    const std::string_view digits = line.substr(0, space);
    const std::string_view url = space == std::string_view::npos ? "" : line.substr(space + 1);
    int64_t seconds = 0;
    bool good = !digits.empty() && digits.size() <= 12 && !url.empty() &&
                url.find_first_of(" \t") == std::string_view::npos;
    for (const char c : digits) {
      if (c < '0' || c > '9') good = false;
      if (good) seconds = seconds * 10 + (c - '0');
    }
    if (!good) {
      cache->checkedAt.clear();
      *error = "line " + std::to_string(lineNumber) + " is not a time and a URL";
      return false;
    }
    cache->checkedAt[std::string(url)] = seconds;
  }
  if (lineNumber == 0) {
    *error = "it is empty";
    return false;
  }
  return true;
}

std::string formatLinkCache(const LinkCache& cache) {
  std::vector<std::pair<std::string_view, int64_t>> lines(cache.checkedAt.begin(),
                                                          cache.checkedAt.end());
  std::sort(lines.begin(), lines.end());
  std::string text(kFirstLine);
  text += '\n';
  for (const auto& [url, seconds] : lines) {
    text += std::to_string(seconds);
    text += ' ';
    text += url;
    text += '\n';
  }
  return text;
}

bool readLinkCache(FileSystem& fileSystem, const std::string& hostPath, LinkCache* cache,
                   std::string* error) {
  cache->checkedAt.clear();
  if (fileSystem.statPath(hostPath) == EntryKind::Missing) return true;
  std::string bytes;
  if (!fileSystem.readWholeFile(hostPath, &bytes, error)) return false;
  return parseLinkCache(bytes, cache, error);
}

bool writeLinkCache(const std::string& hostPath, const LinkCache& cache, std::string* error) {
  return replaceFileContents(hostPath, formatLinkCache(cache), error);
}

bool freshInLinkCache(const LinkCache& cache, const std::string& url, int64_t now,
                      int64_t maxAgeSeconds) {
  const auto found = cache.checkedAt.find(url);
  return found != cache.checkedAt.end() && found->second <= now &&
         now - found->second < maxAgeSeconds;
}

void dropStaleLinks(LinkCache* cache, int64_t now, int64_t maxAgeSeconds) {
  std::erase_if(cache->checkedAt, [&](const auto& entry) {
    return entry.second > now || now - entry.second >= maxAgeSeconds;
  });
}

}  // namespace site
