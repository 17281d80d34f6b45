// democapture: renders the demo offline to PNG frames or an MP4 video.
#include <cstdio>
#include <string>
#include <vector>

#include "Capture.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  democapture::Options options;
  std::string error;
  if (!democapture::ParseOptions(args, &options, &error)) {
    std::fprintf(stderr, "democapture: %s\n", error.c_str());
    return democapture::kExitUsage;
  }
  if (options.help) {
    std::fputs(democapture::kUsage, stdout);
    return democapture::kExitOk;
  }
  if (options.version) {
    std::printf("democapture %s\n", DEMO_VERSION);
    return democapture::kExitOk;
  }
  return democapture::Run(options);
}
