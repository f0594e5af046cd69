// tangler-site --external as a user runs it: the built program against the
// scripted HTTP and HTTPS server of http_test_server.py on loopback
// (127.0.0.2 and 127.0.0.3 are hosts of their own; nothing listens on its
// closed port). The server counts each request and the most in flight per
// host, so that the cases see what the program asked, not only what it
// wrote. URLs are IP literals: no name is resolved.
#include <gtest/gtest.h>

#ifdef TANGLER_PYTHON3

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "http_test_server.h"
#include "run_harness.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using site_e2e::RunResult;
using site_e2e::Scratch;

using site_http::TestServer;

TestServer*& server = site_http::ServerSuite::server;

class SiteRunExternal : public site_http::ServerSuite {};

// "http://127.0.0.2:PORT" and the like.
std::string origin(const std::string& address, const std::string& scheme = "http") {
  return scheme + "://" + address + ":" + std::to_string(server->port(address, scheme));
}

// text with each {A}, {B}, {S} (127.0.0.2's HTTPS), {APORT} and {CLOSED}
// replaced.
std::string expand(std::string text) {
  const std::pair<std::string, std::string> names[] = {
      {"{A}", origin("127.0.0.2")},
      {"{B}", origin("127.0.0.3")},
      {"{S}", origin("127.0.0.2", "https")},
      {"{APORT}", std::to_string(server->port("127.0.0.2", "http"))},
      {"{CLOSED}", "http://127.0.0.1:" + std::to_string(server->ready["closed_port"].get<int>())},
  };
  for (const auto& [name, value] : names) {
    for (size_t at; (at = text.find(name)) != std::string::npos;)
      text.replace(at, name.size(), value);
  }
  return text;
}

// The server's counts, fetched by Python's own client (no proxy).
json serverStats() {
  const std::string command =
      std::string("'") + TANGLER_PYTHON3 +
      "' -c 'import sys, urllib.request as u; "
      "o = u.build_opener(u.ProxyHandler({})); "
      "sys.stdout.write(o.open(sys.argv[1], timeout=10).read().decode())' '" +
      origin("127.0.0.2") + "/__stats'";
  FILE* pipe = popen(command.c_str(), "r");
  std::string text;
  if (pipe != nullptr) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      text.append(buffer, got);
    pclose(pipe);
  }
  return json::parse(text, nullptr, false);
}

// How often the server saw METHOD on address's HTTP port at path.
int requests(const json& stats, const std::string& method, const std::string& address,
             const std::string& path) {
  const std::string key =
      method + " " + address + ":" + std::to_string(server->port(address, "http")) + path;
  const json& all = stats["requests"];
  return all.contains(key) ? all[key].get<int>() : 0;
}

// One reference a line, each at column 10.
std::string linksPage(const std::vector<std::string>& references) {
  std::string page;
  for (const std::string& reference : references) page += "<a href=\"" + reference + "\">x</a>\n";
  return page;
}

