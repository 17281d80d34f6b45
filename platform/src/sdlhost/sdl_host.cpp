// The SDL host: windows of the window stand-in become SDL windows, presented
// pictures are shown in them, and SDL events become window messages and input.
//
// Everything is created lazily: SDL's video starts when a window is first
// shown or a picture presented, and a window's SDL counterpart is made or
// updated when events are pumped or a picture is presented, so a window that
// is restored and maximised again during start-up never flickers. Events are
// pumped when the program reads input, peeks at its queue or presents, all on
// the one thread that owns the windows.
//
// The fullscreen form (topmost, maximised) is a borderless desktop-sized window
// showing the virtual screen scaled with its aspect kept; an overlapped window
// is an ordinary resizable window whose client area is its SDL size. The user
// may have either shown the other way (the host's options, Alt+Enter); the
// program is not told: its client area, position and messages stay those of
// the form it asked for, and only the picture is scaled into what is shown.
#include <SDL.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dinput/input_state.h"
#include "sdlhost/route.h"
#include "sdlhost/screenshot.h"
#include "standin/desktop.h"
#include "standin/host.h"
#include "win32/desktop.h"

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRefreshPeriod = std::chrono::nanoseconds(1000000000 / 60);
// With vsync the display sets the pace; the pacer only stops a renderer that
// claims vsync but does not wait (as on a virtual X server) from running away,
// and leaves this much room so that it never makes a real vsync miss a blank.
constexpr auto kVsyncSlack = std::chrono::milliseconds(2);

struct View {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int textureWidth = 0, textureHeight = 0;
  Uint32 textureFormat = 0;
  bool asked = false;       // the program's fullscreen form (topmost, maximised)
  bool toggled = false;     // Alt+Enter: shown the other way than the options say
  bool fullscreen = false;  // shown on the whole screen now
  SIZE sized{};             // client size last given to a desktop window, pixels
  bool shown = false;
  bool vsync = false;  // presents wait for the display's vertical blank
};

class SdlHost final : public Host, public DesktopBackend {
 public:
  explicit SdlHost(const SdlHostOptions& options) : options_(options) {}

  ~SdlHost() override {
    for (auto& entry : views_) DestroyView(entry.second);
    views_.clear();
    if (video_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  // ---- Host ----
  void SetDisplayMode(int width, int height, int bitsPerPixel) override {
    modeWidth_ = width;
    modeHeight_ = height;
    modeBits_ = bitsPerPixel;
    // A fullscreen form shown in a desktop window takes the new virtual size.
    for (auto& entry : views_) dirty_.insert(entry.first);
  }

  void GetDisplayMode(int* width, int* height, int* bitsPerPixel) const override {
    if (width != nullptr) *width = modeWidth_;
    if (height != nullptr) *height = modeHeight_;
    if (bitsPerPixel != nullptr) *bitsPerPixel = modeBits_;
  }

  void Present(HWND window, const Picture& picture, bool waitForVerticalBlank) override {
    SyncWindows();
    View* view = Target(window);
    bool vsync = false;
    if (view != nullptr && view->renderer != nullptr && Upload(*view, picture)) {
      Draw(*view);
      vsync = view->vsync;
    }
    Keep(picture);
    if (waitForVerticalBlank) Pace(vsync);
    PumpDesktopEvents();
  }

  // The picture's place in the view that shows the screen: the whole display
  // when that view is fullscreen, else its window's drawable size.
  bool ShownSize(int width, int height, int* shownWidth, int* shownHeight) override {
    SyncWindows();
    View* view = Target(nullptr);
    if (view == nullptr || view->renderer == nullptr) return false;
    int outW = 0, outH = 0;
    if (!(view->fullscreen && DesktopSize(&outW, &outH))) SDL_GetRendererOutputSize(view->renderer, &outW, &outH);
    const FitRect fit = PlacePicture(options_.scaling, width, height, outW, outH);
    if (fit.width <= 0 || fit.height <= 0) return false;
    *shownWidth = fit.width;
    *shownHeight = fit.height;
    return true;
  }

  // ---- DesktopBackend ----
  void WindowChanged(HWND window) override { dirty_.insert(window); }

  void WindowDestroyed(HWND window) override {
    dirty_.erase(window);
    auto it = views_.find(window);
    if (it == views_.end()) return;
    if (captured_ == window) SetMouseCaptured(window, false);
    DestroyView(it->second);
    views_.erase(it);
  }

  void PumpEvents() override {
    SyncWindows();
    if (!video_) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) Handle(e);
  }

  void SetMouseCaptured(HWND window, bool captured) override {
    captured_ = captured ? window : nullptr;
    if (!video_) return;
    // Relative mode hides the cursor and keeps reporting motion at the edges.
    SDL_SetRelativeMouseMode(captured ? SDL_TRUE : SDL_FALSE);
  }

  bool DesktopSize(int* width, int* height) override {
    if (!StartVideo()) return false;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0) return false;
    *width = mode.w;
    *height = mode.h;
    return true;
  }

