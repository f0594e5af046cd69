#include "site/app/external_run.h"

#include <exception>

#include "site/check/site_check.h"
#include "text/text_helpers.h"

#ifndef TANGLER_VERSION
#define TANGLER_VERSION "unknown"
#endif

namespace site {

std::unique_ptr<ExternalRun> startExternalRun(FileSystem& fileSystem, const SiteOptions& options,
                                              std::vector<std::string>* messages) {
  auto run = std::make_unique<ExternalRun>();
  HttpClientOptions http;
  http.timeoutMs = options.timeoutSeconds * 1000;
  http.userAgent =
      options.userAgent.empty() ? std::string("tangler-site/" TANGLER_VERSION) : options.userAgent;
  for (const HeaderOption& header : options.headers) http.headers.push_back(headerLine(header));
  http.insecure = options.insecure;
  std::string error;
  run->client = makeHttpClient(http, &error);
  if (run->client == nullptr) {
    messages->push_back("cannot check external links: " + error);
    return nullptr;
  }
  // A cache that cannot be read costs time, not results.
  if (!options.cache.empty() && !readLinkCache(fileSystem, options.cache, &run->cache, &error)) {
    messages->push_back("cannot read the cache " + quoted(options.cache) + ": " + error +
                        "; not used");
    run->cache = LinkCache();
  }
  LinkCheckOptions links = options.links;
  // With missing-anchor disabled no page is read for its anchors.
  if (kindDisabled(options.check, FindingKind::MissingAnchor)) links.remoteAnchors = false;
  initLinkScheduler(&run->scheduler, links, run->client.get(), systemNetClock(),
                    options.cache.empty() ? nullptr : &run->cache);
  ExternalRun* shared = run.get();
  try {
    run->thread = std::thread([shared] {
      try {
        runLinkScheduler(shared->scheduler);
      } catch (const std::exception&) {
        shared->failed = true;
      }
      shared->finished = true;
    });
  } catch (const std::exception&) {  // no thread to be had
    messages->push_back("cannot check external links: no thread for the network");
    return nullptr;
  }
  return run;
}

void countExternal(const LinkScheduler& scheduler, Summary* summary) {
  summary->externalChecked = true;
  for (const auto& [url, entry] : scheduler.links) {
    if (!entry.done) continue;
    ++summary->externalUrls;
    summary->externalCached += entry.result.cached;
    if (entry.result.state == LinkState::Working) {
      ++summary->externalWorking;
    } else {
      ++summary->externalFailed;
    }
  }
}

}  // namespace site
