#include <string>
#include <vector>

#include "site/app/site_run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return site::runSite(args);
}
