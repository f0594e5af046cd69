// The C run-time's argv holds the command line in the ANSI code page, where
// "café" may survive but "ünïcode" in another script does not; the system
// keeps it in UTF-16, split here by the system's own rules for quotes and
// backslashes.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/program_arguments.h"

namespace {

std::string toUtf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
  text.pop_back();  // the NUL that ended it
  return text;
}

// Frees what CommandLineToArgvW() handed out on every way out.
class WideArguments {
 public:
  WideArguments() : words_(CommandLineToArgvW(GetCommandLineW(), &count_)) {}
  ~WideArguments() {
    if (words_ != nullptr) LocalFree(words_);
  }
  WideArguments(const WideArguments&) = delete;
  WideArguments& operator=(const WideArguments&) = delete;
  int count() const { return words_ != nullptr ? count_ : 0; }
  const wchar_t* operator[](int i) const { return words_[i]; }

 private:
  int count_ = 0;
  LPWSTR* words_;
};

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> args;
  const WideArguments wide;
  if (wide.count() == 0) {
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 1; i < wide.count(); ++i) args.push_back(toUtf8(wide[i]));
  return args;
}
