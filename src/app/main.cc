#include <string>
#include <vector>

#include "app/run_driver.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
  openClosedStandardStreams();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return tangler::runTangler(args);
}
