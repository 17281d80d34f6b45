// democapture's per-frame costs besides drawing: turning the presented RGB565
// picture into RGB and encoding it as PNG (the capture's bottleneck).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Capture.h"

namespace {

// An 800 x 600 demo frame: the stored 50 % reference, scaled up.
democapture::Image Frame() {
  democapture::Image small;
  std::string error;
  if (!democapture::ReadPng(std::string(DEMO_SOURCE_DIR) + "/tests/tools/data/default_50.png", &small, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return democapture::Scale(small, 800, 600);
}

void BM_Rgb565ToRgb(benchmark::State& state) {
  std::vector<uint16_t> pixels(800 * 600);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint16_t(i * 2654435761u >> 7);
  democapture::Image image;
  for (auto _ : state) {
    democapture::Rgb565ToRgb(pixels.data(), 800, 600, 1600, &image);
    benchmark::DoNotOptimize(image.rgb.data());
  }
}
BENCHMARK(BM_Rgb565ToRgb)->Unit(benchmark::kMillisecond);

void BM_WritePng(benchmark::State& state) {
  democapture::Image frame = Frame();
  std::string path = "/tmp/bench_capture_png_" + std::to_string(getpid()) + ".png", error;
  for (auto _ : state)
    if (!democapture::WritePng(path, frame, int(state.range(0)), &error)) state.SkipWithError(error.c_str());
  std::remove(path.c_str());
}
BENCHMARK(BM_WritePng)->Arg(0)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
