// Replays the recorded triangle streams through IDirect3DDevice7::DrawPrimitive
// at 800 x 600 x 16: per frame, clear colour to 0 and depth to 1.0, then draw
// every draw call of the frame (a run of triangles with one texture, cut after
// the stream's batch limit) into the render target, and read a pixel through
// Lock, which waits for the drawing. The device draws with DEMO_THREADS
// threads (default: every core); DEMO_THREADS=1 gives the one-thread figures.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "StreamReplay.h"

namespace {

using stream_replay::Replay;

void BM_Stream(benchmark::State& state, const char* name, double llvmpipeMs) {
  static std::map<std::string, std::unique_ptr<Replay>> replays;
  auto& replay = replays[name];
  std::string error;
  if (!replay) {
    // The full recordings are too large for the repository; the build
    // machines keep them beside it. Without them there is nothing to measure.
    const std::string path = std::string(DEMO_SHARED_DIR) + "/bench/" + name;
    if (access(path.c_str(), R_OK) != 0) {
      const std::string why = "skipped: the recorded stream " + path +
                              " is not there (configure with -DDEMO_SHARED_DIR=<folder with bench/>)";
      state.SkipWithError(why.c_str());
      return;
    }
    replay = std::make_unique<Replay>();
    if (!replay->Open(path, &error)) {
      replay.reset();
      state.SkipWithError(error.c_str());
      return;
    }
  }
  size_t frame = 0;
  for (auto _ : state) {
    replay->DrawFrame(frame++);
    benchmark::DoNotOptimize(replay->FirstPixel());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["llvmpipe_1t_ms"] = llvmpipeMs;
}

BENCHMARK_CAPTURE(BM_Stream, small, "small.trs", 13.60)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_Stream, large, "large.trs", 11.51)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_Stream, mixed, "mixed.trs", 11.58)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
