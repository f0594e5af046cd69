// The checks: each page or style sheet is checked on its own, on whichever
// worker thread read it (references resolved, definite findings made, the
// files it reaches marked), keeping only compact records; then the whole
// site is checked once every file is in (anchors asked of other pages,
// orphans) and the report is put together.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "site/extract/page_links.h"
#include "site/report/finding.h"
#include "site/url/resolve.h"
#include "site/walk/site_tree.h"

namespace site {

enum class OrphanLevel : unsigned char { Warning, Error, Off };

struct CheckOptions {
  ResolveOptions resolve;
  OrphanLevel orphans = OrphanLevel::Warning;
  // ROOT as the reports name it: as the user gave it with trailing '/'
  // dropped, "." when omitted (then paths are written without it).
  std::string reportRoot = ".";
};

// A page's anchors, sorted and packed into one buffer so that tens of
// thousands of pages keep them cheaply.
struct AnchorSet {
  std::string bytes;
  std::vector<uint32_t> ends;  // anchor i is bytes[ends[i-1] .. ends[i])

  void assign(const std::vector<std::string>& anchors);
  bool contains(std::string_view anchor) const;
};

// A fragment that can only be checked once its target page has been read.
struct PendingAnchor {
  uint32_t target = kNoNode;
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t sequence = 0;
  std::string reference;  // cleaned; the fragment is taken from it again
};

// What one file's check keeps.
struct FileOutcome {
  bool read = false;  // read and checked
  std::string error;  // the system's reason when it could not be read
  uint32_t references = 0;
  uint32_t external = 0;
  std::vector<Finding> findings;
  std::vector<PendingAnchor> pending;
  AnchorSet anchors;  // pages only
};

// Everything the checks share. Read-only while the workers run, but for
// `referenced`, whose flags are set from any thread.
struct CheckContext {
  const SiteTree* tree = nullptr;
  const std::vector<WalkedFile>* files = nullptr;
  const CheckOptions* options = nullptr;
  std::vector<uint32_t> fileOfNode;                 // index into *files, or kNoNode
  std::unique_ptr<std::atomic<bool>[]> referenced;  // per node: another file's reference reaches it
};

// Sets up the shared state for tree and its walked files; all three must
// outlive it.
void initCheckContext(const SiteTree& tree, const std::vector<WalkedFile>& files,
                      const CheckOptions& options, CheckContext* context);

// ROOT joined to a path under it, as the reports write paths.
std::string reportPath(std::string_view reportRoot, std::string_view path);

// Checks the links of files[fileIndex] (a page or a style sheet) into *out.
// Thread-safe for distinct files.
void checkFile(CheckContext& context, size_t fileIndex, const PageLinks& links,
               ResolveScratch* scratch, FileOutcome* out);

// The report of the whole site, from every file's outcome (indexed like
// files; files that are not read have a default outcome): anchors asked of
// other pages, orphans, counts. Findings are moved out of outcomes.
SiteReport finishReport(const CheckContext& context, std::vector<FileOutcome>* outcomes);

}  // namespace site
