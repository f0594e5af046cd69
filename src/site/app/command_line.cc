#include "site/app/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <tuple>

#include "platform/run_files.h"
#include "site/report/writers.h"
#include "site/walk/glob.h"

#ifndef TANGLER_VERSION
#define TANGLER_VERSION "unknown"
#endif

namespace site {

namespace {

// The comma-separated items of a list option's arguments into *values:
// none may be empty, and with names none may hold a '/'.
bool splitList(const char* option, const std::vector<std::string>& args, bool names,
               std::vector<std::string>* values, std::string* error) {
  values->clear();
  for (const std::string& arg : args) {
    size_t start = 0;
    for (size_t comma; (comma = arg.find(',', start)) != std::string::npos; start = comma + 1) {
      values->push_back(arg.substr(start, comma - start));
    }
    values->push_back(arg.substr(start));
  }
  for (const std::string& value : *values) {
    if (value.empty()) {
      *error = std::string("empty value in '") + option + "'";
      return false;
    }
    if (names && value.find('/') != std::string::npos) {
      *error = std::string("'") + value + "' in '" + option + "' is a path, not a file name";
      return false;
    }
  }
  return true;
}

bool parseJobs(const std::string& text, unsigned* jobs, std::string* error) {
  unsigned long value = 0;
  bool ok = !text.empty() && text.size() <= 6;
  for (char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (ok) value = value * 10 + unsigned(c - '0');
  }
  if (!ok || value == 0) {
    *error = "invalid number of jobs '" + text + "': a whole number from 1 to 999999 is needed";
    return false;
  }
  *jobs = unsigned(value);
  return true;
}

// A whole number from low to high for option, else false with *error.
bool parseNumber(const char* option, const std::string& text, uint32_t low, uint32_t high,
                 uint32_t* value, std::string* error) {
  uint64_t number = 0;
  bool ok = !text.empty() && text.size() <= 9;
  for (char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (ok) number = number * 10 + unsigned(c - '0');
  }
  if (!ok || number < low || number > high) {
    *error = "invalid value '" + text + "' for '" + option + "': a whole number from " +
             std::to_string(low) + " to " + std::to_string(high) + " is needed";
    return false;
  }
  *value = uint32_t(number);
  return true;
}

// --disable's kind names into check->disabledKinds; "orphan" also turns the
// orphan search off, as --orphans=off does.
bool parseDisabledKinds(const std::vector<std::string>& args, CheckOptions* check,
                        std::string* error) {
  std::vector<std::string> names;
  if (!splitList("--disable", args, false, &names, error)) return false;
  for (const std::string& name : names) {
    int kind = 0;
    while (kind < kFindingKindCount && name != kindName(FindingKind(kind))) ++kind;
    if (kind == kFindingKindCount) {
      *error = "unknown finding kind '" + name + "' in '--disable':";
      for (int i = 0; i < kFindingKindCount; ++i) {
        *error += std::string(i == 0                      ? " "
                              : i + 1 < kFindingKindCount ? ", "
                                                          : " or ") +
                  kindName(FindingKind(i));
      }
      return false;
    }
    check->disabledKinds |= 1u << unsigned(kind);
    if (FindingKind(kind) == FindingKind::Orphan) check->orphans = OrphanLevel::Off;
  }
  return true;
}

// ROOT as reports write it: '/' its only separator (Windows' '\' turned),
// a trailing one dropped (but "/" stays "/").
std::string reportRootOf(const std::string& root) {
  std::string out = slashSeparated(root);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// The command line's words as CLI11 leaves them, before they are checked
// and turned into options.
struct RawArguments {
  bool help = false, version = false;
  std::string jobs, orphans = "warning";
  std::vector<std::string> pages, index, disable, headers;
  std::string siteUrl, maxConcurrency, hostConcurrency, hostInterval, timeout, retries, maxWait;
  std::string accept, cacheAge;
};

// A list option takes one argument each time it is given, as getopt does;
// its commas are split later (CLI11's own splitting drops empty items).
template <typename T>
void addListOption(CLI::App& app, const char* name, T& values) {
  app.add_option(name, values)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
}

// Declares every option: the ones taken as they are straight into
// *options, the others into *raw.
void declareOptions(CLI::App& app, SiteOptions* options, RawArguments* raw) {
  app.set_help_flag();
  // Arguments CLI11 does not take are left over for a message in GNU's words.
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-h,--help", raw->help);
  app.add_flag("-V,--version", raw->version);
  app.add_option("-f,--format", options->format);
  app.add_option("-o,--output", options->output);
  addListOption(app, "--pages", raw->pages);
  addListOption(app, "--index", raw->index);
  app.add_flag("--clean-urls", options->check.resolve.cleanUrls);
  addListOption(app, "--exclude", options->walk.excludes);
  addListOption(app, "--ignore", options->ignore);
  addListOption(app, "--ignore-file", options->ignoreFiles);
  addListOption(app, "--disable", raw->disable);
  app.add_option("--orphans", raw->orphans);
  app.add_option("-j,--jobs", raw->jobs);
  app.add_flag("-q,--quiet", options->quiet);
  app.add_flag("--external", options->external);
  app.add_option("--site-url", raw->siteUrl);
  app.add_option("--max-concurrency", raw->maxConcurrency);
  app.add_option("--host-concurrency", raw->hostConcurrency);
  app.add_option("--host-interval", raw->hostInterval);
  app.add_option("--timeout", raw->timeout);
  app.add_option("--retries", raw->retries);
  app.add_option("--max-wait", raw->maxWait);
  app.add_option("--accept", raw->accept);
  addListOption(app, "--header", raw->headers);
  app.add_option("--user-agent", options->userAgent);
  app.add_flag("--insecure", options->insecure);
  app.add_option("--cache", options->cache);
  app.add_option("--cache-age", raw->cacheAge);
  app.add_flag("--remote-anchors", options->links.remoteAnchors);
  app.add_option("ROOT", options->root);
}

// Lets CLI11 parse args; false with *error, in GNU's words where CLI11's
// differ, for what it refuses or leaves over.
bool parseWords(CLI::App& app, const std::vector<std::string>& args, std::string* error) {
  // CLI11 reads "--output=" as "--output" and takes the next argument as
  // its value; none of these options has a use for an empty value anyway.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg.size() > 3 && arg.compare(0, 2, "--") == 0 && arg.back() == '=') {
      *error = "option '" + arg.substr(0, arg.size() - 1) + "' needs a value";
      return false;
    }
  }
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& failure) {
    // "--jobs: 1 required TEXT missing": an option given without its value.
    std::string what = failure.what();
    *error = "option '" + what.substr(0, what.find(':')) + "' needs a value";
    return false;
  } catch (const CLI::ParseError& failure) {
    *error = failure.what();
    std::replace(error->begin(), error->end(), '\n', ' ');
    return false;
  }
  bool endSeen = false;
  for (const std::string& extra : app.remaining()) {
    if (extra == "--" && !endSeen) {  // the end of the options, left over by CLI11
      endSeen = true;
      continue;
    }
    if (!endSeen && extra.size() > 1 && extra[0] == '-') {
      *error = "unrecognized option '" + extra + "'";
    } else {
      *error = "unexpected argument '" + extra + "': only one ROOT is checked";
    }
    return false;
  }
  return true;
}

