#include "app/command_line.h"

#include <climits>
#include <string>

namespace tangler {

const char kUsageText[] =
    "tangler [afn [afn...]   (Dec 22 2014)\n"
    "searches through afns (ambiguous file names, i.e. *.html etc.) looking for\n"
    "links. If no afns, uses \"*.htm\". Then outputs the exciting things it found. If\n"
    "errors, might set errorlevel to 1; else 0.\n"
    "-oOutputfile  name output file; otherwise stdout.\n"
    "-iRefname   name the reference file; otherwise it's tangler~.txt\n"
    "-d-         don't delete reference file; it's kind of amusing.\n"
    "-hFail finding http: refs, including graphics php etc. Otherwise don't try.\n"
    "-:Fail find \"other:\" refs. Etc.\n"
    "-cl   (lower-case L) complain if upper-case; -cu lower; -cd different.\n"
    "-r    Check references only; skip time-consuming unreferenced (orphan) check.\n"
    "-u-   don't look around for unlinked *.zip *.exe *.gif *.jpg *.htm* in\n"
    "      afn etc.\n"
    "-a25  Set indent between ref and complaint.\n"
    "(w32)\n";

bool flagValue(const std::string& arg) {
  return !(arg.size() >= 3 && arg[2] == '-');
}

namespace {

// The indent column as the C library's atoi reads it (leading white space,
// an optional sign, digits up to the first non-digit, no digits giving 0),
// except that a number too large for an int saturates instead of being
// undefined.
int parseIndent(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

}  // namespace

bool parseArguments(const std::vector<std::string>& args, RunOptions* options) {
  char switchChar = '-';
  for (const std::string& arg : args) {
    if (!arg.empty() && arg[0] == '/') switchChar = '/';
    if (arg.find('?') != std::string::npos) return false;
    if (arg.empty() || arg[0] != switchChar) {
      options->patterns.push_back(arg);
      continue;
    }
    if (arg.size() == 1) continue;  // the switch character alone is ignored
    std::string rest = arg.substr(2);
    switch (arg[1]) {
      case ':':
        options->failOtherSchemes = flagValue(arg);
        break;
      case 'a':
        options->indentColumn = parseIndent(rest);
        break;
      case 'c':
        if (rest.empty()) {
          options->caseMode = CaseMode::None;
        } else if (rest[0] == 'd' || rest[0] == 'l' || rest[0] == 'u') {
          options->caseMode = static_cast<CaseMode>(rest[0]);
        } else {
          return false;
        }
        break;
      case 'd':
        options->deleteReferenceFile = flagValue(arg);
        break;
      case 'h':
        options->failHttp = flagValue(arg);
        break;
      case 'i':
        options->referenceFileName = rest;
        break;
      case 'k':
        options->noKeyWait = !flagValue(arg);
        break;
      case 'o':
        options->hasReportFile = true;
        options->reportFileName = rest;
        break;
      case 'r':
        options->referencesOnly = flagValue(arg);
        options->caseMode = CaseMode::Different;
        break;
      case 'u':
        options->orphanSearch = flagValue(arg);
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace tangler
