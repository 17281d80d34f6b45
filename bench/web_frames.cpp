// The web page's benchmark (?bench=P, run by bench/web_bench.py): the frames
// bench_demo_frames times on the desktop, each frame of the music at 25 fps to
// its end, each timed around the demo's own frame (clear, Render, the time
// printed, Present into memory), every frame's best of P passes. The web
// program links it in; the web host runs it in place of WinMain when the page
// asks. The demo's own loop would stop at its end time, 99.5 % into the music,
// eight frames short of the desktop benchmark's.
#include <bass.h>
#include <emscripten.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "Demo.h"
#include "MainWindow.h"
#include "webhost/web.h"

namespace {

// Frames of an hour at 25 fps at most: bounds the walk along the music.
constexpr int kMaxFrames = 90000;

int RunFrames(HINSTANCE instance, int passes) {
  DemoRun run(instance, SW_SHOWNORMAL);
  standin::SetWebBenchFrame(0);
  if (!DemoStartUp(run)) return DemoTearDown(run);
  // Frame k at k / 25 s of the music (the stream's position in a benchmark),
  // its demo time as the loop computes it.
  const DWORD length = BASS_StreamGetLength(run.Stream);
  std::vector<uint32_t> times;
  for (int k = 0; k < kMaxFrames; ++k) {
    standin::SetWebBenchFrame(k);
    const DWORD position = BASS_ChannelGetPosition(run.Stream);
    if (position >= length) break;
    times.push_back(DemoTimeFromPosition(position, run.StreamLength));
  }
  std::vector<double> ms(times.size(), 1e300);
  double lastYield = emscripten_get_now();
  for (int pass = 0; pass < passes; ++pass) {
    for (size_t i = 0; i < times.size(); ++i) {
      const double t0 = emscripten_get_now();
      DemoDrawFrame(ActiveRenderer, *run.Player, times[i]);
      const double t1 = emscripten_get_now();
      ms[i] = std::min(ms[i], t1 - t0);
      // The browser gets the page back every 100 ms, outside the timed frames.
      if (t1 - lastYield > 100) {
        emscripten_sleep(0);
        lastYield = emscripten_get_now();
      }
    }
  }
  standin::SetWebBenchFrame(-1);
  if (!ms.empty()) {
    double total = 0;
    for (double m : ms) total += m;
    std::sort(ms.begin(), ms.end());
    standin::WebBenchResult(static_cast<int>(ms.size()), total / ms.size(),
                            ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back());
  }
  return DemoTearDown(run);
}

[[maybe_unused]] const bool kRegistered = (standin::SetWebBenchRunner(&RunFrames), true);

}  // namespace
