// What the Windows build of vefexport has in place of the libraries that have
// no Windows build here: Assimp (formats other than glTF) and libimagequant
// (--palette) are refused plainly; libmpg123 (--music) is replaced by the
// audio library's MP3 framing, which gives libmpg123's gapless length.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Model.h"
#include "Run.h"
#include "Texture.h"
#include "audio/Mp3Frames.h"
#include "standin/cli.h"

namespace vefexport {

const char kWindowsLimits[] =
    "\n"
    "This Windows build reads glTF 2.0 (.gltf, .glb) only: the other formats need\n"
    "Assimp, and --palette needs libimagequant, which it is built without. Asking\n"
    "for either ends with exit code 2.\n";

bool LoadAssimpFile(const std::string& path, Model*, std::string* error) {
  *error = path + ": not a glTF 2.0 file; this Windows build reads glTF (.gltf, .glb) only "
                  "(other formats need Assimp, which it is built without)";
  return false;
}

bool ToPalette(const std::vector<uint8_t>&, int, std::vector<uint8_t>*, std::vector<uint8_t>*) {
  return false;  // refused on the command line before it is reached
}

bool MusicSeconds(const std::string& path, double* seconds, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open the music file";
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  standin::Mp3Layout layout;
  std::string why;
  if (!standin::ScanMp3(bytes.data(), bytes.size(), &layout, &why) || layout.length == 0) {
    *error = path + ": not a readable MP3 file: " + why;
    return false;
  }
  *seconds = double(layout.length) / double(layout.rate);
  return true;
}

}  // namespace vefexport

// The Linux main, plus the refusals above on the command line.
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--palette") {
      return standin::UsageError("vefexport", "--palette needs libimagequant, which this "
                                              "Windows build is built without");
    }
  }
  vefexport::Options o;
  std::string error;
  if (!vefexport::ParseOptions(args, &o, &error)) return standin::UsageError("vefexport", error);
  if (o.version) {
    standin::PrintVersion("vefexport");
    return vefexport::kExitOk;
  }
  if (o.help) {
    std::printf("%s%s", vefexport::kUsage, vefexport::kWindowsLimits);
    return vefexport::kExitOk;
  }
  return vefexport::Run(o);
}
