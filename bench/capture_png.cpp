// democapture's per-frame costs besides drawing: turning the presented RGB565
// picture into RGB and encoding it as PNG (the capture's bottleneck).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Capture.h"
#include "standin/resolution.h"

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

// The supersampling filter: the frame at 800n x 600n (bilinear, so most
// blocks are not of one colour) averaged back to 800 x 600. Arguments: n, and
// the filter: 0 plain, 1 256-bit, 2 512-bit (where the CPU has them).
void BM_BoxFilter565(benchmark::State& state) {
  const int n = int(state.range(0));
  const democapture::Image big = democapture::Scale(Frame(), 800 * n, 600 * n);
  std::vector<uint16_t> pixels(big.rgb.size() / 3);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const uint8_t* c = &big.rgb[i * 3];
    pixels[i] = uint16_t((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3);
  }
  std::vector<uint32_t> out(800 * 600);
  setenv("DEMO_KERNEL", state.range(1) == 0 ? "sse41" : state.range(1) == 1 ? "avx2" : "avx512", 1);
  for (auto _ : state) {
    standin::BoxFilter565(pixels.data(), 800 * n, 600 * n, 1600 * n, n, out.data(), 800);
    benchmark::DoNotOptimize(out.data());
  }
  unsetenv("DEMO_KERNEL");
}
BENCHMARK(BM_BoxFilter565)->ArgsProduct({{2, 4}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