  bool ShownFullscreen(HWND window) const {
    auto it = views_.find(window);
    return it != views_.end() && it->second.shown && it->second.fullscreen;
  }

  // The keys the host keeps (see SdlHostOptions::hostKeys). A key taken down
  // here is taken up here too, whatever Alt does in between.
  bool HostKey(int scancode, bool down, bool repeat) {
    if (!options_.hostKeys) return false;
    if (!down) return swallowed_.erase(scancode) > 0;
    const bool enter = scancode == SDL_SCANCODE_RETURN || scancode == SDL_SCANCODE_KP_ENTER;
    if (enter && (AltHeld() || swallowed_.count(scancode) > 0)) {
      if (!repeat && swallowed_.insert(scancode).second) ToggleForm();
      return true;
    }
    if (scancode == SDL_SCANCODE_F12) {
      if (!repeat && swallowed_.insert(scancode).second) Screenshot();
      return true;
    }
    return false;
  }

 private:
  // The form a window is shown in: the options' choice, the other one after
  // an odd number of Alt+Enter.
  bool WantsFullscreen(bool asked, bool toggled) const {
    const bool base = options_.form == PresentationForm::AsAsked ? asked
                                                                  : options_.form == PresentationForm::Fullscreen;
    return base != toggled;
  }

  void ToggleForm() {
    auto it = views_.find(GetForegroundWindow());
    if (it == views_.end() || !it->second.shown) {
      for (it = views_.begin(); it != views_.end() && !it->second.shown; ++it) {
      }
    }
    if (it == views_.end()) return;
    it->second.toggled = !it->second.toggled;
    dirty_.insert(it->first);
    SyncWindows();
    Redraw(it->first);
  }

  // A copy of the last presented picture, for F12.
  void Keep(const Picture& p) {
    if (p.pixels == nullptr || p.width <= 0 || p.height <= 0) return;
    const int bytes = p.format == PixelFormat::RGB565 ? 2 : 4;
    kept_.resize(static_cast<size_t>(p.width) * p.height * bytes);
    for (int y = 0; y < p.height; ++y)
      std::memcpy(kept_.data() + static_cast<size_t>(y) * p.width * bytes,
                  static_cast<const uint8_t*>(p.pixels) + static_cast<ptrdiff_t>(y) * p.pitch,
                  static_cast<size_t>(p.width) * bytes);
    keptPicture_ = p;
    keptPicture_.pixels = kept_.data();
    keptPicture_.pitch = p.width * bytes;
  }

  void Screenshot() {
    std::string error;
    const char* program = program_invocation_short_name;
    const std::string file = SaveScreenshot(kept_.empty() ? Picture{} : keptPicture_, PicturesFolderHere(),
                                            program != nullptr && *program != '\0' ? program : "screenshot",
                                            &error);
    if (file.empty()) {
      std::fprintf(stderr, "screenshot: not saved: %s\n", error.c_str());
    } else {
      std::fprintf(stderr, "screenshot: %s\n", file.c_str());
    }
  }

  // SDL's virtual drivers show nothing; they count as a display only when
  // asked for by name (SDL_VIDEODRIVER), as the tests and the capture tool do.
  static bool IsVirtualDriver(const char* driver) {
    return driver != nullptr &&
           (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0);
  }

