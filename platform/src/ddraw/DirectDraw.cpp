// DirectDraw 7: the DirectDraw object, clippers, and the entry points.
#include "ddraw/DirectDraw.h"

#include <d3d.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "standin/faults.h"
#include "standin/graphics.h"
#include "standin/host.h"

namespace standin {

namespace {

// Every live surface of the process, for the test hooks.
std::vector<Surface*>& AllSurfaces() {
  static std::vector<Surface*> surfaces;
  return surfaces;
}

constexpr int kMaxSurfaceSide = 8192;
constexpr DWORD kMaxBackBuffers = 8;

bool ValidDesc(const DDSURFACEDESC2* desc) {
  return desc != nullptr && desc->dwSize == sizeof(DDSURFACEDESC2);
}

}  // namespace

// ---- Pixel formats ----------------------------------------------------------

DDPIXELFORMAT RgbFormat(int bitsPerPixel) {
  DDPIXELFORMAT f{};
  f.dwSize = sizeof f;
  f.dwFlags = DDPF_RGB;
  if (bitsPerPixel == 32) {
    f.dwRGBBitCount = 32;
    f.dwRBitMask = 0x00FF0000;
    f.dwGBitMask = 0x0000FF00;
    f.dwBBitMask = 0x000000FF;
  } else {
    f.dwRGBBitCount = 16;
    f.dwRBitMask = 0xF800;
    f.dwGBitMask = 0x07E0;
    f.dwBBitMask = 0x001F;
  }
  return f;
}

bool ToRasterFormat(const DDPIXELFORMAT& f, raster::ColorFormat* out) {
  if ((f.dwFlags & (DDPF_RGB | DDPF_ZBUFFER | DDPF_ALPHAPIXELS | DDPF_FOURCC |
                    DDPF_PALETTEINDEXED8)) != DDPF_RGB) {
    return false;
  }
  if (f.dwRGBBitCount == 16 && f.dwRBitMask == 0xF800 && f.dwGBitMask == 0x07E0 &&
      f.dwBBitMask == 0x001F) {
    *out = raster::ColorFormat::RGB565;
    return true;
  }
  if (f.dwRGBBitCount == 32 && f.dwRBitMask == 0x00FF0000 && f.dwGBitMask == 0x0000FF00 &&
      f.dwBBitMask == 0x000000FF) {
    *out = raster::ColorFormat::XRGB8888;
    return true;
  }
  return false;
}

namespace {
DDPIXELFORMAT DepthFormat(DWORD bits, DWORD zMask, DWORD stencilBits, DWORD stencilMask) {
  DDPIXELFORMAT f{};
  f.dwSize = sizeof f;
  f.dwFlags = DDPF_ZBUFFER | (stencilBits != 0 ? DDPF_STENCILBUFFER : 0);
  f.dwZBufferBitDepth = bits;
  f.dwStencilBitDepth = stencilBits;
  f.dwZBitMask = zMask;
  f.dwStencilBitMask = stencilMask;
  return f;
}
}  // namespace

std::vector<DDPIXELFORMAT> DepthFormats() {
  // 16-bit formats first, a depth-and-stencil one leading, as drivers list them.
  return {DepthFormat(16, 0x7FFF, 1, 0x8000), DepthFormat(16, 0xFFFF, 0, 0),
          DepthFormat(32, 0x00FFFFFF, 0, 0), DepthFormat(32, 0x00FFFFFF, 8, 0xFF000000),
          DepthFormat(32, 0xFFFFFFFF, 0, 0)};
}

bool ToDepthFormat(const DDPIXELFORMAT& f, raster::DepthFormat* out) {
  if ((f.dwFlags & DDPF_ZBUFFER) == 0) return false;
  // Every draw call asks: the list is built once.
  static const std::vector<DDPIXELFORMAT> formats = DepthFormats();
  for (const DDPIXELFORMAT& known : formats) {
    if (known.dwZBufferBitDepth == f.dwZBufferBitDepth && known.dwZBitMask == f.dwZBitMask &&
        (known.dwFlags & DDPF_STENCILBUFFER) == (f.dwFlags & DDPF_STENCILBUFFER) &&
        ((f.dwFlags & DDPF_STENCILBUFFER) == 0 || known.dwStencilBitMask == f.dwStencilBitMask)) {
      out->bytes = static_cast<int>(f.dwZBufferBitDepth / 8);
      out->mask = f.dwZBitMask;
      out->shift = __builtin_ctz(f.dwZBitMask);
      return true;
    }
  }
  return false;
}

std::string DescribeForRecord(const DDSURFACEDESC2& d) {
  char text[200];
  std::snprintf(text, sizeof text, "flags %08x size %ux%u pitch %d format %08x/%u/%08x/%08x/%08x caps %08x/%08x backbuffers %u",
                unsigned(d.dwFlags), unsigned(d.dwWidth), unsigned(d.dwHeight), int(d.lPitch),
                unsigned(d.ddpfPixelFormat.dwFlags), unsigned(d.ddpfPixelFormat.dwRGBBitCount),
                unsigned(d.ddpfPixelFormat.dwRBitMask), unsigned(d.ddpfPixelFormat.dwGBitMask),
                unsigned(d.ddpfPixelFormat.dwBBitMask), unsigned(d.ddsCaps.dwCaps), unsigned(d.ddsCaps.dwCaps2),
                unsigned(d.dwBackBufferCount));
  return text;
}

// ---- Clipper -----------------------------------------------------------------

HRESULT Clipper::QueryInterface(REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IDirectDrawClipper) {
    AddRef();
    *object = static_cast<IDirectDrawClipper*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG Clipper::AddRef() { return ++refs_; }

ULONG Clipper::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT Clipper::SetHWnd(DWORD flags, HWND window) {
  STANDIN_FAULT("IDirectDrawClipper::SetHWnd");
  if (flags != 0) return DDERR_INVALIDPARAMS;
  window_ = window;
  return DD_OK;
}

HRESULT Clipper::GetHWnd(HWND* window) {
  if (window == nullptr) return DDERR_INVALIDPARAMS;
  *window = window_;
  return DD_OK;
}

// ---- DirectDraw --------------------------------------------------------------

DirectDraw::DirectDraw() = default;

DirectDraw::~DirectDraw() {
  FinishDrawing();
  // Surfaces still referenced outlive the object; they keep working as memory.
  for (Surface* s : surfaces_) s->Orphan();
  if (direct3D_ != nullptr) DestroyDirect3D(direct3D_);
}

void DirectDraw::Unregister(Surface* s) {
  surfaces_.erase(std::remove(surfaces_.begin(), surfaces_.end(), s), surfaces_.end());
}

void DirectDraw::RemovePending(PendingDrawing* p) {
  pending_.erase(std::remove(pending_.begin(), pending_.end(), p), pending_.end());
}


HRESULT DirectDraw::QueryInterface(REFIID riid, LPVOID* object) {
  STANDIN_FAULT("IDirectDraw7::QueryInterface");
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IDirectDraw7) {
    AddRef();
    *object = static_cast<IDirectDraw7*>(this);
    return S_OK;
  }
  if (riid == IID_IDirect3D7) {
    if (direct3D_ == nullptr) direct3D_ = CreateDirect3D(this);
    AddRef();
    *object = direct3D_;
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG DirectDraw::AddRef() { return ++refs_; }

ULONG DirectDraw::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

void DirectDraw::ScreenMode(int* width, int* height, int* bits) const {
  if (modeWidth_ != 0) {
    *width = modeWidth_;
    *height = modeHeight_;
    *bits = modeBits_;
  } else {
    *width = kDesktopWidth;
    *height = kDesktopHeight;
    *bits = kDesktopBits;
  }
}

DrawnSize DirectDraw::DecideForced() const {
  const RenderSize asked = CurrentRenderSize();
  int w = modeWidth_, h = modeHeight_;
  int shownW = 0, shownH = 0;
  if (asked.native && CurrentHost().ShownSize(modeWidth_, modeHeight_, &shownW, &shownH)) {
    w = shownW;
    h = shownH;
  } else if (!asked.native && asked.width > 0 && asked.height > 0) {
    w = asked.width;
    h = asked.height;
  }
  if (w < 1 || h < 1 || w > kMaxDrawnSide || h > kMaxDrawnSide) w = modeWidth_, h = modeHeight_;
  // The box filter reads RGB565: a 32-bit mode is drawn without supersampling.
  int ssaa = modeBits_ == 16 ? asked.ssaa : 1;
  while (ssaa > 1 && (w * ssaa > kMaxDrawnSide || h * ssaa > kMaxDrawnSide)) --ssaa;
  if (ssaa < asked.ssaa && modeBits_ == 16) {
    std::fprintf(stderr, "render: %d x %d with supersampling %d exceeds %d pixels a side; using %d\n", w, h,
                 asked.ssaa, kMaxDrawnSide, ssaa);
  }
  DrawnSize d;
  d.x = AxisScale{modeWidth_, w * ssaa};
  d.y = AxisScale{modeHeight_, h * ssaa};
  d.ssaa = ssaa;
  return d;
}

DrawnSize DirectDraw::DrawnSizeFor(DWORD caps, int width, int height) {
  DrawnSize own;
  own.x = AxisScale{width, width};
  own.y = AxisScale{height, height};
  // Only an exclusive mode's screen is forced; a windowed program draws at its own size.
  if (!Exclusive() || modeWidth_ == 0 || width != modeWidth_ || height != modeHeight_) return own;
  if (caps & DDSCAPS_PRIMARYSURFACE) {
    forced_ = DecideForced();
    return forced_;
  }
  const bool screenLike = (caps & (DDSCAPS_ZBUFFER | DDSCAPS_3DDEVICE)) != 0 && !(caps & DDSCAPS_TEXTURE);
  const bool forcedMode = forced_.x.mode == width && forced_.y.mode == height;
  return screenLike && forcedMode ? forced_ : own;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
  STANDIN_FAULT("IDirectDraw7::SetCooperativeLevel");
  const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
  const bool fullscreen = (flags & DDSCL_FULLSCREEN) != 0;
  const bool normal = (flags & DDSCL_NORMAL) != 0;
  // Exactly one of normal or exclusive-fullscreen; exclusive needs a window.
  if (exclusive != fullscreen || normal == exclusive) return DDERR_INVALIDPARAMS;
  if (exclusive && window == nullptr) return DDERR_INVALIDPARAMS;
  coopFlags_ = flags;
  window_ = window;
  return DD_OK;
}

HRESULT DirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bits, DWORD refreshRate,
                                   DWORD flags) {
  STANDIN_FAULT("IDirectDraw7::SetDisplayMode");
  FinishDrawing();
  (void)refreshRate;
  if (flags != 0) return DDERR_INVALIDPARAMS;
  if (coopFlags_ == 0) return DDERR_NOCOOPERATIVELEVELSET;
  if ((bits != 16 && bits != 32) || width < 320 || height < 200 || width > kMaxSurfaceSide ||
      height > kMaxSurfaceSide) {
    return DDERR_INVALIDMODE;
  }
  modeWidth_ = static_cast<int>(width);
  modeHeight_ = static_cast<int>(height);
  modeBits_ = static_cast<int>(bits);
  forced_ = DrawnSize();
  CurrentHost().SetDisplayMode(modeWidth_, modeHeight_, modeBits_);
  return DD_OK;
}

HRESULT DirectDraw::RestoreDisplayMode() {
  STANDIN_FAULT("IDirectDraw7::RestoreDisplayMode");
  if (modeWidth_ != 0) {
    modeWidth_ = modeHeight_ = modeBits_ = 0;
    forced_ = DrawnSize();
    CurrentHost().SetDisplayMode(0, 0, 0);
  }
  return DD_OK;
}

HRESULT DirectDraw::GetDisplayMode(LPDDSURFACEDESC2 desc) {
  if (!ValidDesc(desc)) return DDERR_INVALIDPARAMS;
  int w, h, bits;
  ScreenMode(&w, &h, &bits);
  std::memset(desc, 0, sizeof *desc);
  desc->dwSize = sizeof *desc;
  desc->dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
  desc->dwWidth = static_cast<DWORD>(w);
  desc->dwHeight = static_cast<DWORD>(h);
  desc->lPitch = w * bits / 8;
  desc->dwRefreshRate = 60;
  desc->ddpfPixelFormat = RgbFormat(bits);
  if (RecordingCalls()) RecordResult("IDirectDraw7::GetDisplayMode", DescribeForRecord(*desc));
  return DD_OK;
}

HRESULT DirectDraw::RestoreAllSurfaces() {
  STANDIN_FAULT("IDirectDraw7::RestoreAllSurfaces");
  FinishDrawing();
  for (Surface* s : surfaces_) s->SetLost(false);
  return DD_OK;
}

HRESULT DirectDraw::CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) {
  STANDIN_FAULT("IDirectDraw7::CreateClipper");
  if (clipper == nullptr || flags != 0 || outer != nullptr) return DDERR_INVALIDPARAMS;
  *clipper = new Clipper();
  return DD_OK;
}

HRESULT DirectDraw::CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* out,
                                  IUnknown* outer) {
  STANDIN_FAULT("IDirectDraw7::CreateSurface");
  if (!ValidDesc(desc) || out == nullptr || outer != nullptr) return DDERR_INVALIDPARAMS;
  if ((desc->dwFlags & DDSD_CAPS) == 0) return DDERR_INVALIDPARAMS;
  const DWORD caps = desc->ddsCaps.dwCaps;
  if (coopFlags_ == 0) return DDERR_NOCOOPERATIVELEVELSET;

  int width, height, bits;
  ScreenMode(&width, &height, &bits);
  DDPIXELFORMAT format = RgbFormat(bits);
  DWORD backBuffers = 0;

  if (caps & DDSCAPS_PRIMARYSURFACE) {
    // The primary surface is the screen: its size and format are the mode's.
    if (desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
    if (desc->dwFlags & DDSD_BACKBUFFERCOUNT) backBuffers = desc->dwBackBufferCount;
    if (backBuffers > 0) {
      if ((caps & (DDSCAPS_FLIP | DDSCAPS_COMPLEX)) != (DDSCAPS_FLIP | DDSCAPS_COMPLEX)) {
        return DDERR_INVALIDCAPS;
      }
      if (!Exclusive()) return DDERR_NOEXCLUSIVEMODE;
      if (backBuffers > kMaxBackBuffers) return DDERR_INVALIDPARAMS;
    }
  } else {
    if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT)) {
      return DDERR_INVALIDPARAMS;
    }
    if (desc->dwFlags & DDSD_BACKBUFFERCOUNT) return DDERR_INVALIDPARAMS;
    width = static_cast<int>(std::min<DWORD>(desc->dwWidth, kMaxSurfaceSide + 1));
    height = static_cast<int>(std::min<DWORD>(desc->dwHeight, kMaxSurfaceSide + 1));
    const int maxSide = (caps & DDSCAPS_TEXTURE) ? raster::kMaxTextureSize : kMaxSurfaceSide;
    if (width < 1 || height < 1 || width > maxSide || height > maxSide) return DDERR_INVALIDPARAMS;
    if (caps & DDSCAPS_ZBUFFER) {
      raster::DepthFormat df;
      if (!(desc->dwFlags & DDSD_PIXELFORMAT)) return DDERR_INVALIDPIXELFORMAT;
      if (!ToDepthFormat(desc->ddpfPixelFormat, &df)) return DDERR_INVALIDPIXELFORMAT;
      format = desc->ddpfPixelFormat;
    } else if (desc->dwFlags & DDSD_PIXELFORMAT) {
      raster::ColorFormat cf;
      if (!ToRasterFormat(desc->ddpfPixelFormat, &cf)) return DDERR_INVALIDPIXELFORMAT;
      format = RgbFormat(cf == raster::ColorFormat::RGB565 ? 16 : 32);
    }
  }

  const DrawnSize drawn = DrawnSizeFor(caps, width, height);
  Surface* s = new Surface(this, *desc, width, height, format, &drawn);
  if (backBuffers > 0) s->BuildFlipChain(static_cast<int>(backBuffers), *desc);
  *out = s;
  return DD_OK;
}

