#include "check/page_lookup.h"

#include <algorithm>
#include <string>

#include "reffile/reference_file.h"

void buildPageLookup(TextReader& reader, PageLookup* lookup) {
  lookup->blocks.clear();
  lookup->byName.clear();
  reader.rewind();
  std::string line;
  while (reader.readLine(&line)) {
    RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      Record record = parseRecord(line);
      if (!lookup->blocks.empty() && lookup->blocks.back().page == record.value) {
        lookup->blocks.back().followedBySamePage = true;
      }
      lookup->byName[record.value].push_back(lookup->blocks.size());
      lookup->blocks.push_back(PageLookup::Block{std::move(record.value), {}, false});
    } else if (kind == RecordKind::Mark && !lookup->blocks.empty()) {
      lookup->blocks.back().marks.push_back(parseRecord(line).value);
    }
  }
  for (PageLookup::Block& block : lookup->blocks) {
    std::sort(block.marks.begin(), block.marks.end());
  }
}

bool findPage(const PageLookup& lookup, const std::string& target, bool hasAnchor,
              const std::string& anchor) {
  auto found = lookup.byName.find(target);
  if (found == lookup.byName.end()) return false;
  if (!hasAnchor) return true;
  for (size_t index : found->second) {
    const PageLookup::Block& block = lookup.blocks[index];
    if (std::binary_search(block.marks.begin(), block.marks.end(), anchor)) return true;
    // Reading on, the next page record names this page again while its
    // anchor is still unfound: the search ends there, failed.
    if (block.followedBySamePage) return false;
  }
  return false;
}

bool findPageByScanning(TextReader& reader, const std::string& target, bool hasAnchor,
                        const std::string& anchor) {
  reader.rewind();
  bool inBlock = false;
  std::string line;
  while (reader.readLine(&line)) {
    RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      Record record = parseRecord(line);
      if (record.value == target) {
        if (inBlock) return false;
        if (!hasAnchor) return true;
        inBlock = true;
      } else {
        inBlock = false;
      }
    } else if (kind == RecordKind::Mark && inBlock && parseRecord(line).value == anchor) {
      return true;
    }
  }
  return false;
}
