#include "site/check/ignore_list.h"

#include <re2/re2.h>
#include <re2/set.h>

namespace site {

struct IgnoreList::Compiled {
  explicit Compiled(const RE2::Options& options) : set(options, RE2::UNANCHORED) {}
  RE2::Set set;
};

IgnoreList::IgnoreList() = default;
IgnoreList::~IgnoreList() = default;

bool IgnoreList::compile(const std::vector<std::string>& patterns, std::string* error) {
  patterns_.clear();
  compiled_.reset();
  used_.reset();
  if (patterns.empty()) return true;
  RE2::Options options;
  options.set_log_errors(false);
  auto compiled = std::make_unique<Compiled>(options);
  RE2::Set* set = &compiled->set;
  for (const std::string& pattern : patterns) {
    std::string reason;
    if (set->Add(pattern, &reason) < 0) {
      *error = "invalid --ignore pattern '" + pattern + "': " + reason;
      return false;
    }
  }
  if (!set->Compile()) {
    *error = "the --ignore patterns are too large to compile";
    return false;
  }
  patterns_ = patterns;
  compiled_ = std::move(compiled);
  used_ = std::make_unique<std::atomic<bool>[]>(patterns.size());
  for (size_t i = 0; i < patterns.size(); ++i) used_[i] = false;
  return true;
}

bool IgnoreList::matches(std::string_view reference) const {
  if (!compiled_) return false;
  std::vector<int> hits;
  if (!compiled_->set.Match(re2::StringPiece(reference.data(), reference.size()), &hits))
    return false;
  for (int hit : hits) used_[size_t(hit)].store(true, std::memory_order_relaxed);
  return !hits.empty();
}

bool IgnoreList::used(size_t i) const {
  return used_ && i < patterns_.size() && used_[i].load(std::memory_order_relaxed);
}

}  // namespace site
