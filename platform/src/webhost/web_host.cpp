// The web host: the platform stand-in in a browser page, built to WebAssembly.
//
// The page (web/page.js) loads the content into the in-memory file system and
// calls main() after the user's first gesture. The demo's frame loop never
// returns to the browser by itself, so each presented picture ends with a
// yield (Asyncify: the call stack is saved, the browser runs until its next
// animation frame, then the stack is restored); only the functions on the way
// from main() to that yield are instrumented, not the kernels.
//
// Presentation: the 800 x 600 picture goes into the page's canvas, which is
// placed with FitWithAspect in the page, as the desktop host fits it to the
// screen. Input: the page queues its key and mouse events; PumpEvents hands
// them to the window and DirectInput stand-ins as the SDL host does. The page
// keeps F and double-click (fullscreen) for itself.
//
// Test and benchmark hooks (from the page's address, see page.js): a fixed
// demo clock (web_audio.cpp), a copy of every presented RGB565 picture for
// the browser test, and the benchmark, whose runner (bench/web_frames.cpp)
// the host starts instead of WinMain; its pictures are not shown.
#include <emscripten.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dinput/input_state.h"
#include "standin/audio.h"
#include "standin/debuglog.h"
#include "standin/desktop.h"
#include "standin/host.h"
#include "standin/rgb565.h"
#include "webhost/keymap.h"
#include "webhost/web.h"
#include "win32/desktop.h"
#include "win32/keyboard.h"

// Page side of the host (JavaScript, run on the page's one thread).
// clang-format off
EM_JS(void, web_show, (const void* rgba, int width, int height, int x, int y, int w, int h), {
  Module.demoPage.show(HEAPU8.subarray(rgba, rgba + width * height * 4), width, height, x, y, w, h);
});
EM_JS(void, web_keep_picture, (const void* pixels, int width, int height, int pitch), {
  Module.demoPage.keepPicture(HEAPU8.slice(pixels, pixels + pitch * height), width, height, pitch);
});
EM_JS(int, web_view_width, (), { return Module.demoPage.viewWidth(); });
EM_JS(int, web_view_height, (), { return Module.demoPage.viewHeight(); });
// The next queued input event: 0 none, 1 key (code into `code`), 2 mouse
// button, 3 motion, 4 wheel; values a, b as page.js documents them.
EM_JS(int, web_next_event, (char* code, int codeSize, int* a, int* b), {
  const e = Module.demoPage.nextEvent();
  if (!e) return 0;
  stringToUTF8(e[1], code, codeSize);
  HEAP32[a >> 2] = e[2];
  HEAP32[b >> 2] = e[3];
  return e[0];
});
EM_JS(void, web_wait_frame, (), {
  Asyncify.handleSleep(function(wakeUp) { Module.demoPage.waitFrame(wakeUp); });
});
EM_JS(int, web_hook_int, (const char* name), { return Module.demoPage.hook(UTF8ToString(name)); });
EM_JS(void, web_ended, (int code), { Module.demoPage.ended(code); });
EM_JS(int, web_wait_play_again, (), {
  return Asyncify.handleSleep(function(wakeUp) { Module.demoPage.waitPlayAgain(wakeUp); });
});
EM_JS(void, web_bench_result, (int frames, double mean, double p99, double worst), {
  Module.demoPage.benchResult(frames, mean, p99, worst);
});
// clang-format on

namespace standin {

int WebHook(const char* name) { return web_hook_int(name); }

namespace {
WebBenchRunner g_benchRunner = nullptr;
int g_benchFrame = -1;
}  // namespace

void SetWebBenchRunner(WebBenchRunner runner) { g_benchRunner = runner; }
void SetWebBenchFrame(int frame) { g_benchFrame = frame; }
int WebBenchFrame() { return g_benchFrame; }
void WebBenchResult(int frames, double mean, double p99, double worst) { web_bench_result(frames, mean, p99, worst); }

namespace {

class WebHost final : public Host, public DesktopBackend {
 public:
  WebHost() : bench_(WebHook("bench") > 0), keep_(WebHook("keep") > 0) {}