TEST_F(SiteRunExternal, EachAnswerMakesItsFinding) {
  struct {
    const char* reference;
    const char* finding;  // after "site/index.html:LINE:10: "; empty: none
  } const rows[] = {
      {"{A}/k/ok", ""},
      {"{A}/k/status/404", "error: '{A}/k/status/404' answered 404 Not Found [http-error]"},
      {"{A}/k/to/127.0.0.2/{APORT}/k/status/410",
       "error: '{A}/k/to/127.0.0.2/{APORT}/k/status/410' answered 410 Gone at "
       "'{A}/k/status/410' [http-error]"},
      {"{A}/k/status/500",
       "error: '{A}/k/status/500' answered 500 Internal Server Error [http-error]"},
      {"{A}/k/moved/301", "warning: '{A}/k/moved/301' has moved permanently to '{A}/k/ok' [moved]"},
      {"{A}/k/moved/308", "warning: '{A}/k/moved/308' has moved permanently to '{A}/k/ok' [moved]"},
      // A wait within --max-wait is waited out, even with --retries=0.
      {"{A}/k/limit/1/429/secs/1", ""},
      {"{B}/k/limit/9/429/secs/120",
       "warning: '{B}/k/limit/9/429/secs/120' asked to wait 120 s, more than --max-wait "
       "[rate-limited]"},
      {"{CLOSED}/k", "error: '{CLOSED}/k' could not be reached: connection refused [unreachable]"},
      {"{A}/k/loop/a",
       "error: '{A}/k/loop/a' could not be reached: too many redirects [unreachable]"},
      {"{A}/k/chunked#c2", ""},
      {"{A}/k/chunked#c3",
       "error: '{A}/k/chunked#c3': {A}/k/chunked has no anchor 'c3' [missing-anchor]"},
      {"{A}/k/moved/301#top-of-ok",
       "warning: '{A}/k/moved/301#top-of-ok' has moved permanently to '{A}/k/ok' [moved]"},
      // Every place that mentions a failing URL gets its finding.
      {"{A}/k/status/404#x", "error: '{A}/k/status/404#x' answered 404 Not Found [http-error]"},
  };
  std::vector<std::string> references;
  std::string report;
  for (size_t i = 0; i < std::size(rows); ++i) {
    references.push_back(expand(rows[i].reference));
    if (*rows[i].finding != '\0') {
      report +=
          "site/index.html:" + std::to_string(i + 1) + ":10: " + expand(rows[i].finding) + "\n";
    }
  }
  Scratch scratch;
  scratch.write("site/index.html", linksPage(references));
  const RunResult run = scratch.run({"--external", "--remote-anchors", "--retries=0",
                                     "--max-wait=1", "--timeout=10", "-j2", "-q", "site"});
  EXPECT_EQ(run.out, report);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 1);
  const json stats = serverStats();
  // Each distinct URL once, whatever its fragment, and with anchors read,
  // always with GET: a fragment named after the URL needs no second request.
  EXPECT_EQ(requests(stats, "GET", "127.0.0.2", "/k/status/404"), 1);
  EXPECT_EQ(requests(stats, "GET", "127.0.0.2", "/k/status/500"), 1);  // --retries=0
  EXPECT_EQ(requests(stats, "GET", "127.0.0.2", "/k/limit/1/429/secs/1"), 2);
  EXPECT_EQ(requests(stats, "HEAD", "127.0.0.2", "/k/status/404"), 0);
}