  bool StartVideo() {
    if (videoTried_) return video_;
    videoTried_ = true;
    // Ctrl+C in a terminal ends the program as usual; SDL would turn it into
    // an SDL_QUIT event that no window asked for.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    const char* requested = SDL_getenv("SDL_VIDEODRIVER");
    const bool anyDriver = requested == nullptr || *requested == '\0';
    const char* x11 = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    const char* display = x11 != nullptr && *x11 != '\0'           ? x11
                          : wayland != nullptr && *wayland != '\0' ? wayland
                                                                    : nullptr;
    // When SDL cannot reach the display it quietly falls back to its invisible
    // offscreen driver. A display server may refuse a connection now and then
    // (virtual X servers under load do), so a display that is set is tried a
    // few times before the program goes on without a window.
    // With no display set there is nothing to try: SDL's attempts would only
    // make the display libraries complain on standard error.
    const int attempts = !anyDriver ? 1 : display != nullptr ? 5 : 0;
    std::string reason = "no display is set";
    for (int attempt = 0; attempt < attempts; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(25 << (attempt - 1)));
      if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        reason = SDL_GetError();
        continue;
      }
      if (!anyDriver || !IsVirtualDriver(SDL_GetCurrentVideoDriver())) {
        video_ = true;
        return true;
      }
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      reason = display != nullptr ? std::string("cannot connect to the display ") + display
                                  : "no display is set";
    }
    std::fprintf(stderr, "display: none available (%s); running without a window\n",
                 reason.c_str());
    return false;
  }

  static void DestroyView(View& v) {
    if (v.texture != nullptr) SDL_DestroyTexture(v.texture);
    if (v.renderer != nullptr) SDL_DestroyRenderer(v.renderer);
    if (v.window != nullptr) SDL_DestroyWindow(v.window);
    v = View{};
  }

  // Makes the SDL windows match the windows that changed.
  void SyncWindows() {
    while (!dirty_.empty()) {
      HWND handle = *dirty_.begin();
      dirty_.erase(dirty_.begin());
      WindowView w;
      if (!GetWindowView(handle, &w)) continue;
      auto it = views_.find(handle);
      const bool wanted = w.visible && !w.minimized;
      if (!wanted) {
        if (it != views_.end() && it->second.shown) {
          SDL_HideWindow(it->second.window);
          it->second.shown = false;
        }
        continue;
      }
      if (!StartVideo()) continue;
      if (it == views_.end()) {
        if (!Create(w)) continue;
      } else {
        Update(it->second, w);
      }
    }
  }

  bool Create(const WindowView& w) {
    Uint32 flags = SDL_WINDOW_SHOWN;
    int x = SDL_WINDOWPOS_UNDEFINED, y = SDL_WINDOWPOS_UNDEFINED;
    int width = std::max<int>(w.client.cx, 1), height = std::max<int>(w.client.cy, 1);
    const bool full = WantsFullscreen(w.fullscreenForm, false);
    if (full) {
      // Desktop-sized at the origin as well, for X servers without a window
      // manager to honour the fullscreen request.
      flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
      x = y = 0;
      DesktopSize(&width, &height);
    } else if (w.fullscreenForm) {
      // The virtual screen in a window of its size.
      flags |= SDL_WINDOW_RESIZABLE;
      x = y = SDL_WINDOWPOS_CENTERED;
    } else {
      flags |= SDL_WINDOW_RESIZABLE;
      if (w.maximized) flags |= SDL_WINDOW_MAXIMIZED;
      x = w.clientOrigin.x;
      y = w.clientOrigin.y;
    }
    View v;
    v.window = SDL_CreateWindow(w.captionUtf8.c_str(), x, y, width, height, flags);
    if (v.window == nullptr) {
      std::fprintf(stderr, "display: cannot create a window (%s)\n", SDL_GetError());
      return false;
    }
    v.renderer = SDL_CreateRenderer(v.window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (v.renderer == nullptr) v.renderer = SDL_CreateRenderer(v.window, -1, SDL_RENDERER_SOFTWARE);
    if (v.renderer == nullptr) {
      std::fprintf(stderr, "display: cannot draw into the window (%s)\n", SDL_GetError());
    } else {
      SDL_RendererInfo info;
      v.vsync = !IsVirtualDriver(SDL_GetCurrentVideoDriver()) && SDL_GetRendererInfo(v.renderer, &info) == 0 &&
                (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
      SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
      SDL_SetRenderDrawColor(v.renderer, 0, 0, 0, 255);
      SDL_RenderClear(v.renderer);
      SDL_RenderPresent(v.renderer);
    }
    v.asked = w.fullscreenForm;
    v.fullscreen = full;
    v.sized = SIZE{width, height};
    v.shown = true;
    views_[w.handle] = v;
    // The window the program sees in the foreground gets the keyboard focus.
    if (GetForegroundWindow() == w.handle) {
      SDL_RaiseWindow(v.window);
      SDL_SetWindowInputFocus(v.window);
    }
    if (captured_ == w.handle) SDL_SetRelativeMouseMode(SDL_TRUE);
    return true;
  }

  void Update(View& v, const WindowView& w) {
    if (!v.shown) {
      SDL_ShowWindow(v.window);
      v.shown = true;
    }
    SDL_SetWindowTitle(v.window, w.captionUtf8.c_str());
    v.asked = w.fullscreenForm;
    const bool full = WantsFullscreen(v.asked, v.toggled);
    if (full != v.fullscreen) {
      SDL_SetWindowBordered(v.window, full ? SDL_FALSE : SDL_TRUE);
      SDL_SetWindowResizable(v.window, full ? SDL_FALSE : SDL_TRUE);
      if (full) {
        // As in Create: for X servers without a window manager.
        int dw = 0, dh = 0;
        if (DesktopSize(&dw, &dh)) {
          SDL_SetWindowPosition(v.window, 0, 0);
          SDL_SetWindowSize(v.window, dw, dh);
        }
      }
      SDL_SetWindowFullscreen(v.window, full ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
      v.fullscreen = full;
      if (!full && v.asked) {
        v.sized = w.client;
        SDL_SetWindowSize(v.window, std::max<int>(w.client.cx, 1), std::max<int>(w.client.cy, 1));
        SDL_SetWindowPosition(v.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
      }
    }
    if (full) return;
    if (v.asked) {
      // The virtual screen in a window: sized anew only when the screen's size
      // changes, so that the user's own resizing stays.
      if ((w.client.cx != v.sized.cx || w.client.cy != v.sized.cy) && w.client.cx > 0 && w.client.cy > 0) {
        v.sized = w.client;
        SDL_SetWindowSize(v.window, w.client.cx, w.client.cy);
        SDL_SetWindowPosition(v.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
      }
      return;
    }
    {
      if (w.maximized) {
        SDL_MaximizeWindow(v.window);
      } else {
        int cw = 0, ch = 0;
        SDL_GetWindowSize(v.window, &cw, &ch);
        if ((cw != w.client.cx || ch != w.client.cy) && w.client.cx > 0 && w.client.cy > 0)
          SDL_SetWindowSize(v.window, w.client.cx, w.client.cy);
      }
    }
  }

  // The view a picture goes to: the window's own, or after a flip (no window)
  // the fullscreen window, else the foreground window's.
  View* Target(HWND window) {
    if (window != nullptr) {
      auto it = views_.find(window);
      return it == views_.end() ? nullptr : &it->second;
    }
    for (auto& entry : views_)
      if (entry.second.asked && entry.second.shown) return &entry.second;
    auto it = views_.find(GetForegroundWindow());
    return it == views_.end() ? nullptr : &it->second;
  }

  bool Upload(View& v, const Picture& p) {
    if (p.pixels == nullptr || p.width <= 0 || p.height <= 0) return false;
    Uint32 format = p.format == PixelFormat::RGB565 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
    if (v.texture == nullptr || v.textureWidth != p.width || v.textureHeight != p.height ||
        v.textureFormat != format) {
      if (v.texture != nullptr) SDL_DestroyTexture(v.texture);
      v.texture = SDL_CreateTexture(v.renderer, format, SDL_TEXTUREACCESS_STREAMING, p.width, p.height);
      if (v.texture == nullptr) return false;
      v.textureWidth = p.width;
      v.textureHeight = p.height;
      v.textureFormat = format;
    }
    return SDL_UpdateTexture(v.texture, nullptr, p.pixels, p.pitch) == 0;
  }

  // Shows the view's last picture, scaled with its aspect kept on black.
  void Draw(View& v) {
    if (v.renderer == nullptr) return;
    int outW = 0, outH = 0;
    SDL_GetRendererOutputSize(v.renderer, &outW, &outH);
    SDL_SetRenderDrawColor(v.renderer, 0, 0, 0, 255);
    SDL_RenderClear(v.renderer);
    if (v.texture != nullptr) {
      FitRect fit = PlacePicture(options_.scaling, v.textureWidth, v.textureHeight, outW, outH);
      SDL_Rect dst{fit.x, fit.y, fit.width, fit.height};
      SDL_RenderCopy(v.renderer, v.texture, nullptr, &dst);
    }
    SDL_RenderPresent(v.renderer);
  }

  // Holds presentation to 60 Hz: exactly without vsync, loosely with it.
  void Pace(bool vsync) {
    auto now = Clock::now();
    if (vsync) {
      if (now < nextFrame_) std::this_thread::sleep_until(nextFrame_);
      nextFrame_ = Clock::now() + kRefreshPeriod - kVsyncSlack;
      return;
    }
    if (now > nextFrame_ + kRefreshPeriod) {  // late by a frame or more: start afresh
      nextFrame_ = now + kRefreshPeriod;
      return;
    }
    if (now < nextFrame_) std::this_thread::sleep_until(nextFrame_);
    nextFrame_ += kRefreshPeriod;
  }

  HWND FindHandle(Uint32 windowId) {
    SDL_Window* w = SDL_GetWindowFromID(windowId);
    for (auto& entry : views_)
      if (entry.second.window == w && w != nullptr) return entry.first;
    return nullptr;
  }

  // Moves and sizes are the program's business only while a window is shown
  // in the form it asked for.
  bool ShownAsAsked(HWND handle) const {
    auto it = views_.find(handle);
    return it != views_.end() && it->second.fullscreen == it->second.asked;
  }

  void Handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_WINDOWEVENT: {
        HWND handle = FindHandle(e.window.windowID);
        if (handle == nullptr) break;
        switch (e.window.event) {
          case SDL_WINDOWEVENT_MOVED:
            if (ShownAsAsked(handle)) DesktopMoved(handle, e.window.data1, e.window.data2);
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            if (ShownAsAsked(handle)) DesktopResized(handle, e.window.data1, e.window.data2);
            Redraw(handle);
            break;
          case SDL_WINDOWEVENT_EXPOSED:
            Redraw(handle);
            DesktopExposed(handle);
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            DesktopFocusChanged(handle, true);
            break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            DesktopFocusChanged(handle, false);
            break;
          case SDL_WINDOWEVENT_CLOSE:
            DesktopCloseRequested(handle);
            break;
          default:
            break;
        }
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        RouteKey(e.key.keysym.scancode, e.type == SDL_KEYDOWN, e.key.repeat != 0);
        break;
      case SDL_MOUSEMOTION:
        InputMouseMotion(e.motion.xrel, e.motion.yrel);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        RouteMouseButton(e.button.button, e.type == SDL_MOUSEBUTTONDOWN);
        break;
      case SDL_MOUSEWHEEL: {
        int notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        InputMouseWheel(notches * 120);
        break;
      }
      default:
        break;  // SDL_QUIT: closing is asked of each window instead
    }
  }

  void Redraw(HWND handle) {
    auto it = views_.find(handle);
    if (it != views_.end()) Draw(it->second);
  }

  SdlHostOptions options_;
  std::set<int> swallowed_;  // SDL scan codes of host keys held down
  std::vector<uint8_t> kept_;
  Picture keptPicture_;
  bool videoTried_ = false;
  bool video_ = false;
  int modeWidth_ = 0, modeHeight_ = 0, modeBits_ = 0;
  std::map<HWND, View> views_;
  std::set<HWND> dirty_;
  HWND captured_ = nullptr;
  Clock::time_point nextFrame_{};
};

SdlHost* g_host = nullptr;

bool HostKey(int scancode, bool down, bool repeat) {
  return g_host != nullptr && g_host->HostKey(scancode, down, repeat);
}

}  // namespace

void InstallSdlHost(const SdlHostOptions& options) {
  if (g_host != nullptr) return;
  g_host = new SdlHost(options);
  SetHost(g_host);
  SetDesktopBackend(g_host);
  SetHostKeyHandler(HostKey);
  for (HWND window : ListWindows()) g_host->WindowChanged(window);
}

void UninstallSdlHost() {
  if (g_host == nullptr) return;
  SetHostKeyHandler(nullptr);
  SetDesktopBackend(nullptr);
  SetHost(nullptr);
  delete g_host;
  g_host = nullptr;
}

bool PresentedFullscreen(HWND window) { return g_host != nullptr && g_host->ShownFullscreen(window); }

}  // namespace standin
