// The whole default demo, frame by frame: for every frame of the generator's
// full piece at 25 frames per second, what the demo's loop does for a frame
// (clear, Render, the time printed, Present into the headless host's memory)
// at 800 x 600 x 16, timed per frame. Reports mean, 99th percentile and worst
// frame time with one drawing thread and with every core (DEMO_THREADS), and
// the mean processor time per frame of all threads together ("cpu": on a
// shared machine the wall clock also counts the time other work held the cores).
//
//   bench_demo_frames [--threads N] [--passes P] [--render WxH] [--ssaa S] [--every K]
//
// --every K times only every K-th frame (default 1: all), for quick runs.
// --render and --ssaa draw the picture at WxH (S x S samples a pixel) with
// the stand-in's forced resolution, as demo --render does; the demo keeps
// its 800 x 600 mode. The present (the box filter with S above 1, the
// headless host's copy) is part of each frame's time.
// N is the second configuration (default all cores). With P passes (default
// 1) each frame's time is its best of P: on a shared or virtual machine that
// filters out the moments another guest took the core, so two builds can be
// compared within a few per cent.
//
// Frame k shows demo time floor(k * 1764 * 10000 / samples), 1764 being the
// samples per frame at 44.1 kHz, as the loop maps the music's position.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "3d/D3DRenderer.h"
#include "3d/Scene.h"
#include "3d/ScenePlayer.h"
#include "Demo.h"
#include "MainWindow.h"
#include "SceneGen.h"
#include "SceneWriter.h"
#include "standin/debuglog.h"
#include "standin/host.h"
#include "standin/resolution.h"

namespace {

struct Figures {
  double mean, p99, worst;  // milliseconds
  double cpu;               // mean processor time per frame, every thread together, milliseconds
};

// Processor time of the whole process (every thread), milliseconds: on a
// machine shared with other work it shows what a frame costs when the wall
// clock also counts the time others held the cores.
double ProcessCpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

Figures Run(const std::string& scenePath, int threads, int passes, const std::vector<uint32_t>& times) {
  setenv("DEMO_THREADS", std::to_string(threads).c_str(), 1);
  HWND window = CreateMainWindow(reinterpret_cast<HINSTANCE>(0x400000), SW_SHOWNORMAL, true, 800, 600);
  standin::SetHost(nullptr);  // pictures go to the headless host's memory
  D3DRenderer* renderer = DemoCreateRenderer(window, 800, 600);
  Scene* scene = DemoImportScene(scenePath.c_str());
  if (!scene->isPlayable()) {
    std::fprintf(stderr, "bench_demo_frames: the generated scene is refused\n");
    std::exit(1);
  }
  auto* player = new ScenePlayer(renderer, scene);
  using Clock = std::chrono::steady_clock;
  std::vector<double> ms(times.size(), 1e300), cpu(times.size(), 1e300);
  for (int pass = 0; pass < passes; ++pass) {
    for (size_t i = 0; i < times.size(); ++i) {
      const double c0 = ProcessCpuMs();
      const auto t0 = Clock::now();
      DemoDrawFrame(renderer, *player, times[i]);
      ms[i] = std::min(ms[i], std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      cpu[i] = std::min(cpu[i], ProcessCpuMs() - c0);
    }
  }
  delete player;
  delete renderer;
  delete scene;
  DestroyWindow(window);
  double total = 0, cpuTotal = 0;
  for (double m : ms) total += m;
  for (double c : cpu) cpuTotal += c;
  std::sort(ms.begin(), ms.end());
  return Figures{total / ms.size(), ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back(),
                 cpuTotal / cpu.size()};
}

}  // namespace

int main(int argc, char** argv) {
  unsigned all = std::thread::hardware_concurrency();
  int threads = all == 0 ? 1 : static_cast<int>(all);
  int passes = 1, every = 1;
  standin::RenderSize render;
  render.width = 800;
  render.height = 600;
  for (int i = 1; i < argc; i += 2) {
    const std::string option = argv[i];
    const bool known = option == "--threads" || option == "--passes" || option == "--render" || option == "--ssaa" ||
                       option == "--every";
    if (i + 1 >= argc || !known ||
        (option == "--render" && std::sscanf(argv[i + 1], "%dx%d", &render.width, &render.height) != 2)) {
      std::fprintf(stderr,
                   "usage: bench_demo_frames [--threads N] [--passes P] [--render WxH] [--ssaa S] [--every K]\n");
      return 2;
    }
    if (option == "--threads") threads = std::atoi(argv[i + 1]);
    if (option == "--passes") passes = std::atoi(argv[i + 1]);
    if (option == "--ssaa") render.ssaa = std::atoi(argv[i + 1]);
    if (option == "--every") every = std::atoi(argv[i + 1]);
  }
  if (every < 1 || every > 1000) {
    std::fprintf(stderr, "bench_demo_frames: --every takes 1 to 1000\n");
    return 2;
  }
  if (render.ssaa < 1 || render.ssaa > 4 || render.width < 1 || render.height < 1 ||
      render.width * render.ssaa > standin::kMaxDrawnSide || render.height * render.ssaa > standin::kMaxDrawnSide) {
    std::fprintf(stderr, "bench_demo_frames: --ssaa takes 1 to 4, and --render x --ssaa at most %d a side\n",
                 standin::kMaxDrawnSide);
    return 2;
  }
  standin::SetRenderSize(render);
  if (threads < 1 || threads > 64) {
    std::fprintf(stderr, "bench_demo_frames: --threads takes 1 to 64\n");
    return 2;
  }
  if (passes < 1 || passes > 100) {
    std::fprintf(stderr, "bench_demo_frames: --passes takes 1 to 100\n");
    return 2;
  }
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  standin::SetDebugOutput(-1);  // the demo's debug log would drown the figures

  demogen::Timeline timeline;  // the default, full piece
  vef::SceneWriter writer;
  demogen::BuildScene(timeline, &writer);
  const std::string path = "/tmp/bench_demo_frames_" + std::to_string(getpid()) + ".2vef";
  std::string error;
  if (!vef::WriteFileAtomically(path, writer.bytes(), &error)) {
    std::fprintf(stderr, "bench_demo_frames: %s\n", error.c_str());
    return 1;
  }
  const int64_t samples = timeline.Samples();
  constexpr int64_t kSamplesPerFrame = 44100 / 25;
  std::vector<uint32_t> times;
  for (int64_t s = 0; s < samples; s += kSamplesPerFrame * every) {
    times.push_back(static_cast<uint32_t>(s * 10000 / samples));
  }
  std::printf("default demo, %zu frames at 25 fps, 800 x 600 x 16 drawn at %d x %d, ssaa %d, ms per frame",
              times.size(), render.width, render.height, render.ssaa);
  if (passes > 1) std::printf(" (each frame's best of %d passes)", passes);
  std::printf("\n");
  for (int n : {1, threads}) {
    const Figures f = Run(path, n, passes, times);
    std::printf("%2d thread%s  mean %6.3f  p99 %6.3f  worst %6.3f  cpu %6.3f\n", n, n == 1 ? " " : "s", f.mean,
                f.p99, f.worst, f.cpu);
    std::fflush(stdout);
    if (threads == 1) break;
  }
  std::remove(path.c_str());
  return 0;
}
