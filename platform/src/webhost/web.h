// What the web host's parts share.
#ifndef STANDIN_WEBHOST_WEB_H
#define STANDIN_WEBHOST_WEB_H

#include <windows.h>

namespace standin {

// A number the page was opened with (page.js's hooks: "time", "bench",
// "keep"); -1 when it was not given.
int WebHook(const char* name);

// The page's benchmark (?bench=P): a runner that the web program links in
// (bench/web_frames.cpp) registers itself before main(); the host calls it in
// place of WinMain with the passes asked for. It picks each frame of the music
// at 25 fps with SetWebBenchFrame, which the music stream's position then
// reports, and hands its figures (milliseconds) to WebBenchResult.
using WebBenchRunner = int (*)(HINSTANCE instance, int passes);
void SetWebBenchRunner(WebBenchRunner runner);
void SetWebBenchFrame(int frame);
// The frame set by the benchmark runner; -1 outside a benchmark.
int WebBenchFrame();
void WebBenchResult(int frames, double mean, double p99, double worst);

}  // namespace standin

#endif
