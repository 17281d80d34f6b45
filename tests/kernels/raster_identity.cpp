// The kernels' identity cases as a plain program, so that they also run where
// GoogleTest is not built (WebAssembly under Node.js): every fast kernel this
// build runs must draw the reference kernel's bits on the fixed-seed random
// triangles and on each recorded stream's whole first frame. Prints one line
// per case and kernel, "<case> <kernel> <hash of colour and depth>", so that
// two builds (native and WebAssembly) can be compared line by line; exits 1
// when a kernel differs from the reference, 2 when a stream cannot be read.
//
// usage: raster_identity STREAM_FILE...
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "RasterCases.h"

namespace {

using namespace standin::raster;
using raster_cases::Buffers;

// Draws one case with each kernel and prints their hashes; false when a fast
// kernel's pixels, depth or covered count differ from the reference's.
template <class DrawFn>
bool Agree(const std::string& name, int w, int h, int depthPad, const DrawFn& draw) {
  bool same = true;
  uint64_t refHash = 0, refCovered = 0;
  for (Kernel k : {Kernel::Reference, Kernel::Simd128, Kernel::Avx2, Kernel::Avx512}) {
    if (!KernelRuns(k)) continue;
    Buffers b(w, h, depthPad);
    b.Clear();
    Stats stats;
    draw(b.target(), k, &stats);
    const uint64_t hash = b.Hash();
    std::printf("%s %s %016" PRIx64 " covered=%" PRIu64 "\n", name.c_str(), KernelName(k), hash, stats.covered);
    if (k == Kernel::Reference) {
      refHash = hash;
      refCovered = stats.covered;
    } else if (hash != refHash || stats.covered != refCovered) {
      std::fprintf(stderr, "%s: the %s kernel differs from the reference\n", name.c_str(), KernelName(k));
      same = false;
    }
  }
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  bool same = true;
  int fast = 0;
  for (Kernel k : {Kernel::Simd128, Kernel::Avx2, Kernel::Avx512}) fast += KernelRuns(k);
  if (fast == 0) {
    std::fprintf(stderr, "raster_identity: no fast kernel runs in this build\n");
    return 1;
  }
  raster_cases::RandomTriangles cases;
  for (int config = 0; config < raster_cases::RandomTriangles::kConfigs; ++config) {
    State st;
    const Texture* tex;
    int depthPad;
    std::vector<Vertex> verts;
    cases.Next(config, &st, &tex, &depthPad, &verts);
    same &= Agree("random" + std::to_string(config), cases.kWidth, cases.kHeight, depthPad,
                    [&](const Target& t, Kernel k, Stats* stats) {
                      DrawTriangleList(t, st, tex, verts.data(), verts.size(), stats, k);
                    });
  }
  for (int i = 1; i < argc; ++i) {
    raster_cases::LoadedStream stream;
    std::string error;
    if (!stream.Load(argv[i], &error) || stream.ts.frames.empty()) {
      std::fprintf(stderr, "raster_identity: %s: %s\n", argv[i], error.empty() ? "no frames" : error.c_str());
      return 2;
    }
    const std::string name = std::string(argv[i]).substr(std::string(argv[i]).find_last_of('/') + 1);
    same &= Agree(name, stream.ts.width, stream.ts.height, 0, [&](const Target& t, Kernel k, Stats* stats) {
      for (const StreamTriangle& tri : stream.ts.frames[0].triangles) {
        DrawTriangleList(t, stream.state, &stream.textures[tri.texture], tri.v, 3, stats, k);
      }
    });
  }
  return same ? 0 : 1;
}
