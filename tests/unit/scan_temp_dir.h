// A scratch directory for the scan tests, made the current directory while
// the test runs so that patterns and page names read as a user would type
// them. Removed, and the old current directory restored, afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class ScanTempDir {
 public:
  ScanTempDir() {
    char pattern[] = "/tmp/tangler-scan-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = made;
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
