// The curl client under the scheduler against a real server: the scripted
// HTTP and HTTPS server of http_test_server.py, which the tests start on
// loopback addresses (127.0.0.2 and 127.0.0.3 are hosts of their own) and
// which counts every request and the most in flight on each host. Names
// such as a.test are mapped to those addresses in the client; nothing is
// resolved and nothing leaves 127.0.0.0/8.
#include <gtest/gtest.h>

#ifdef TANGLER_PYTHON3

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "http_test_server.h"
#include "platform/http_client.h"
#include "site/net/link_scheduler.h"

namespace site {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using site_http::TestServer;

TestServer*& server = site_http::ServerSuite::server;

class LinkNetwork : public site_http::ServerSuite {};

// a.test -> 127.0.0.2, b.test -> 127.0.0.3, secure.test -> 127.0.0.2's
// HTTPS; the server's certificate trusted.
HttpClientOptions clientOptions() {
  HttpClientOptions options;
  options.timeoutMs = 2000;
  options.userAgent = "tangler-site/test";
  options.caFile = server->ready["cert"].get<std::string>();
  options.mappedHostsOnly = true;
  options.environmentProxy = false;
  options.hostAddresses = {
      {"a.test", uint16_t(server->port("127.0.0.2", "http")), "127.0.0.2"},
      {"b.test", uint16_t(server->port("127.0.0.3", "http")), "127.0.0.3"},
      {"secure.test", uint16_t(server->port("127.0.0.2", "https")), "127.0.0.2"},
  };
  return options;
}

// "http://a.test:PORT" and the like.
std::string origin(const std::string& name) {
  if (name == "secure.test")
    return "https://secure.test:" + std::to_string(server->port("127.0.0.2", "https"));
  const std::string address = name == "a.test" ? "127.0.0.2" : "127.0.0.3";
  return "http://" + name + ":" + std::to_string(server->port(address, "http"));
}

// How the server keys a request: "METHOD ADDRESS:PORT/PATH".
std::string serverKey(const std::string& method, const std::string& name, const std::string& path) {
  const std::string address = name == "b.test" ? "127.0.0.3" : "127.0.0.2";
  const std::string scheme = name == "secure.test" ? "https" : "http";
  return method + " " + address + ":" + std::to_string(server->port(address, scheme)) + path;
}

// The server's counts, asked for with a client of its own.
json serverStats() {
  std::string error;
  std::unique_ptr<HttpClient> client = makeHttpClient(clientOptions(), &error);
  EXPECT_NE(client, nullptr) << error;
  if (client == nullptr) return json::object();
  std::string body;
  HttpRequest request;
  request.url = origin("a.test") + "/__stats";
  request.method = HttpMethod::Get;
  request.onHead = [](const HttpAnswerHead&) { return true; };
  request.onBody = [&](std::string_view bytes) {
    body.append(bytes);
    return true;
  };
  client->start(std::move(request));
  std::vector<HttpOutcome> done;
  for (int i = 0; i < 100 && done.empty(); ++i) client->poll(100, &done);
  EXPECT_EQ(done.size(), 1u);
  return json::parse(body, nullptr, false);
}

// Runs a scheduler over a curl client on its own thread, as a run will;
// submit() feeds it from the calling thread.
struct CheckRun {
  std::unique_ptr<HttpClient> client;
  LinkScheduler scheduler;
  std::thread thread;

