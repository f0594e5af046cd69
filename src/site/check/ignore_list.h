// The --ignore patterns: regular expressions (RE2 syntax) that a reference
// is matched against anywhere in its text. RE2 matches in time linear in
// the text whatever the pattern, so a long reference cannot stall a run.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace site {

class IgnoreList {
 public:
  IgnoreList();
  ~IgnoreList();
  IgnoreList(const IgnoreList&) = delete;
  IgnoreList& operator=(const IgnoreList&) = delete;

  // Compiles patterns (replacing any before). False, with *error naming the
  // pattern and RE2's reason, when one does not compile.
  bool compile(const std::vector<std::string>& patterns, std::string* error);

  bool empty() const { return patterns_.empty(); }
  const std::vector<std::string>& patterns() const { return patterns_; }

  // True when some pattern matches somewhere in reference; each pattern that
  // matches is marked as used. Safe from any number of threads at once.
  bool matches(std::string_view reference) const;

  // Whether pattern i has matched some reference so far.
  bool used(size_t i) const;

 private:
  std::vector<std::string> patterns_;
  struct Compiled;  // the RE2 set, kept out of this header
  std::unique_ptr<Compiled> compiled_;
  std::unique_ptr<std::atomic<bool>[]> used_;
};

}  // namespace site
