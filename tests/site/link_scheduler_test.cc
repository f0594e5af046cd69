// The external-link scheduler alone, over a scripted client in simulated
// time: every request's start time is logged, so that the rows pin down
// dedup, the hosts' limits and intervals, backoff and Retry-After waits to
// the millisecond, and the redirect and HEAD/GET rules by the requests they
// make.
#include "site/net/link_scheduler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "site/net/web_url.h"

namespace site {
namespace {

constexpr int64_t kEpoch = 1700000000;  // 2023-11-14 22:13:20 UTC, at simulated time 0

struct FakeReply {
  int status = 200;
  std::string location;
  std::string retryAfter;
  HttpFailure failure = HttpFailure::None;
  std::string body;
  std::string contentType = "text/html";
};

// A client whose answers come from a script, each after 100 simulated ms.
struct FakeNet final : HttpClient {
  int64_t now = 0;
  // "HEAD http://a.test/x" -> its answers in turn, the last one repeated;
  // a request without a script is answered 200.
  std::map<std::string, std::vector<FakeReply>> script;
  std::map<std::string, size_t> asked;
  std::string log;  // "TIME METHOD URL\n" for every start
  std::map<std::string, int> hostNow, hostMost;
  int totalNow = 0, totalMost = 0;
  uint64_t bodyBytesSent = 0;
  // Called first in every poll; true: return at once (it submitted more).
  std::function<bool()> everyPoll;

  struct Pending {
    uint64_t id;
    int64_t at;
    HttpRequest request;
    FakeReply reply;
    std::string host;
  };
  std::vector<Pending> pending;
  uint64_t lastId = 0;
  int polls = 0;

  uint64_t start(HttpRequest request) override {
    const std::string key =
        std::string(request.method == HttpMethod::Head ? "HEAD " : "GET ") + request.url;
    const std::vector<FakeReply>& replies = script[key];
    FakeReply reply =
        replies.empty() ? FakeReply() : replies[std::min(asked[key], replies.size() - 1)];
    ++asked[key];
    log += std::to_string(now) + " " + key + "\n";
    WebUrl url;
    EXPECT_TRUE(parseWebUrl(request.url, &url)) << request.url;
    const std::string host = webHostKey(url);
    hostMost[host] = std::max(hostMost[host], ++hostNow[host]);
    totalMost = std::max(totalMost, ++totalNow);
    pending.push_back({++lastId, now + 100, std::move(request), std::move(reply), host});
    return lastId;
  }

  void poll(int64_t timeoutMs, std::vector<HttpOutcome>* finished) override {
    if (everyPoll && everyPoll()) return;
    // A scheduler that never stops would hang the test: fail it instead.
    if (++polls > 100000 || (pending.empty() && timeoutMs < 0)) {
      ADD_FAILURE() << "the scheduler waits for ever";
      std::abort();
    }
    int64_t earliest = INT64_MAX;
    for (const Pending& p : pending) earliest = std::min(earliest, p.at);
    if (timeoutMs >= 0 && now + timeoutMs < earliest) {
      now += timeoutMs;
      return;
    }
    now = std::max(now, earliest);
    for (size_t i = 0; i < pending.size();) {
      if (pending[i].at > now) {
        ++i;
        continue;
      }
      Pending p = std::move(pending[i]);
      pending.erase(pending.begin() + ptrdiff_t(i));
      --hostNow[p.host];
      --totalNow;
      HttpOutcome outcome;
      outcome.id = p.id;
      outcome.failure = p.reply.failure;
      if (p.reply.failure == HttpFailure::None) {
        outcome.head.status = p.reply.status;
        outcome.head.location = p.reply.location;
        outcome.head.retryAfter = p.reply.retryAfter;
        outcome.head.contentType = p.reply.contentType;
        bool more = p.request.method == HttpMethod::Get && p.request.onHead &&
                    p.request.onHead(outcome.head) && p.request.onBody;
        // The body in small pieces, so that tags are cut between them.
        for (size_t at = 0; more && at < p.reply.body.size(); at += 7) {
          bodyBytesSent += std::min<size_t>(7, p.reply.body.size() - at);
          more = p.request.onBody(std::string_view(p.reply.body).substr(at, 7));
        }
        outcome.stopped = !more;
      }
      finished->push_back(std::move(outcome));
    }
  }

