// vefexport: converts an animated model into the demo's scene file.
#include <cstdio>

#include "Run.h"

#ifndef DEMO_VERSION
#define DEMO_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  vefexport::Options o;
  std::string error;
  if (!vefexport::ParseOptions(args, &o, &error)) {
    std::fprintf(stderr, "vefexport: %s\n%s", error.c_str(), vefexport::kUsage);
    return vefexport::kExitUsage;
  }
  if (o.version) {
    std::printf("vefexport %s\n", DEMO_VERSION);
    return vefexport::kExitOk;
  }
  return vefexport::Run(o);
}
