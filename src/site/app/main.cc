#include <cstdio>
#include <new>

#include "platform/program_arguments.h"
#include "platform/standard_streams.h"
#include "site/app/site_run.h"

int main(int argc, char** argv) {
  openClosedStandardStreams();
  try {
    return site::runSite(programArguments(argc, argv));
  } catch (const std::bad_alloc&) {
    std::fputs("tangler-site: out of memory\n", stderr);
    return site::kStatusUnreadable;
  }
}
