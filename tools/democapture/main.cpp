// democapture: renders the demo offline to PNG frames or an MP4 video.
#include <cstdio>
#include <string>
#include <vector>

#include "Capture.h"
#include "standin/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  democapture::Options options;
  std::string error;
  if (!democapture::ParseOptions(args, &options, &error)) {
    return standin::UsageError("democapture", error);
  }
  if (options.help) {
    std::fputs(democapture::kUsage, stdout);
    return democapture::kExitOk;
  }
  if (options.version) {
    standin::PrintVersion("democapture");
    return democapture::kExitOk;
  }
  return democapture::Run(options);
}
