// vefexport: converts an animated model into the demo's scene file.
#include <cstdio>

#include "Run.h"
#include "standin/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  vefexport::Options o;
  std::string error;
  if (!vefexport::ParseOptions(args, &o, &error)) {
    return standin::UsageError("vefexport", error);
  }
  if (o.version) {
    standin::PrintVersion("vefexport");
    return vefexport::kExitOk;
  }
  return vefexport::Run(o);
}
