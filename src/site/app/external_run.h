// The external-link check of one run (--external): the HTTP client, the
// cache and the scheduler, which runs on a thread of its own while the
// pages are read, and the counts of how the URLs fared.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/http_client.h"
#include "site/app/command_line.h"
#include "site/net/link_cache.h"
#include "site/net/link_scheduler.h"
#include "site/report/finding.h"

namespace site {

struct ExternalRun {
  std::unique_ptr<HttpClient> client;
  LinkCache cache;
  LinkScheduler scheduler;
  std::thread thread;
  std::atomic<bool> finished{false};
  std::atomic<bool> failed{false};  // the scheduler ran out of memory
};

// Sets up and starts the external-link check of options. Null when the
// HTTP client or its thread cannot be had; what the user should read
// (that, or a cache that could not be read and is not used) is added to
// *messages.
std::unique_ptr<ExternalRun> startExternalRun(FileSystem& fileSystem, const SiteOptions& options,
                                              std::vector<std::string>* messages);

// Counts the distinct URLs and how they fared into summary.
void countExternal(const LinkScheduler& scheduler, Summary* summary);

}  // namespace site
