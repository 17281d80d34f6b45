// vefdump FILE         the header, one line per record, each problem, the verdict
// vefdump --all FILE   the same without the cap on records with problems
// vefdump --json FILE  the scene after import and preparation, as JSON
//
// Exit codes: 0 the scene is playable, 2 it is refused (the reason on standard
// error), 1 wrong usage or the file cannot be read.
#include <algorithm>
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

// A file that is not a scene at all reads as one broken record every few
// bytes; past this many, the listing only counts them.
const size_t kShownProblems = 20;

// On standard output when asked for (--help), else on standard error.
void Usage(FILE* to = stderr) {
  std::fprintf(to,
               "Usage: vefdump [--all] FILE\n"
               "       vefdump --json FILE\n"
               "Shows what a scene file holds and whether the demo can play it.\n"
               "Records with problems past the first %zu are counted, not listed, unless --all.\n"
               "\n"
               "Options:\n"
               "  --all       list every record with a problem\n"
               "  --json      the scene after import and preparation, as JSON\n"
               "  --help      show this text\n"
               "  --version   show the version\n"
               "\n"
               "Exit code 0: playable; 2: refused (reason on standard error); 1: usage or I/O error.\n",
               kShownProblems);
}

void PrintListing(const std::string& path, const std::vector<uint8_t>& bytes, const vef::FileListing& l,
                  bool all) {
  std::printf("file %s: %zu bytes\n", path.c_str(), bytes.size());
  if (l.hasHeader) {
    const vef::FileHeader& h = l.header;
    std::printf(
        "header: frames %u, meshes %d, vertex lists %d, cameras %u, object keys %d, materials %d, "
        "UV lists %d, textures %d, lights %d, recordTableSize %d\n",
        h.frameCount, h.meshes, h.vertexLists, h.cameras, h.objectKeys, h.materials, h.uvLists, h.textures,
        h.lights, h.recordTableSize);
  }
  size_t brokenRecords = 0;
  for (const vef::RecordInfo& r : l.records) {
    if (!r.problem.empty() && ++brokenRecords > kShownProblems && !all) continue;
    std::printf("@%" PRIu64 " %-11s flags 0x%02X index %d: %s%s%s\n", r.offset, vef::RecordTypeName(r.type),
                r.flags, r.index, r.summary.c_str(), r.problem.empty() ? "" : "  !! ", r.problem.c_str());
  }
  std::printf("records: %zu\n", l.records.size());
  const size_t shown = all ? l.problems.size() : std::min(l.problems.size(), kShownProblems);
  for (size_t i = 0; i < shown; ++i) std::printf("problem: %s\n", l.problems[i].c_str());
  if (shown < l.problems.size()) {
    std::printf("problems: %zu in all, %zu not listed (vefdump --all lists every one)\n", l.problems.size(),
                l.problems.size() - shown);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  bool all = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--all") == 0) {
      all = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(stdout);
      return kExitPlayable;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("vefdump %s\n", DEMO_VERSION);
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
    PrintListing(path, bytes, listing, all);
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
