// make-demo-host <folder>: builds the demo host there, afresh, and prints what it holds.
#include <cstdio>

#include "host/demo_host.h"
#include "platform/host_error.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-demo-host <folder>\n");
    return 2;
  }
  try {
    fern::host::DemoHostSummary s = fern::host::BuildDemoHost(argv[1]);
    std::printf("demo host: %s\n", s.folder.c_str());
    std::printf("  user %s, %d listings with %d field values, %d pictures, %d portals\n",
                fern::host::kDemoUser, s.listings, s.fieldValues, s.pictures, s.portals);
    return 0;
  } catch (const fern::HostError& e) {
    std::fprintf(stderr, "make-demo-host: %s\n", e.description().c_str());
    return 1;
  }
}
