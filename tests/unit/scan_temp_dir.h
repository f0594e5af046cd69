// A scratch directory for the scan tests, made the current directory while
// the test runs so that patterns and page names read as a user would type
// them. Removed, and the old current directory restored, afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class ScanTempDir {
 public:
  ScanTempDir() {
    // A fresh name under the system's temporary directory (mkdtemp() is not
    // there on every host the tests run on).
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate = base / ("tangler-scan-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
    }
    oldDirectory_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScanTempDir() {
    std::error_code ignored;
    std::filesystem::current_path(oldDirectory_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScanTempDir(const ScanTempDir&) = delete;
  ScanTempDir& operator=(const ScanTempDir&) = delete;

  const std::string& path() const { return path_; }

  // Writes a file relative to the scratch directory, making its folders.
  void write(const std::string& name, const std::string& content) const {
    std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << content;
  }
  void makeDirectory(const std::string& name) const {
    std::filesystem::create_directories(std::filesystem::path(path_) / name);
  }

 private:
  std::string path_;
  std::filesystem::path oldDirectory_;
};
