#include "platform/program_arguments.h"
#include "site/app/site_run.h"

int main(int argc, char** argv) {
  return site::runSite(programArguments(argc, argv));
}
