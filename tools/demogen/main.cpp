// demogen OUTDIR: writes the default content, "scene.2vef" and "Sound.mp3",
// into OUTDIR. Same bytes on every run.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SceneGen.h"
#include "SceneWriter.h"
#include "Soundtrack.h"

namespace {

const char kUsage[] =
    "Usage: demogen [--bars N] OUTDIR\n"
    "Writes the default demo content into OUTDIR (created if missing):\n"
    "  scene.2vef  the animated scene\n"
    "  Sound.mp3   the synthesized soundtrack (44.1 kHz stereo)\n"
    "Options:\n"
    "  --bars N    make only the first N bars (2..36; default 36, 69.12 s)\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "demogen: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  demogen::Timeline timeline;
  std::string outDir;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("demogen %s\n", DEMO_VERSION);
      return 0;
    }
    if (arg == "--bars") {
      if (i + 1 >= argc) return Fail("--bars needs a number");
      char* end = nullptr;
      long bars = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || bars < 2 || bars > demogen::kFullBars)
        return Fail(std::string("--bars: '") + argv[i] + "' is not a number from 2 to 36");
      timeline.bars = int(bars);
      continue;
    }
    if (!arg.empty() && arg[0] == '-') return Fail("unknown option '" + arg + "' (see --help)");
    if (!outDir.empty()) return Fail("more than one output folder given (see --help)");
    outDir = arg;
  }
  if (outDir.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (mkdir(outDir.c_str(), 0777) != 0 && errno != EEXIST)
    return Fail("cannot create folder '" + outDir + "': " + std::strerror(errno));
  struct stat st;
  if (stat(outDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail("'" + outDir + "' is not a folder");

  const std::string scenePath = outDir + "/scene.2vef";
  const std::string musicPath = outDir + "/Sound.mp3";
  std::string error;

  std::vector<uint8_t> mp3;
  if (!demogen::EncodeMp3(demogen::SynthesizeSoundtrack(timeline), &mp3, &error))
    return Fail(musicPath + ": " + error);
  if (!vef::WriteFileAtomically(musicPath, mp3, &error)) return Fail(error);

  vef::SceneWriter writer;
  demogen::BuildScene(timeline, &writer);
  if (!writer.writeFile(scenePath, &error)) return Fail(error);

  std::printf("demogen: wrote %s (%u frames, %zu bytes) and %s (%.2f s, %zu bytes)\n", scenePath.c_str(),
              timeline.FrameCount(), writer.bodySize() + 40, musicPath.c_str(), timeline.Seconds(), mp3.size());
  return 0;
}