// ---- Entry points -----------------------------------------------------------

extern "C" HRESULT WINAPI DirectDrawEnumerateExA(LPDDENUMCALLBACKEXA callback, LPVOID context,
                                                 DWORD flags) {
  STANDIN_FAULT("DirectDrawEnumerateExA");
  if (callback == nullptr) return DDERR_INVALIDPARAMS;
  (void)flags;  // no secondary or non-display devices exist here
  char description[] = "Primary Display Driver";
  char name[] = "display";
  callback(nullptr, description, name, context, nullptr);
  return DD_OK;
}

extern "C" HRESULT WINAPI DirectDrawCreateEx(GUID* guid, LPVOID* directDraw, REFIID iid,
                                             IUnknown* outer) {
  STANDIN_FAULT("DirectDrawCreateEx");
  if (directDraw == nullptr) return DDERR_INVALIDPARAMS;
  if (outer != nullptr) return DDERR_INVALIDPARAMS;
  if (iid != IID_IDirectDraw7) return DDERR_INVALIDPARAMS;
  // Only the active display driver (null GUID) exists.
  if (guid != nullptr) return DDERR_INVALIDPARAMS;
  *directDraw = static_cast<IDirectDraw7*>(new DirectDraw());
  return DD_OK;
}

// ---- Test hooks ---------------------------------------------------------------

void RegisterSurface(Surface* s) { AllSurfaces().push_back(s); }

void UnregisterSurface(Surface* s) {
  auto& all = AllSurfaces();
  all.erase(std::remove(all.begin(), all.end(), s), all.end());
}

void LoseAllSurfaces() {
  for (Surface* s : AllSurfaces()) s->SetLost(true);
}

int LiveSurfaceCount() { return static_cast<int>(AllSurfaces().size()); }

}  // namespace standin
