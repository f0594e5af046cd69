// The scripted HTTP and HTTPS server of http_test_server.py, started for a
// test suite on 127.0.0.2 and 127.0.0.3 (hosts of their own); it stops when
// its input is closed, or after ten minutes whatever happens. Shared by the
// network tests of the scheduler and the end-to-end runs of the program.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

namespace site_http {

struct TestServer {
  FILE* input = nullptr;
  std::filesystem::path dir;
  nlohmann::json ready;  // ready.json: "hosts", "closed_port", "cert"

  // Starts python3 (the path given) on script; false with *error when it
  // does not come up within thirty seconds.
  bool start(const std::string& python, const std::string& script, std::string* error) {
    dir = std::filesystem::temp_directory_path() /
          ("tangler-site-http-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir);
    const std::string command = "'" + python + "' '" + script + "' --dir '" + dir.string() +
                                "' --hosts 127.0.0.2,127.0.0.3 --lifetime 600";
    input = popen(command.c_str(), "w");
    if (input == nullptr) {
      *error = "cannot start " + command;
      return false;
    }
    // Making the certificate and binding take well under a second.
    for (int i = 0; i < 300 && !std::filesystem::exists(dir / "ready.json"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::ifstream file(dir / "ready.json");
    if (!file) {
      *error = "the test server did not start";
      return false;
    }
    ready = nlohmann::json::parse(file);
    return true;
  }

  ~TestServer() {
    if (input != nullptr) pclose(input);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  int port(const std::string& address, const std::string& scheme) const {
    return ready["hosts"][address][scheme].get<int>();
  }
};

// A suite whose tests share one server, started before the first and
// stopped after the last; a test fails at once when it did not start.
class ServerSuite : public ::testing::Test {
 public:
  static inline TestServer* server = nullptr;

 protected:
  static void SetUpTestSuite() {
    server = new TestServer;
    std::string error;
    if (!server->start(TANGLER_PYTHON3, std::string(TANGLER_SITE_TEST_DIR) + "/http_test_server.py",
                       &error)) {
      delete server;
      server = nullptr;
      FAIL() << error;
    }
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { ASSERT_NE(server, nullptr); }
};

}  // namespace site_http