  // ---- Host ----
  void SetDisplayMode(int width, int height, int bitsPerPixel) override {
    modeWidth_ = width;
    modeHeight_ = height;
    modeBits_ = bitsPerPixel;
  }
  void GetDisplayMode(int* width, int* height, int* bitsPerPixel) const override {
    if (width != nullptr) *width = modeWidth_;
    if (height != nullptr) *height = modeHeight_;
    if (bitsPerPixel != nullptr) *bitsPerPixel = modeBits_;
  }

  void Present(HWND, const Picture& picture, bool) override {
    if (!bench_) {  // a benchmark's pictures stay in memory
      Show(picture);
      if (keep_) web_keep_picture(picture.pixels, picture.width, picture.height, picture.pitch);
      web_wait_frame();
    }
    PumpDesktopEvents();
  }

  // ---- DesktopBackend ----
  void WindowChanged(HWND) override {}
  void WindowDestroyed(HWND) override {}
  void SetMouseCaptured(HWND, bool) override {}
  bool DesktopSize(int* width, int* height) override {
    *width = web_view_width();
    *height = web_view_height();
    return *width > 0 && *height > 0;
  }

  void PumpEvents() override {
    char code[32];
    int a = 0, b = 0;
    for (int type; (type = web_next_event(code, sizeof code, &a, &b)) != 0;) {
      switch (type) {
        case 1: {  // key: a = down, b = repeat
          const WebKey key = WebKeyFromCode(code);
          DeliverKey(key.dik, key.vk, a != 0, b != 0);
          break;
        }
        case 2: InputMouseButton(a, b != 0); break;  // a = 0 left, 1 right, 2 middle
        case 3: InputMouseMotion(a, b); break;       // CSS pixels
        case 4: InputMouseWheel(a); break;           // 120 a notch
        default: break;
      }
    }
  }

 private:
  // RGB565 widened to RGBA8 for the canvas (Rgb565ToRgb8), placed as the desktop host fits it to the screen.
  void Show(const Picture& picture) {
    if (picture.format != PixelFormat::RGB565 || picture.pixels == nullptr) return;
    rgba_.resize(static_cast<size_t>(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
      const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(picture.pixels) +
                                                          static_cast<ptrdiff_t>(y) * picture.pitch);
      uint32_t* out = rgba_.data() + static_cast<size_t>(y) * picture.width;
      for (int x = 0; x < picture.width; ++x) {
        uint8_t rgb[3];
        Rgb565ToRgb8(row[x], rgb);
        out[x] = rgb[0] | (uint32_t{rgb[1]} << 8) | (uint32_t{rgb[2]} << 16) | 0xFF000000u;
      }
    }
    const FitRect fit = FitWithAspect(picture.width, picture.height, web_view_width(), web_view_height());
    web_show(rgba_.data(), picture.width, picture.height, fit.x, fit.y, fit.width, fit.height);
  }

  const bool bench_, keep_;
  int modeWidth_ = 0, modeHeight_ = 0, modeBits_ = 0;
  std::vector<uint32_t> rgba_;
};

}  // namespace
}  // namespace standin

int main() {
  // The demo's debug log goes to the browser's console (standard output);
  // standard error holds the messages for the user, which the page shows.
  standin::SetDebugOutput(1);
  HINSTANCE const instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
  char commandLine[] = "";
  const int benchPasses = standin::WebHook("bench");
  for (;;) {
    standin::WebHost host;
    standin::SetHost(&host);
    standin::SetDesktopBackend(&host);
    const int code = benchPasses > 0 && standin::g_benchRunner != nullptr
                         ? standin::g_benchRunner(instance, benchPasses)
                         : WinMain(instance, nullptr, commandLine, SW_SHOWNORMAL);
    standin::AudioShutdown();
    standin::SetDesktopBackend(nullptr);
    standin::SetHost(nullptr);
    web_ended(code);
    if (!web_wait_play_again()) return code;
  }
}