// The options of the local check, from what CLI11 took; false with *error.
bool applyLocalOptions(const CLI::App& app, const RawArguments& raw, SiteOptions* options,
                       std::string* error) {
  if (findReportWriter(options->format) == nullptr) {
    *error = "unknown report format '" + options->format + "': " + reportFormatNames();
    return false;
  }
  if (raw.orphans == "warning") {
    options->check.orphans = OrphanLevel::Warning;
  } else if (raw.orphans == "error") {
    options->check.orphans = OrphanLevel::Error;
  } else if (raw.orphans == "off") {
    options->check.orphans = OrphanLevel::Off;
  } else {
    *error = "unknown orphan level '" + raw.orphans + "': warning, error or off";
    return false;
  }
  if (app.count("--output") > 0) {
    if (options->output.empty()) {
      *error = "empty value in '--output'";
      return false;
    }
    if (options->output == "-") options->output.clear();
  }
  if (app.count("--disable") > 0 && !parseDisabledKinds(raw.disable, &options->check, error)) {
    return false;
  }
  if (app.count("--jobs") > 0 && !parseJobs(raw.jobs, &options->jobs, error)) return false;
  if (app.count("--pages") > 0 &&
      !splitList("--pages", raw.pages, false, &options->walk.pages, error)) {
    return false;
  }
  if (app.count("--index") > 0 &&
      !splitList("--index", raw.index, true, &options->check.resolve.indexNames, error)) {
    return false;
  }
  for (const auto& [option, values] :
       {std::pair{"--exclude", &options->walk.excludes}, std::pair{"--ignore", &options->ignore},
        std::pair{"--ignore-file", &options->ignoreFiles}}) {
    for (const std::string& value : *values) {
      if (value.empty()) {
        *error = std::string("empty value in '") + option + "'";
        return false;
      }
    }
  }
  for (const std::string& glob : options->walk.excludes) {
    ExcludePattern pattern;
    if (!parseExclude(glob, &pattern)) {
      *error = "invalid --exclude pattern '" + glob + "': it names no path under ROOT";
      return false;
    }
  }
  return true;
}