  // With startNow false, the scheduler waits for start(): what is submitted
  // before is all there at its first look.
  CheckRun(const LinkCheckOptions& options, const HttpClientOptions& http, bool startNow = true) {
    std::string error;
    client = makeHttpClient(http, &error);
    EXPECT_NE(client, nullptr) << error;
    initLinkScheduler(&scheduler, options, client.get(), systemNetClock(), nullptr);
    if (startNow) start();
  }
  void start() {
    thread = std::thread([this] { runLinkScheduler(scheduler); });
  }
  void finish() {
    closeLinkSubmissions(scheduler);
    if (thread.joinable()) thread.join();
  }
  ~CheckRun() { finish(); }
  LinkResult result(const std::string& url) {
    const LinkResult* found = findLinkResult(scheduler, url);
    if (found != nullptr) return *found;
    LinkResult none;
    none.state = LinkState::Unreachable;
    none.why = "never submitted";
    return none;
  }
};

TEST_F(LinkNetwork, EachUrlOnceAndNoHostAboveItsLimit) {
  LinkCheckOptions options;
  options.hostConcurrency = 2;
  options.maxConcurrency = 5;
  CheckRun run(options, clientOptions());
  std::vector<std::string> paths;
  std::vector<std::string> urls;
  for (const char* name : {"a.test", "b.test", "secure.test"}) {
    for (int i = 0; i < 8; ++i) {
      const std::string path = "/limits/slow/150?n=" + std::to_string(i);
      paths.push_back(serverKey("HEAD", name, path));
      urls.push_back(origin(name) + path);
    }
  }
  // Four page-reading threads mention every URL, with and without
  // fragments, in the same time as the checks run.
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      for (size_t i = 0; i < urls.size(); ++i) {
        submitLink(run.scheduler,
                   urls[(i + size_t(t) * 5) % urls.size()] + "#f" + std::to_string(t));
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  run.finish();
  for (const std::string& url : urls) {
    EXPECT_EQ(run.result(url).state, LinkState::Working) << url << " " << run.result(url).why;
  }
  const json stats = serverStats();
  for (const std::string& key : paths) EXPECT_EQ(stats["requests"].value(key, 0), 1) << key;
  size_t asked = 0;
  for (const auto& [key, count] : stats["requests"].items()) {
    asked += key.find("/limits/") != std::string::npos;
  }
  EXPECT_EQ(asked, paths.size()) << "only the URLs above were asked for";
  int hostMost = 0;
  for (const auto& [counter, most] : stats["most_in_flight"].items()) {
    if (!counter.ends_with(" /limits")) continue;
    EXPECT_LE(most.get<int>(), 2) << counter;
    hostMost = std::max(hostMost, most.get<int>());
  }
  // The limits were reached, so the test would see them broken.
  EXPECT_EQ(hostMost, 2);
  EXPECT_LE(stats["most_in_flight"]["/limits"].get<int>(), 5);
  EXPECT_GE(stats["most_in_flight"]["/limits"].get<int>(), 4);
}

TEST_F(LinkNetwork, AnswersBecomeResults) {
  LinkCheckOptions options;
  options.retries = 1;
  HttpClientOptions http = clientOptions();
  http.timeoutMs = 1000;
  CheckRun run(options, http);
  const std::string a = origin("a.test");
  const std::string b = origin("b.test");
  struct Row {
    std::string url;
    LinkState state;
    int status;
    std::string finalUrl, movedTo, why;
    uint32_t requests;
  };
  const LinkState W = LinkState::Working, E = LinkState::HttpError, U = LinkState::Unreachable;
  const std::string closed =
      "http://127.0.0.1:" + std::to_string(server->ready["closed_port"].get<int>()) + "/";
  const std::string across =
      "/answers/to/127.0.0.3/" + std::to_string(server->port("127.0.0.3", "http")) + "/answers/ok";
  const std::vector<Row> rows = {
      {a + "/answers/status/404", E, 404, "", "", "", 1},
      {a + "/answers/status/410", E, 410, "", "", "", 1},
      {a + "/answers/chain/3", W, 200, a + "/answers/chain/0", "", "", 4},
      {a + "/answers/chain/11", U, 0, a + "/answers/chain/1", "", "too many redirects", 11},
      {a + "/answers/loop/a", U, 0, a + "/answers/loop/b", "", "too many redirects", 2},
      {a + "/answers/moved/301", W, 200, a + "/answers/ok", a + "/answers/ok", "", 2},
      {a + "/answers/moved/308", W, 200, a + "/answers/ok", a + "/answers/ok", "", 2},
      {a + "/answers/nohead", W, 200, "", "", "", 2},
      {a + across, W, 200,
       "http://127.0.0.3:" + std::to_string(server->port("127.0.0.3", "http")) + "/answers/ok", "",
       "", 2},
      {b + "/answers/slow/2500", U, 0, "", "", "timeout", 2},
      {b + "/answers/flaky/1", W, 200, "", "", "", 2},
      {b + "/answers/limit/1/429/secs/1", W, 200, "", "", "", 2},
      {origin("secure.test") + "/answers/limit/1/503/date/2", W, 200, "", "", "", 2},
      {origin("secure.test") + "/answers/ok", W, 200, "", "", "", 1},
      {"http://nowhere.test/", U, 0, "", "", "name not found", 1},
      {closed, U, 0, "", "", "connection refused", 2},
  };
  for (const Row& row : rows) submitLink(run.scheduler, row.url);
  submitLink(run.scheduler, a + "/answers/reset");
  run.finish();
  for (const Row& row : rows) {
    const LinkResult result = run.result(row.url);
    EXPECT_EQ(int(result.state), int(row.state)) << row.url << " " << result.why;
    EXPECT_EQ(result.status, row.status) << row.url;
    EXPECT_EQ(result.finalUrl, row.finalUrl.empty() ? row.url : row.finalUrl) << row.url;
    EXPECT_EQ(result.movedTo, row.movedTo) << row.url;
    EXPECT_EQ(result.why, row.why) << row.url;
    EXPECT_EQ(result.requests, row.requests) << row.url;
  }
  const LinkResult reset = run.result(a + "/answers/reset");
  EXPECT_EQ(reset.state, LinkState::Unreachable);
  EXPECT_FALSE(reset.why.empty());
  EXPECT_EQ(reset.requests, 2u);

  const json stats = serverStats();
  // The waits the servers asked for were kept: 1 s, and up to the date 2 s ahead.
  for (const auto& [key, least] :
       {std::pair(serverKey("HEAD", "b.test", "/answers/limit/1/429/secs/1"), 0.95),
        std::pair(serverKey("HEAD", "secure.test", "/answers/limit/1/503/date/2"), 0.95),
        std::pair(serverKey("HEAD", "b.test", "/answers/flaky/1"), 0.95)}) {
    const json& times = stats["times"][key];
    ASSERT_EQ(times.size(), 2u) << key;
    EXPECT_GE(times[1].get<double>() - times[0].get<double>(), least) << key;
  }
  EXPECT_EQ(stats["requests"].value(serverKey("HEAD", "a.test", "/answers/nohead"), 0), 1);
  EXPECT_EQ(stats["requests"].value(serverKey("GET", "a.test", "/answers/nohead"), 0), 1);
  EXPECT_EQ(stats["headers"][serverKey("HEAD", "a.test", "/answers/status/404")]["User-Agent"],
            "tangler-site/test");
}

TEST_F(LinkNetwork, CertificatesAreVerifiedUnlessInsecure) {
  const std::string url = origin("secure.test") + "/tls/ok";
  for (const bool insecure : {false, true}) {
    // The system's store, which does not hold the test's certificate.
    HttpClientOptions http = clientOptions();
    http.caFile.clear();
    http.insecure = insecure;
    LinkCheckOptions options;
    options.retries = 0;
    CheckRun run(options, http);
    submitLink(run.scheduler, url);
    run.finish();
    const LinkResult result = run.result(url);
    if (insecure) {
      EXPECT_EQ(result.state, LinkState::Working) << result.why;
    } else {
      EXPECT_EQ(result.state, LinkState::Unreachable);
      EXPECT_EQ(result.why.substr(0, 5), "TLS: ") << result.why;
    }
  }
}

TEST_F(LinkNetwork, RemoteAnchorsInChunkedGzipAndLargePages) {
  LinkCheckOptions options;
  options.remoteAnchors = true;
  HttpClientOptions http = clientOptions();
  http.timeoutMs = 10000;
  http.headers = {"X-Test-Run: anchors"};
  CheckRun run(options, http, false);
  const std::string a = origin("a.test");
  const std::vector<std::pair<std::string, int>> rows = {
      {a + "/anchors/chunked#c1", 1},          {a + "/anchors/chunked#c2", 1},
      {a + "/anchors/chunked#c3", 0},          {a + "/anchors/gzip#g1", 1},
      {a + "/anchors/big/6144/6080#deep", 1},   // near the end of 6 MiB
      {a + "/anchors/big/16384/9216#deep", 0},  // past the 8 MiB read
      {a + "/anchors/big/16384/0#deep", 1},     // at the start: the rest is not read
      {a + "/anchors/status/404#status", -1},
  };
  // Every fragment is known before the first request, so each page is read
  // once, only as far as its anchors.
  for (const auto& [url, found] : rows) submitLink(run.scheduler, url);
  run.start();
  run.finish();
  for (const auto& [url, found] : rows) {
    const std::string fragment = url.substr(url.find('#') + 1);
    EXPECT_EQ(remoteAnchorFound(run.result(url), fragment), found) << url;
    EXPECT_EQ(run.result(url).requests, 1u) << url;
  }
  const json stats = serverStats();
  EXPECT_EQ(stats["requests"].value(serverKey("GET", "a.test", "/anchors/chunked"), 0), 1);
  EXPECT_EQ(stats["requests"].value(serverKey("HEAD", "a.test", "/anchors/chunked"), 0), 0);
  EXPECT_EQ(stats["complete"][serverKey("GET", "a.test", "/anchors/big/16384/0")], false);
  EXPECT_EQ(stats["complete"][serverKey("GET", "a.test", "/anchors/big/16384/9216")], false);
  EXPECT_EQ(stats["headers"][serverKey("GET", "a.test", "/anchors/gzip")]["X-Test-Run"], "anchors");
}

}  // namespace
}  // namespace site

#endif  // TANGLER_PYTHON3
