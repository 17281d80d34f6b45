// The host under the graphics stand-in: where presented pictures go.
//
// DirectDraw draws into system-memory surfaces. What a flip (fullscreen) or a
// blit to the primary surface (windowed) makes visible is handed to the current
// Host. The default host is headless: it keeps a copy of the last presented
// picture in memory, so every call works with no display. The SDL host of the
// window stand-in shows the picture in the real window.
//
// Not part of the Windows API: only the stand-in, tests and tools include this.
#ifndef STANDIN_HOST_H
#define STANDIN_HOST_H

#include <cstdint>
#include <vector>

#include "../win32/types.h"

namespace standin {

enum class PixelFormat {
  RGB565,    // 16 bits: red 15..11, green 10..5, blue 4..0
  XRGB8888,  // 32 bits: 0x00RRGGBB
};

// A picture in memory; the pointer is valid only during the call it is passed to.
struct Picture {
  const void* pixels = nullptr;  // first row
  int width = 0;                 // pixels
  int height = 0;                // pixels
  int pitch = 0;                 // bytes from one row to the next
  PixelFormat format = PixelFormat::RGB565;
};

class Host {
 public:
  virtual ~Host() = default;

  // SetDisplayMode took the virtual screen to width x height x bits (the real
  // desktop mode is never changed); RestoreDisplayMode passes 0, 0, 0.
  virtual void SetDisplayMode(int width, int height, int bitsPerPixel) = 0;

  // Virtual screen size as last set, or 0 x 0 when no mode is set.
  virtual void GetDisplayMode(int* width, int* height, int* bitsPerPixel) const = 0;

  // `picture` became visible: the whole virtual screen after a flip (`window`
  // may be null), or the client area of `window` after a windowed blit.
  // `waitForVerticalBlank` asks to pace presentation at the display's refresh.
  virtual void Present(HWND window, const Picture& picture, bool waitForVerticalBlank) = 0;

  // The size, in pixels of the screen or window, at which a picture of
  // width x height would be shown now (a forced resolution's "native"); false
  // when the host does not know (the headless host).
  virtual bool ShownSize(int width, int height, int* shownWidth, int* shownHeight) {
    (void)width, (void)height, (void)shownWidth, (void)shownHeight;
    return false;
  }
};

// The host in use; the headless host unless SetHost installed another.
Host& CurrentHost();

// Installs `host` (not owned); null goes back to the headless host.
void SetHost(Host* host);

// The headless host: keeps a copy of the last presented picture.
class HeadlessHost : public Host {
 public:
  void SetDisplayMode(int width, int height, int bitsPerPixel) override;
  void GetDisplayMode(int* width, int* height, int* bitsPerPixel) const override;
  void Present(HWND window, const Picture& picture, bool waitForVerticalBlank) override;

  // The last presented picture, tightly packed in its own format.
  const std::vector<uint8_t>& LastPicture() const { return last_; }
  int LastWidth() const { return lastWidth_; }
  int LastHeight() const { return lastHeight_; }
  PixelFormat LastFormat() const { return lastFormat_; }
  HWND LastWindow() const { return lastWindow_; }
  int PresentCount() const { return presentCount_; }

 private:
  int modeWidth_ = 0, modeHeight_ = 0, modeBits_ = 0;
  std::vector<uint8_t> last_;
  int lastWidth_ = 0, lastHeight_ = 0;
  PixelFormat lastFormat_ = PixelFormat::RGB565;
  HWND lastWindow_ = nullptr;
  int presentCount_ = 0;
};

// The process-wide headless host (the default).
HeadlessHost& DefaultHeadlessHost();

}  // namespace standin

#endif