// The external-link check's options; each checked whether or not
// --external is given, so that a nightly job's typo shows on any run.
bool applyLinkOptions(const CLI::App& app, const RawArguments& raw, SiteOptions* options,
                      std::string* error) {
  LinkCheckOptions& links = options->links;
  for (const auto& [option, text, low, high, value] : {
           std::tuple{"--max-concurrency", &raw.maxConcurrency, 1u, 100000u, &links.maxConcurrency},
           std::tuple{"--host-concurrency", &raw.hostConcurrency, 1u, 100000u,
                      &links.hostConcurrency},
           std::tuple{"--host-interval", &raw.hostInterval, 0u, 86400000u, &links.hostIntervalMs},
           std::tuple{"--timeout", &raw.timeout, 1u, 86400u, &options->timeoutSeconds},
           std::tuple{"--retries", &raw.retries, 0u, 100u, &links.retries},
           std::tuple{"--max-wait", &raw.maxWait, 0u, 86400u, &links.maxWaitSeconds},
       }) {
    if (app.count(option) > 0 && !parseNumber(option, *text, low, high, value, error)) {
      return false;
    }
  }
  std::string reason;
  if (app.count("--accept") > 0 && !parseAcceptList(raw.accept, &links.accept, &reason)) {
    *error = "invalid --accept value: " + reason;
    return false;
  }
  if (app.count("--cache-age") > 0 &&
      !parseDuration(raw.cacheAge, &links.cacheAgeSeconds, &reason)) {
    *error = "invalid --cache-age value: " + reason;
    return false;
  }
  for (const std::string& text : raw.headers) {
    HeaderOption header;
    if (!parseHeaderOption(text, &header, &reason)) {
      *error = "invalid --header value: " + reason;
      return false;
    }
    options->headers.push_back(std::move(header));
  }
  if (app.count("--site-url") > 0) {
    if (!parseSiteUrl(raw.siteUrl, &options->check.siteUrl, &reason)) {
      *error = "invalid --site-url value: " + reason;
      return false;
    }
    options->check.hasSiteUrl = true;
  }
  for (const auto& [option, value] :
       {std::pair{"--user-agent", &options->userAgent}, std::pair{"--cache", &options->cache}}) {
    if (app.count(option) > 0 && value->empty()) {
      *error = std::string("empty value in '") + option + "'";
      return false;
    }
  }
  return true;
}

}  // namespace

CommandLineResult parseCommandLine(const std::vector<std::string>& args, SiteOptions* options,
                                   std::string* error) {
  CLI::App app("check the links of a static site tree", "tangler-site");
  RawArguments raw;
  declareOptions(app, options, &raw);
  if (!parseWords(app, args, error)) return CommandLineResult::UsageError;
  if (raw.help) return CommandLineResult::Help;
  if (raw.version) return CommandLineResult::Version;
  if (!applyLocalOptions(app, raw, options, error) || !applyLinkOptions(app, raw, options, error)) {
    return CommandLineResult::UsageError;
  }
  if (options->root.empty()) {
    *error = "ROOT is empty";
    return CommandLineResult::UsageError;
  }
  options->check.reportRoot = reportRootOf(options->root);
  return CommandLineResult::Run;
}

