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
#include "standin/cli.h"

namespace {

const char kUsage[] =
    "Usage: demogen [--bars N] OUTDIR\n"
    "Writes the default demo content into OUTDIR (created if missing):\n"
    "  scene.2vef  the animated scene\n"
    "  Sound.mp3   the synthesized soundtrack (44.1 kHz stereo)\n"
    "Options:\n"
    "  --bars N    make only the first N bars (2..36; default 36, 69.12 s)\n"
    "  --help      show this text\n"
    "  --version   show the version and the commit\n"
    "Each option's value may also follow an '=' (--bars=8).\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "demogen: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  demogen::Timeline timeline;
  std::string outDir;
  standin::CommandLine args(argc, argv);
  while (args.Next()) {
    std::string value;
    if (!args.IsOption()) {
      if (!outDir.empty()) args.Fail("one output folder at most: '" + outDir + "' and '" + args.Word() + "'");
      outDir = args.Word();
    } else if ((args.Is("--help") || args.Is("-h")) && args.NoValue()) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (args.Is("--version") && args.NoValue()) {
      standin::PrintVersion("demogen");
      return 0;
    } else if (args.Is("--bars") && args.Value(&value)) {
      char* end = nullptr;
      long bars = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || bars < 2 || bars > demogen::kFullBars)
        args.Fail("--bars: '" + value + "' is not a number from 2 to 36");
      else
        timeline.bars = int(bars);
    } else if (!args.Failed()) {
      args.Unknown();
    }
  }
  if (!args.Failed() && outDir.empty()) args.Fail("no output folder given");
  if (args.Failed()) return standin::UsageError("demogen", args.Problem());
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
