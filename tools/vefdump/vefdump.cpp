// vefdump FILE         the header, one line per record, each problem, the verdict
// vefdump --all FILE   the same without the cap on records with problems
// vefdump --json FILE  the scene after import and preparation, as JSON
//
// Exit codes: 0 the scene is playable, 2 it is refused (the reason on standard
// error) or the command line is wrong, 1 the file cannot be read.
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
#include "standin/cli.h"

namespace {

const int kExitPlayable = 0;
const int kExitUnreadable = 1;
const int kExitRefused = 2;  // also standin::kExitUsage

// A file that is not a scene at all reads as one broken record every few
// bytes; past this many, the listing only counts them.
const size_t kShownProblems = 20;

void Usage() {
  std::printf(
               "Usage: vefdump [--all] FILE\n"
               "       vefdump --json FILE\n"
               "Shows what a scene file holds and whether the demo can play it.\n"
               "Records with problems past the first %zu are counted, not listed, unless --all.\n"
               "\n"
               "Options:\n"
               "  --all       list every record with a problem\n"
               "  --json      the scene after import and preparation, as JSON\n"
               "  --help      show this text\n"
               "  --version   show the version and the commit\n"
               "\n"
               "Exit code 0: playable; 2: refused (reason on standard error) or a wrong\n"
               "command line; 1: the file cannot be read.\n",
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
  standin::CommandLine args(argc, argv);
  while (args.Next()) {
    if (!args.IsOption()) {
      if (!path.empty()) args.Fail("one file at most: '" + path + "' and '" + args.Word() + "'");
      path = args.Word();
    } else if (args.Is("--json") && args.NoValue()) {
      json = true;
    } else if (args.Is("--all") && args.NoValue()) {
      all = true;
    } else if ((args.Is("--help") || args.Is("-h")) && args.NoValue()) {
      Usage();
      return kExitPlayable;
    } else if (args.Is("--version") && args.NoValue()) {
      standin::PrintVersion("vefdump");
      return kExitPlayable;
    } else if (!args.Failed()) {
      args.Unknown();
    }
  }
  if (!args.Failed() && path.empty()) args.Fail("no scene file given");
  if (args.Failed()) return standin::UsageError("vefdump", args.Problem());

  std::vector<uint8_t> bytes;
  std::string error;
  if (!vef::ReadWholeFile(path, &bytes, &error)) {
    std::fprintf(stderr, "vefdump: %s\n", error.c_str());
    return kExitUnreadable;
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
  if (std::fflush(stdout) != 0) return kExitUnreadable;
  return code;
}
