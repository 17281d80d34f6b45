// DirectDraw 7 objects of the stand-in: the DirectDraw object, surfaces in
// system memory and clippers. Private to the platform; the demo sees only the
// interfaces of ddraw.h.
//
// Reference counting follows Windows: CreateSurface hands out one reference;
// GetAttachedSurface and AddAttachedSurface add one to the surface they hand
// out or attach; a flip chain holds one reference to each back buffer it made
// and drops them when its front surface goes; a surface releases what is
// attached to it when it goes; a Direct3D device holds its render target and
// its textures. Release returns the count that remains.
#ifndef STANDIN_DDRAW_DIRECTDRAW_H
#define STANDIN_DDRAW_DIRECTDRAW_H

#include <d3d.h>
#include <ddraw.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/Raster.h"
#include "standin/resolution.h"

namespace standin {

class DirectDraw;
class Clipper;

// Drawing a Direct3D device may still have queued (it draws with several
// threads). The DirectDraw object finishes it before anything reads, changes,
// moves or frees surface memory, so every call behaves as if drawing had
// happened at once.
class PendingDrawing {
 public:
  virtual void FinishDrawing() = 0;

 protected:
  ~PendingDrawing() = default;
};

// How a surface is drawn when the screen has a forced resolution
// (standin/resolution.h): per axis the program's size and the drawn size, and
// the samples per shown pixel along each axis.
struct DrawnSize {
  AxisScale x, y;
  int ssaa = 1;  // 1..4; the shown picture is drawn / ssaa
  bool Forced() const { return !x.Unscaled() || !y.Unscaled() || ssaa > 1; }
};

// A surface's pixel memory; flips swap these between the surfaces of a chain.
struct SurfaceMemory {
  std::vector<uint8_t> bytes;  // pitch * height, plus spare bytes after the last row
  int pitch = 0;               // bytes per row
};

class Surface final : public IDirectDrawSurface7 {
 public:
  // `drawn` gives the memory's size when the surface is forced; by default it
  // is width x height.
  Surface(DirectDraw* owner, const DDSURFACEDESC2& desc, int width, int height,
          const DDPIXELFORMAT& format, const DrawnSize* drawn = nullptr);

  // IUnknown
  HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDirectDrawSurface7
  HRESULT AddAttachedSurface(LPDIRECTDRAWSURFACE7 surface) override;
  HRESULT Blt(LPRECT destRect, LPDIRECTDRAWSURFACE7 source, LPRECT sourceRect, DWORD flags,
              LPDDBLTFX fx) override;
  HRESULT DeleteAttachedSurface(DWORD flags, LPDIRECTDRAWSURFACE7 surface) override;
  HRESULT Flip(LPDIRECTDRAWSURFACE7 target, DWORD flags) override;
  HRESULT GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) override;
  HRESULT GetCaps(LPDDSCAPS2 caps) override;
  HRESULT GetClipper(LPDIRECTDRAWCLIPPER* clipper) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT GetPixelFormat(LPDDPIXELFORMAT format) override;
  HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 desc) override;
  HRESULT IsLost() override;
  HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT Restore() override;
  HRESULT SetClipper(LPDIRECTDRAWCLIPPER clipper) override;
  HRESULT Unlock(LPRECT rect) override;

  // For the stand-in. Width and Height are the program's; the memory (Pixels,
  // Pitch, ColorTarget) holds Drawn() pixels.
  int Width() const { return width_; }
  int Height() const { return height_; }
  const DrawnSize& Drawn() const { return drawn_; }
  DWORD Caps() const { return caps_.dwCaps; }
  const DDPIXELFORMAT& Format() const { return format_; }
  bool IsZBuffer() const { return (caps_.dwCaps & DDSCAPS_ZBUFFER) != 0; }
  bool Lost() const { return lost_; }
  bool Busy() const { return locked_ || dc_ != nullptr; }
  void SetLost(bool lost);
  uint8_t* Pixels() { return memory_->bytes.data(); }
  int Pitch() const { return memory_->pitch; }
  // Bumped whenever the pixels may have changed (unlock, blit, flip, GDI, drawing).
  uint64_t Version() const { return version_; }
  void Touch() { ++version_; }
  // The z-buffer attached to this surface, or null.
  Surface* AttachedZBuffer() const;
  // The surface as a rasterizer target (colour only) or texture.
  raster::Target ColorTarget();
  raster::Texture AsTexture();
  DirectDraw* Owner() const { return owner_; }
  // Finishes queued drawing before this surface's memory is read or changed.
  void FinishDrawing() const;
  void Orphan() { owner_ = nullptr; }

  // Makes this the front of a flip chain with `backBuffers` back buffers.
  void BuildFlipChain(int backBuffers, const DDSURFACEDESC2& desc);

 private:
  ~Surface();
  bool IsFront() const { return !chain_.empty(); }
  bool IsPrimary() const { return (caps_.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0; }
  // The surfaces that GetAttachedSurface searches, in order.
  std::vector<Surface*> Attachments() const;
  void Present(bool waitForVerticalBlank);
  // The clipper window's client area in screen coordinates; false without one.
  bool ClipperRect(RECT* rect) const;
  // As ClipperRect, for a primary surface shown in a window (not a flip chain).
  bool WindowArea(RECT* client) const;
  // GetSurfaceDesc's answer, not recorded.
  void Describe(DDSURFACEDESC2* desc) const;
  // A rectangle of the program's pixels as drawn pixels.
  RECT ToDrawn(const RECT& r) const;
  // Bytes from row to row as the program sees them.
  int ModePitch() const;
  // The drawn pixels of forced surface's Lock view that the program changed.
  void WriteBackLockView();

  ULONG refs_ = 1;
  DirectDraw* owner_;
  int width_, height_;
  DrawnSize drawn_;
  DDSCAPS2 caps_;
  DDPIXELFORMAT format_;
  std::unique_ptr<SurfaceMemory> memory_;
  bool lost_ = false;
  bool locked_ = false;
  uint64_t version_ = 0;
  HDC dc_ = nullptr;  // the device context GetDC handed out, until ReleaseDC
  Clipper* clipper_ = nullptr;
  std::vector<Surface*> attached_;  // explicitly attached (z-buffers), one reference each
  std::vector<Surface*> chain_;     // on a front surface: its back buffers, one reference each
  Surface* front_ = nullptr;        // on a back buffer: the chain's front, while it lives
  std::vector<uint8_t> windowPicture_;  // windowed primary: the client area's picture
  std::vector<uint32_t> shown_;     // forced with ssaa: the averaged picture, XRGB8888
  std::vector<uint8_t> lockView_;   // forced, while locked: the program's view (ModePitch rows)
  std::vector<uint8_t> lockBefore_; // ... and the view as it was handed out
  std::vector<uint16_t> padded_;    // texture copy for the fast rasterizer
  uint64_t paddedVersion_ = ~uint64_t{0};

  friend class DirectDraw;
};