std::vector<IgnoreLine> ignoreFileLines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
  std::vector<IgnoreLine> lines;
  uint32_t number = 0;
  for (size_t start = 0; start < text.size();) {
    // CR LF, CR and LF each end a line, whichever editor wrote the file.
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
    ++number;
    const size_t first = line.find_first_not_of(" \t\v\f");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(" \t\v\f") + 1 - first);
    lines.push_back({number, std::string(line)});
  }
  return lines;
}

std::string helpText() {
  return std::string(
             "Usage: tangler-site [OPTION]... [ROOT]\n"
             "Check the links, anchors and assets of the static site in ROOT (default '.'),\n"
             "the directory served at '/', and list the files nothing refers to.\n"
             "\n"
             "  -f, --format=FMT      report format: ") +
         reportFormatNames() + "\n" +
         "                          (default text)\n"
         "  -o, --output=FILE     write the report to FILE ('-': standard output, the\n"
         "                          default); it is made before the site is read\n"
         "      --pages=GLOB,...  file names read as HTML, case ignored\n"
         "                          (default *.html,*.htm)\n"
         "      --index=NAME,...  index files tried for a directory, in order\n"
         "                          (default index.html,index.htm)\n"
         "      --clean-urls      a missing 'x' or 'x/' also tries 'x.html'\n"
         "      --exclude=GLOB    neither read nor report what GLOB matches, read as a\n"
         "                          .gitignore line: without a '/' (but a trailing one)\n"
         "                          it matches a name at any depth, else the path under\n"
         "                          ROOT; a trailing '/' matches directories alone; '*'\n"
         "                          within a name, '**/' any directories (repeatable)\n"
         "      --ignore=REGEX    leave references that REGEX matches anywhere unchecked\n"
         "                          and unreported (RE2 syntax; repeatable)\n"
         "      --ignore-file=FILE  read --ignore patterns from FILE, one a line ('#'\n"
         "                          starts a comment), instead of .tangler-site-ignore\n"
         "                          in the working directory (repeatable)\n"
         "      --disable=KIND,...  report no finding of these kinds: missing-file,\n"
         "                          missing-anchor, case-mismatch, outside-root,\n"
         "                          file-scheme, invalid-url, orphan (= --orphans=off),\n"
         "                          http-error, unreachable, rate-limited, moved\n"
         "      --orphans=LEVEL   files nothing refers to: warning, error or off\n"
         "                          (default warning)\n"
         "  -j, --jobs=N          read pages on N threads (default: one per core)\n"
         "  -q, --quiet           no summary line on the error stream\n"
         "\n"
         "External links (off unless --external; --site-url works offline):\n"
         "      --external        check http, https and '//host' references over the\n"
         "                          network, each distinct URL once\n"
         "      --site-url=URL    the site's own address: a reference under it is\n"
         "                          checked against ROOT, as if '/'-rooted\n"
         "      --max-concurrency=N   requests in flight in all (default 64)\n"
         "      --host-concurrency=N  requests in flight to one host (default 4)\n"
         "      --host-interval=MS    least time between two requests to one host\n"
         "                          (default 0)\n"
         "      --timeout=S       seconds for one request, connecting included\n"
         "                          (default 20)\n"
         "      --retries=N       further tries after a network error, a timeout or a\n"
         "                          5xx (default 2)\n"
         "      --max-wait=S      the longest Retry-After honoured; longer is a\n"
         "                          rate-limited finding (default 60)\n"
         "      --accept=CODES    statuses that count as working, e.g. 200-299,403\n"
         "                          (default 200-299)\n"
         "      --header=NAME:VALUE   sent with every request (repeatable)\n"
         "      --user-agent=TEXT  (default tangler-site/VERSION)\n"
         "      --insecure        accept any TLS certificate\n"
         "      --cache=FILE      keep working URLs in FILE and skip them on the next\n"
         "                          run, for --cache-age\n"
         "      --cache-age=DURATION  how long a cached URL is trusted: 30m, 12h, 7d\n"
         "                          (default 1d)\n"
         "      --remote-anchors  also check the fragment of an external URL in its\n"
         "                          HTML\n"
         "\n"
         "  -h, --help            print this help and exit\n"
         "  -V, --version         print the version and exit\n"
         "\n"
         "Exit status: 0 no error found, 1 errors found or no page at all, 2 usage\n"
         "error, 3 a file or directory could not be read, or the report not written.\n";
}

std::string versionText() {
  return "tangler-site " TANGLER_VERSION "\n";
}

}  // namespace site