  void wake() override {}
};

NetClock fakeClock(FakeNet& net) {
  return {[&net] { return net.now; }, [&net] { return kEpoch + net.now / 1000; }};
}

FakeReply status(int code, std::string location = "", std::string retryAfter = "") {
  FakeReply reply;
  reply.status = code;
  reply.location = std::move(location);
  reply.retryAfter = std::move(retryAfter);
  return reply;
}

FakeReply failure(HttpFailure why) {
  FakeReply reply;
  reply.failure = why;
  return reply;
}

FakeReply page(std::string body) {
  FakeReply reply;
  reply.body = std::move(body);
  return reply;
}

// A result as one line: "STATE STATUS [final=URL] [moved=URL] [why=...]
// [wait=N] requests=N".
std::string describe(const LinkResult& result, const std::string& url) {
  static const char* const kStates[] = {"working", "http-error", "unreachable", "rate-limited"};
  std::string text = std::string(kStates[int(result.state)]) + " " + std::to_string(result.status);
  if (!result.finalUrl.empty() && result.finalUrl != url) text += " final=" + result.finalUrl;
  if (!result.movedTo.empty()) text += " moved=" + result.movedTo;
  if (!result.why.empty()) text += " why=" + result.why;
  if (result.waitSeconds != 0) text += " wait=" + std::to_string(result.waitSeconds);
  if (result.cached) text += " cached";
  text += " requests=" + std::to_string(result.requests);
  return text;
}

struct Row {
  const char* name;
  LinkCheckOptions options;
  std::map<std::string, std::vector<FakeReply>> script;
  std::vector<std::string> submit;
  std::map<std::string, std::string> expect;  // URL -> describe()
  std::string log{};                          // compared whole when not empty
  int requests = -1;                          // requests in all, when not -1
  int maxHost = 0, maxTotal = 0;              // most in flight, when not 0
};

LinkCheckOptions with(std::function<void(LinkCheckOptions&)> change) {
  LinkCheckOptions options;
  change(options);
  return options;
}

std::vector<std::string> numbered(const std::string& prefix, int count) {
  std::vector<std::string> urls;
  for (int i = 0; i < count; ++i) urls.push_back(prefix + std::to_string(i));
  return urls;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// h0 -> h1 -> ... -> hN, which answers 200.
std::map<std::string, std::vector<FakeReply>> chain(const std::string& prefix, int hops) {
  std::map<std::string, std::vector<FakeReply>> script;
  for (int i = 0; i < hops; ++i) {
    script["HEAD http://a.test/" + prefix + std::to_string(i)] = {
        status(302, "/" + prefix + std::to_string(i + 1))};
  }
  return script;
}

std::map<std::string, std::vector<FakeReply>> joinedScripts(
    std::map<std::string, std::vector<FakeReply>> a,
    const std::map<std::string, std::vector<FakeReply>>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

TEST(LinkScheduler, Table) {
  const LinkCheckOptions defaults;
  const std::vector<Row> rows = {
      {"each distinct URL once, however spelt",
       defaults,
       {},
       {"http://a.test/x", "HTTP://A.TEST:80/x#frag", "http://a.test/./x", "http://a.test/y",
        "http://a.test/x"},
       {{"http://a.test/x", "working 200 requests=1"}},
       "0 HEAD http://a.test/x\n0 HEAD http://a.test/y\n"},
      {"host and total limits",
       with([](LinkCheckOptions& o) {
         o.hostConcurrency = 2;
         o.maxConcurrency = 3;
       }),
       {},
       joined(numbered("http://a.test/", 10), numbered("https://b.test/", 10)),
       {{"https://b.test/9", "working 200 requests=1"}},
       "",
       20,
       2,
       3},
      {"a host's interval, another host unhindered",
       with([](LinkCheckOptions& o) { o.hostIntervalMs = 500; }),
       {},
       {"http://a.test/1", "http://a.test/2", "http://a.test/3", "http://b.test/1"},
       {},
       "0 HEAD http://a.test/1\n0 HEAD http://b.test/1\n500 HEAD http://a.test/2\n"
       "1000 HEAD http://a.test/3\n"},
      {"backoff doubles from one second after network errors and timeouts",
       defaults,
       {{"HEAD http://a.test/x",
         {failure(HttpFailure::Network), failure(HttpFailure::Timeout), status(200)}}},
       {"http://a.test/x"},
       {{"http://a.test/x", "working 200 requests=3"}},
       "0 HEAD http://a.test/x\n1100 HEAD http://a.test/x\n3200 HEAD http://a.test/x\n"},
      {"retries exhausted",
       with([](LinkCheckOptions& o) { o.retries = 1; }),
       {{"HEAD http://a.test/5xx", {status(500)}},
        {"HEAD http://a.test/refused", {failure(HttpFailure::Refused)}},
        {"HEAD http://a.test/nxdomain", {failure(HttpFailure::NameNotFound)}}},
       {"http://a.test/5xx", "http://a.test/refused", "http://a.test/nxdomain"},
       {{"http://a.test/5xx", "http-error 500 requests=2"},
        {"http://a.test/refused", "unreachable 0 why=connection refused requests=2"},
        {"http://a.test/nxdomain", "unreachable 0 why=name not found requests=1"}}},
      {"Retry-After in seconds holds the host back, for every URL",
       with([](LinkCheckOptions& o) { o.hostConcurrency = 1; }),
       {{"HEAD http://a.test/x", {status(429, "", "3"), status(200)}}},
       {"http://a.test/x", "http://a.test/y"},
       {{"http://a.test/x", "working 200 requests=2"}},
       "0 HEAD http://a.test/x\n3100 HEAD http://a.test/y\n3200 HEAD http://a.test/x\n"},
      {"a wait asked for is not a retry: it is honoured with --retries=0, five times at most",
       with([](LinkCheckOptions& o) { o.retries = 0; }),
       {{"HEAD http://a.test/x", {status(429, "", "1"), status(200)}},
        {"HEAD http://a.test/y",
         {status(503, "", "0"), status(503, "", "0"), status(503, "", "0"), status(503, "", "0"),
          status(503, "", "0"), status(503, "", "0"), status(200)}}},
       {"http://a.test/x", "http://a.test/y"},
       {{"http://a.test/x", "working 200 requests=2"},
        {"http://a.test/y", "http-error 503 requests=6"}}},
      {"Retry-After as an HTTP date",
       defaults,
       {{"HEAD http://a.test/x", {status(503, "", "Tue, 14 Nov 2023 22:13:25 GMT"), status(200)}}},
       {"http://a.test/x"},
       {{"http://a.test/x", "working 200 requests=2"}},
       "0 HEAD http://a.test/x\n5100 HEAD http://a.test/x\n"},
      {"a wait past max-wait is a result, not a wait",
       with([](LinkCheckOptions& o) { o.maxWaitSeconds = 60; }),
       {{"HEAD http://a.test/x", {status(429, "", "120")}}},
       {"http://a.test/x"},
       {{"http://a.test/x", "rate-limited 429 wait=120 requests=1"}},
       "0 HEAD http://a.test/x\n"},
      {"429 without Retry-After waits 1 s, then 2 s",
       defaults,
       {{"HEAD http://a.test/x", {status(429), status(429), status(200)}}},
       {"http://a.test/x"},
       {{"http://a.test/x", "working 200 requests=3"}},
       "0 HEAD http://a.test/x\n1100 HEAD http://a.test/x\n3200 HEAD http://a.test/x\n"},
      {"HEAD refused with 405 or 501 is asked again with GET",
       defaults,
       {{"HEAD http://a.test/x", {status(405)}}, {"HEAD http://a.test/y", {status(501)}}},
       {"http://a.test/x", "http://a.test/y"},
       {{"http://a.test/x", "working 200 requests=2"},
        {"http://a.test/y", "working 200 requests=2"}},
       "0 HEAD http://a.test/x\n0 HEAD http://a.test/y\n100 GET http://a.test/x\n"
       "100 GET http://a.test/y\n"},
      {"a redirect chain across hosts, each hop a request",
       defaults,
       {{"HEAD http://a.test/1", {status(302, "/2")}},
        {"HEAD http://a.test/2", {status(307, "http://B.test/three?q")}}},
       {"http://a.test/1"},
       {{"http://a.test/1", "working 200 final=http://b.test/three?q requests=3"}},
       "0 HEAD http://a.test/1\n100 HEAD http://a.test/2\n200 HEAD http://b.test/three?q\n"},
      {"a redirect loop",
       defaults,
       {{"HEAD http://a.test/l1", {status(302, "l2")}},
        {"HEAD http://a.test/l2", {status(302, "/l1")}}},
       {"http://a.test/l1"},
       {{"http://a.test/l1",
         "unreachable 0 final=http://a.test/l2 why=too many redirects requests=2"}}},
      {"ten redirects are followed, eleven are too many",
       defaults,
       joinedScripts(chain("k", 10), chain("h", 11)),
       {"http://a.test/k0", "http://a.test/h0"},
       {{"http://a.test/k0", "working 200 final=http://a.test/k10 requests=11"},
        {"http://a.test/h0",
         "unreachable 0 final=http://a.test/h10 why=too many redirects requests=11"}}},
      {"301 or 308 on the first request is moved; later hops are not",
       defaults,
       {{"HEAD http://a.test/old", {status(301, "/new")}},
        {"HEAD http://a.test/p", {status(302, "/q")}},
        {"HEAD http://a.test/q", {status(308, "/r")}},
        {"HEAD http://a.test/gone", {status(308, "/404")}},
        {"HEAD http://a.test/404", {status(404)}}},
       {"http://a.test/old", "http://a.test/p", "http://a.test/gone"},
       {{"http://a.test/old",
         "working 200 final=http://a.test/new moved=http://a.test/new requests=2"},
        {"http://a.test/p", "working 200 final=http://a.test/r requests=3"},
        {"http://a.test/gone",
         "http-error 404 final=http://a.test/404 moved=http://a.test/404 requests=2"}}},
      {"the accept list",
       with([](LinkCheckOptions& o) {
         std::string error;
         EXPECT_TRUE(parseAcceptList("200-299,403", &o.accept, &error)) << error;
       }),
       {{"HEAD http://a.test/403", {status(403)}},
        {"HEAD http://a.test/404", {status(404)}},
        {"HEAD http://a.test/300", {status(300)}}},
       {"http://a.test/403", "http://a.test/404", "http://a.test/300"},
       {{"http://a.test/403", "working 403 requests=1"},
        {"http://a.test/404", "http-error 404 requests=1"},
        {"http://a.test/300", "http-error 300 requests=1"}}},
      {"a redirect to another scheme ends the chain",
       defaults,
       {{"HEAD http://a.test/ftp", {status(302, "ftp://a.test/file")}}},
       {"http://a.test/ftp"},
       {{"http://a.test/ftp",
         "unreachable 0 why=redirected to 'ftp://a.test/file', which is not an http or https URL "
         "requests=1"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeNet net;
    net.script = row.script;
    LinkScheduler scheduler;
    initLinkScheduler(&scheduler, row.options, &net, fakeClock(net), nullptr);
    for (const std::string& url : row.submit) EXPECT_TRUE(submitLink(scheduler, url)) << url;
    closeLinkSubmissions(scheduler);
    runLinkScheduler(scheduler);
    for (const auto& [url, expected] : row.expect) {
      const LinkResult* result = findLinkResult(scheduler, url);
      ASSERT_NE(result, nullptr) << url;
      EXPECT_EQ(describe(*result, url), expected) << url;
    }
    for (const std::string& url : row.submit) EXPECT_NE(findLinkResult(scheduler, url), nullptr);
    if (!row.log.empty()) {
      EXPECT_EQ(net.log, row.log);
    }
    if (row.requests >= 0) {
      EXPECT_EQ(int(net.lastId), row.requests) << net.log;
    }
    if (row.maxHost > 0) {
      for (const auto& [host, most] : net.hostMost) EXPECT_EQ(most, row.maxHost) << host;
    }
    if (row.maxTotal > 0) {
      EXPECT_EQ(net.totalMost, row.maxTotal);
    }
    EXPECT_EQ(scheduler.linksDone.load(), scheduler.linksFound.load());
  }
}

std::string filler(size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += "<p class=x>Some text, &amp; more.</p>\n";
  return text;
}

TEST(LinkScheduler, RemoteAnchorsAreReadWithGetUpToTheLastOneAskedFor) {
  LinkCheckOptions options;
  options.remoteAnchors = true;
  const std::string body = "<!doctype html><h1 id=\"intro\">Hi</h1>" + filler(8000) +
                           "<a name='later'></a><!-- <p id=hidden> -->" + filler(8000) +
                           "<p id=end>";
  for (const bool askMissing : {false, true}) {
    SCOPED_TRACE(askMissing ? "one fragment is missing" : "every fragment is there");
    FakeNet net;
    net.script["GET http://a.test/page"] = {page(body)};
    LinkScheduler scheduler;
    initLinkScheduler(&scheduler, options, &net, fakeClock(net), nullptr);
    submitLink(scheduler, "http://a.test/page#intro");
    submitLink(scheduler, "http://a.test/page#later");
    submitLink(scheduler, "http://a.test/page#top");
    if (askMissing) submitLink(scheduler, "http://a.test/page#hidden");
    closeLinkSubmissions(scheduler);
    runLinkScheduler(scheduler);
    EXPECT_EQ(net.log, "0 GET http://a.test/page\n");
    const LinkResult* result = findLinkResult(scheduler, "http://a.test/page");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(remoteAnchorFound(*result, "intro"), 1);
    EXPECT_EQ(remoteAnchorFound(*result, "later"), 1);
    EXPECT_EQ(remoteAnchorFound(*result, "top"), 1);
    if (askMissing) {
      // Read to the end: what is not there is known to be missing.
      EXPECT_EQ(net.bodyBytesSent, body.size());
      EXPECT_EQ(remoteAnchorFound(*result, "hidden"), 0);
      EXPECT_EQ(remoteAnchorFound(*result, "end"), 1);
    } else {
      // Stopped after "later": the rest was never read, so "end" is unknown.
      EXPECT_LT(net.bodyBytesSent, body.size() - 2000);
      EXPECT_EQ(remoteAnchorFound(*result, "end"), -1);
    }
  }
}

TEST(LinkScheduler, AFragmentThatComesLaterReadsAPageStoppedShortOnceMore) {
  LinkCheckOptions options;
  options.remoteAnchors = true;
  FakeNet net;
  net.script["GET http://a.test/page"] = {page("<p id=intro>" + filler(10000) + "<p id=late>")};
  net.script["GET http://a.test/plain"] = {page("<p id=sec>")};
  net.script["GET http://a.test/pdf"] = {page("%PDF-1.4 <p id=sec>")};
  net.script["GET http://a.test/pdf"][0].contentType = "application/pdf";
  LinkScheduler scheduler;
  initLinkScheduler(&scheduler, options, &net, fakeClock(net), nullptr);
  submitLink(scheduler, "http://a.test/page#intro");
  submitLink(scheduler, "http://a.test/plain");
  submitLink(scheduler, "http://a.test/pdf#sec");
  bool submitted = false;
  net.everyPoll = [&] {
    if (submitted || net.now < 100) return false;
    submitted = true;
    submitLink(scheduler, "http://a.test/page#late");
    submitLink(scheduler, "http://a.test/plain#sec");
    submitLink(scheduler, "http://a.test/pdf#other");
    closeLinkSubmissions(scheduler);
    return true;
  };
  runLinkScheduler(scheduler);
  // The plain page, named first without a fragment, was read whole, and
  // the PDF is not HTML: only the page whose read stopped at "intro" is
  // asked again.
  EXPECT_EQ(net.log,
            "0 GET http://a.test/page\n0 GET http://a.test/plain\n0 GET http://a.test/pdf\n"
            "100 GET http://a.test/page\n");
  const LinkResult* pageResult = findLinkResult(scheduler, "http://a.test/page");
  const LinkResult* plainResult = findLinkResult(scheduler, "http://a.test/plain#x");
  const LinkResult* pdfResult = findLinkResult(scheduler, "http://a.test/pdf");
  ASSERT_TRUE(pageResult && plainResult && pdfResult);
  EXPECT_EQ(remoteAnchorFound(*pageResult, "late"), 1);
  EXPECT_EQ(remoteAnchorFound(*pageResult, "gone"), 0);
  EXPECT_EQ(remoteAnchorFound(*plainResult, "sec"), 1);
  EXPECT_EQ(remoteAnchorFound(*pdfResult, "sec"), -1);
  EXPECT_EQ(pageResult->requests, 2u);
}

TEST(LinkScheduler, TheCacheSkipsFreshUrlsAndKeepsWhatWorks) {
  LinkCheckOptions options;
  options.cacheAgeSeconds = 3600;
  options.remoteAnchors = true;
  LinkCache cache;
  cache.checkedAt = {
      {"http://a.test/fresh", kEpoch - 100},       {"http://a.test/anchored", kEpoch - 100},
      {"http://a.test/stale", kEpoch - 7200},      {"http://a.test/now-broken", kEpoch - 7200},
      {"http://a.test/unmentioned", kEpoch - 100}, {"http://a.test/future", kEpoch + 100}};
  FakeNet net;
  net.script["GET http://a.test/now-broken"] = {status(404)};
  LinkScheduler scheduler;
  initLinkScheduler(&scheduler, options, &net, fakeClock(net), &cache);
  for (const char* url : {"http://a.test/fresh", "http://a.test/anchored#x", "http://a.test/stale",
                          "http://a.test/now-broken", "http://a.test/future"}) {
    submitLink(scheduler, url);
  }
  closeLinkSubmissions(scheduler);
  runLinkScheduler(scheduler);
  // A fragment needs the page, which the cache does not keep; reading
  // anchors, every request is a GET.
  EXPECT_EQ(net.log,
            "0 GET http://a.test/anchored\n0 GET http://a.test/stale\n"
            "0 GET http://a.test/now-broken\n0 GET http://a.test/future\n");
  EXPECT_EQ(describe(*findLinkResult(scheduler, "http://a.test/fresh"), "http://a.test/fresh"),
            "working 0 cached requests=0");
  updateLinkCache(scheduler, kEpoch + 10, &cache);
  const std::map<std::string, int64_t> kept(cache.checkedAt.begin(), cache.checkedAt.end());
  const std::map<std::string, int64_t> expected = {{"http://a.test/anchored", kEpoch + 10},
                                                   {"http://a.test/fresh", kEpoch - 100},
                                                   {"http://a.test/future", kEpoch + 10},
                                                   {"http://a.test/stale", kEpoch + 10},
                                                   {"http://a.test/unmentioned", kEpoch - 100}};
  EXPECT_EQ(kept, expected);
}

}  // namespace
}  // namespace site