class Clipper final : public IDirectDrawClipper {
 public:
  HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT SetHWnd(DWORD flags, HWND window) override;
  HRESULT GetHWnd(HWND* window) override;
  HWND Window() const { return window_; }

 private:
  ~Clipper() = default;
  ULONG refs_ = 1;
  HWND window_ = nullptr;
};

class DirectDraw final : public IDirectDraw7 {
 public:
  DirectDraw();

  HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) override;
  HRESULT CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface,
                        IUnknown* outer) override;
  HRESULT GetDisplayMode(LPDDSURFACEDESC2 desc) override;
  HRESULT RestoreDisplayMode() override;
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate,
                         DWORD flags) override;
  HRESULT RestoreAllSurfaces() override;

  bool Exclusive() const { return (coopFlags_ & DDSCL_EXCLUSIVE) != 0; }
  // The screen's current mode: the display mode when set, else the desktop's.
  void ScreenMode(int* width, int* height, int* bitsPerPixel) const;
  void Register(Surface* s) { surfaces_.push_back(s); }
  void Unregister(Surface* s);
  // The drawn size of a new surface of width x height with `caps`: forced for
  // the screen surfaces of an exclusive mode (standin/resolution.h).
  DrawnSize DrawnSizeFor(DWORD caps, int width, int height);
  // Devices with a drawing queue register here while they live.
  void AddPending(PendingDrawing* p) { pending_.push_back(p); }
  void RemovePending(PendingDrawing* p);
  // Finishes every registered device's queued drawing.
  void FinishDrawing() {
    for (PendingDrawing* p : pending_) p->FinishDrawing();
  }

 private:
  ~DirectDraw();
  ULONG refs_ = 1;
  DWORD coopFlags_ = 0;
  HWND window_ = nullptr;
  int modeWidth_ = 0, modeHeight_ = 0, modeBits_ = 0;  // 0: desktop mode
  DrawnSize forced_;  // the mode's screen surfaces, fixed when its primary surface is made
  // forced_ for a primary surface made now.
  DrawnSize DecideForced() const;
  std::vector<Surface*> surfaces_;  // every live surface made here
  std::vector<PendingDrawing*> pending_;
  IDirect3D7* direct3D_ = nullptr;  // its Direct3D 7 interface, made on first request
};

// The Direct3D 7 interface of `dd` (d3d/Direct3D.cpp): AddRef and Release
// count on `dd`; destroyed with it.
IDirect3D7* CreateDirect3D(DirectDraw* dd);
void DestroyDirect3D(IDirect3D7* d3d);

// Pixel formats the stand-in offers.
DDPIXELFORMAT RgbFormat(int bitsPerPixel);  // 16: RGB565, 32: XRGB8888
bool ToRasterFormat(const DDPIXELFORMAT& format, raster::ColorFormat* out);
bool ToDepthFormat(const DDPIXELFORMAT& format, raster::DepthFormat* out);
// The depth formats in the order EnumZBufferFormats lists them.
std::vector<DDPIXELFORMAT> DepthFormats();

// A description as RecordResult words it: flags, size, pitch, format, caps,
// back buffer count (never the memory address).
std::string DescribeForRecord(const DDSURFACEDESC2& desc);

// The desktop the windowed primary surface covers (the stand-in's virtual desktop).
constexpr int kDesktopWidth = 1920;
constexpr int kDesktopHeight = 1080;
constexpr int kDesktopBits = 16;

}  // namespace standin

#endif
