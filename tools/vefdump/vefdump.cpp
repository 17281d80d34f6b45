// vefdump FILE         the header, one line per record, each problem, the verdict
// vefdump --json FILE  the scene after import and preparation, as JSON
//
// Exit codes: 0 the scene is playable, 2 it is refused (the reason on standard
// error), 1 wrong usage or the file cannot be read.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "Scene.h"
#include "SceneFormat.h"
#include "SceneJson.h"
#include "SceneReader.h"

namespace {

const int kExitPlayable = 0;
const int kExitUsage = 1;
const int kExitRefused = 2;

void Usage() {
  std::fprintf(stderr,
               "usage: vefdump FILE\n"
               "       vefdump --json FILE\n"
               "Shows what a scene file holds and whether the demo can play it.\n"
               "Exit code 0: playable; 2: refused (reason on standard error); 1: usage or I/O error.\n");
}

void PrintListing(const std::string& path, const std::vector<uint8_t>& bytes, const vef::FileListing& l) {
  std::printf("file %s: %zu bytes\n", path.c_str(), bytes.size());
  if (l.hasHeader) {
    const vef::FileHeader& h = l.header;
    std::printf(
        "header: frames %u, meshes %d, vertex lists %d, cameras %u, object keys %d, materials %d, "
        "UV lists %d, textures %d, lights %d, recordTableSize %d\n",
        h.frameCount, h.meshes, h.vertexLists, h.cameras, h.objectKeys, h.materials, h.uvLists, h.textures,
        h.lights, h.recordTableSize);
  }
  for (const vef::RecordInfo& r : l.records) {
    std::printf("@%" PRIu64 " %-11s flags 0x%02X index %d: %s%s%s\n", r.offset, vef::RecordTypeName(r.type),
                r.flags, r.index, r.summary.c_str(), r.problem.empty() ? "" : "  !! ", r.problem.c_str());
  }
  std::printf("records: %zu\n", l.records.size());
  for (const std::string& p : l.problems) std::printf("problem: %s\n", p.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage();
      return kExitPlayable;
    } else if (path.empty()) {
      path = argv[i];
    } else {
      Usage();
      return kExitUsage;
    }
  }
  if (path.empty()) {
    Usage();
    return kExitUsage;
  }

  std::vector<uint8_t> bytes;
  std::string error;
  if (!vef::ReadWholeFile(path, &bytes, &error)) {
    std::fprintf(stderr, "vefdump: %s\n", error.c_str());
    return kExitUsage;
  }
  const vef::FileListing listing = vef::ReadRecords(bytes);
  if (!json) {
    PrintListing(path, bytes, listing);
    std::fflush(stdout);
  }

  // The verdict is the importer's own. Its log goes to standard error.
  Scene* scene = new Scene();
  scene->importFile(path.c_str());
  std::fprintf(stderr, "\n");
  int code = kExitPlayable;
  if (!scene->isPlayable()) {
    std::fprintf(stderr, "vefdump: refused: %s\n", scene->refusalReason());
    if (!json) std::printf("refused: %s\n", scene->refusalReason());
    code = kExitRefused;
  } else if (json) {
    const std::string out = vef::SceneJson(*scene, listing);
    std::fwrite(out.data(), 1, out.size(), stdout);
  } else {
    std::printf("playable: %u frames, %d object keys, %d meshes, maxVertexCount %u, frameDuration %g\n",
                scene->frameCount, scene->keys.count, scene->meshes.count, scene->maxVertexCount,
                scene->frameDuration);
  }
  delete scene;
  if (std::fflush(stdout) != 0) return kExitUsage;
  return code;
}
