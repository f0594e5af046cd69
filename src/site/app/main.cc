#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "site/app/site_run.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return site::runSite(args);
  } catch (const std::bad_alloc&) {
    std::fputs("tangler-site: out of memory\n", stderr);
    return site::kStatusUnreadable;
  }
}