TEST_F(SiteRunExternal, JsonAndSarifCarryStatusAndUrl) {
  Scratch scratch;
  scratch.write("site/index.html", linksPage({expand("{A}/j/to/127.0.0.2/{APORT}/j/status/404"),
                                              expand("{A}/j/moved/301"), expand("{CLOSED}/j")}));
  const RunResult plain = scratch.run({"--format=json", "-q", "site"});
  const json offline = json::parse(plain.out, nullptr, false);
  // A run without --external keeps the report it had.
  EXPECT_FALSE(offline["summary"].contains("external_checked")) << plain.out;

  const RunResult run = scratch.run({"--external", "--retries=0", "--format=json", "-q", "site"});
  const json report = json::parse(run.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << run.out;
  EXPECT_EQ(report["summary"]["external"], 3);
  EXPECT_EQ(report["summary"]["external_checked"], 3);
  EXPECT_EQ(report["summary"]["external_working"], 1);
  EXPECT_EQ(report["summary"]["external_failed"], 2);
  EXPECT_EQ(report["summary"]["external_cached"], 0);
  const json& findings = report["findings"];
  ASSERT_EQ(findings.size(), 3u) << run.out;
  EXPECT_EQ(findings[0]["kind"], "http-error");
  EXPECT_EQ(findings[0]["status"], 404);
  EXPECT_EQ(findings[0]["url"], expand("{A}/j/status/404"));
  EXPECT_EQ(findings[1]["kind"], "moved");
  EXPECT_EQ(findings[1]["status"], 301);
  EXPECT_EQ(findings[1]["url"], expand("{A}/j/ok"));
  EXPECT_EQ(findings[2]["kind"], "unreachable");
  EXPECT_FALSE(findings[2].contains("status"));
  EXPECT_EQ(findings[2]["url"], expand("{CLOSED}/j"));

  const RunResult sarifRun =
      scratch.run({"--external", "--retries=0", "--format=sarif", "-q", "site"});
  const json sarif = json::parse(sarifRun.out, nullptr, false);
  ASSERT_TRUE(sarif.is_object()) << sarifRun.out;
  const json& rules = sarif["runs"][0]["tool"]["driver"]["rules"];
  ASSERT_EQ(rules.size(), 11u);
  // The new rules come after the seven of 1.2, whose indexes stay.
  EXPECT_EQ(rules[6]["id"], "orphan");
  const json& result = sarif["runs"][0]["results"][0];
  EXPECT_EQ(result["ruleId"], "http-error");
  EXPECT_EQ(rules[result["ruleIndex"].get<size_t>()]["id"], "http-error");
  EXPECT_EQ(result["properties"]["status"], 404);
  EXPECT_EQ(result["properties"]["url"], expand("{A}/j/status/404"));
}

TEST_F(SiteRunExternal, CacheSkipsWorkingUrlsOnTheNextRun) {
  Scratch scratch;
  scratch.write("site/index.html", linksPage({expand("{A}/c/ok"), expand("{A}/c/status/404")}));
  const std::vector<std::string> args = {"--external", "--retries=0", "--cache=links.cache",
                                         "site"};
  const RunResult cold = scratch.run(args);
  EXPECT_EQ(cold.status, 1);
  EXPECT_NE(cold.err.find("(2 external, 2 URLs checked: 1 working, 1 failed, 0 from the cache)"),
            std::string::npos)
      << cold.err;
  const RunResult warm = scratch.run(args);
  EXPECT_EQ(warm.out, cold.out);
  EXPECT_NE(warm.err.find("(2 external, 2 URLs checked: 1 working, 1 failed, 1 from the cache)"),
            std::string::npos)
      << warm.err;
  json stats = serverStats();
  EXPECT_EQ(requests(stats, "HEAD", "127.0.0.2", "/c/ok"), 1);
  EXPECT_EQ(requests(stats, "HEAD", "127.0.0.2", "/c/status/404"), 2);  // failures are not kept

  // A cache that cannot be read is named and not used; the run goes on.
  scratch.write("links.cache", "not a cache\n");
  const RunResult unreadable = scratch.run(args);
  EXPECT_EQ(unreadable.out, cold.out);
  EXPECT_EQ(unreadable.err.rfind("tangler-site: cannot read the cache 'links.cache': ", 0), 0u)
      << unreadable.err;
  EXPECT_EQ(unreadable.status, 1);
  stats = serverStats();
  EXPECT_EQ(requests(stats, "HEAD", "127.0.0.2", "/c/ok"), 2);
}

TEST_F(SiteRunExternal, SiteUrlReferencesAreLocalAndNeverFetched) {
  Scratch scratch;
  scratch.write("site/index.html",
                linksPage({expand("{A}/s/docs/missing.html"), expand("{A}/s/docs/a.html#zz"),
                           expand("{A}/s/docs/A.html"), expand("{A}/s/docs/b/")}));
  scratch.write("site/a.html", "<p id=q>");
  scratch.write("site/b/index.html", "");
  scratch.write("site/old.png", "");
  const std::string report = expand(
      "site/index.html:1:10: error: '{A}/s/docs/missing.html' not found [missing-file]\n"
      "site/index.html:2:10: error: '{A}/s/docs/a.html#zz': site/a.html has no anchor 'zz' "
      "[missing-anchor]\n"
      "site/index.html:3:10: error: '{A}/s/docs/A.html' differs in letter case from the stored "
      "'site/a.html' [case-mismatch]\n"
      "site/old.png: warning: not referenced by any page [orphan]\n");
  for (const bool external : {false, true}) {
    std::vector<std::string> args = {"--site-url=" + expand("{A}/s/docs"), "-q", "site"};
    if (external) args.insert(args.begin(), "--external");
    const RunResult run = scratch.run(args);
    EXPECT_EQ(run.out, report) << external;
    EXPECT_EQ(run.status, 1);
  }
  const json stats = serverStats();
  for (const auto& [key, count] : stats["requests"].items()) {
    EXPECT_EQ(key.find("/s/"), std::string::npos) << key;
  }
}

TEST_F(SiteRunExternal, OnceEachAndNoHostAboveItsLimitAtAnyJobs) {
  // Thirty pages mention the same URLs on two hosts; the report is the same
  // bytes at -j1 and -j4, each URL is asked for once a run, and neither host
  // ever has more than --host-concurrency requests in flight.
  auto site = [](Scratch& scratch, const std::string& group) {
    std::vector<std::string> references;
    for (const char* host : {"{A}", "{B}"}) {
      for (int i = 0; i < 6; ++i) {
        references.push_back(
            expand(std::string(host) + "/" + group + "/slow/200?n=" + std::to_string(i)));
      }
      references.push_back(expand(std::string(host) + "/" + group + "/status/404"));
    }
    for (int page = 0; page < 30; ++page) {
      scratch.write("site/p" + std::to_string(page) + ".html", linksPage(references));
    }
    scratch.write("site/index.html", "");
  };
  Scratch one, four;
  site(one, "p1");
  site(four, "p4");
  const RunResult serial =
      one.run({"--external", "--host-concurrency=2", "--orphans=off", "-j1", "-q", "site"});
  const RunResult parallel =
      four.run({"--external", "--host-concurrency=2", "--orphans=off", "-j4", "-q", "site"});
  EXPECT_EQ(serial.status, 1);
  EXPECT_EQ(std::count(serial.out.begin(), serial.out.end(), '\n'), 60);
  std::string renamed = serial.out;
  for (size_t at; (at = renamed.find("/p1/")) != std::string::npos;) renamed.replace(at, 4, "/p4/");
  EXPECT_EQ(parallel.out, renamed);
  const json stats = serverStats();
  for (const char* group : {"/p1", "/p4"}) {
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
      for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(requests(stats, "HEAD", address,
                           std::string(group) + "/slow/200?n=" + std::to_string(i)),
                  1);
      }
      EXPECT_EQ(requests(stats, "HEAD", address, std::string(group) + "/status/404"), 1);
      const std::string counter =
          std::string(address) + ":" + std::to_string(server->port(address, "http")) + " " + group;
      // Six slow answers take long enough for two at a time to overlap.
      EXPECT_EQ(stats["most_in_flight"][counter], 2) << counter;
    }
  }
}

TEST_F(SiteRunExternal, HttpsVerifiedUnlessInsecure) {
  SKIP_ON_WINDOWS("the Windows build is run over plain HTTP alone");
  Scratch scratch;
  scratch.write("site/index.html", linksPage({expand("{S}/h/ok")}));
  const RunResult verified = scratch.run({"--external", "--retries=0", "-q", "site"});
  EXPECT_EQ(verified.out.rfind(expand("site/index.html:1:10: error: '{S}/h/ok' could not be "
                                      "reached: TLS"),
                               0),
            0u)
      << verified.out;
  EXPECT_EQ(verified.status, 1);
  const RunResult insecure = scratch.run({"--external", "--insecure", "-q", "site"});
  EXPECT_EQ(insecure.out, "");
  EXPECT_EQ(insecure.status, 0);
}

}  // namespace

#endif  // TANGLER_PYTHON3
