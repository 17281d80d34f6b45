// DirectDraw 7 surfaces: system memory in the surface's own pixel format.
#include <algorithm>
#include <cstring>
#include <string>

#include "ddraw/DirectDraw.h"
#include "gdi/Gdi.h"
#include "standin/faults.h"
#include "standin/host.h"
#include "standin/rgb565.h"

namespace standin {

void RegisterSurface(Surface* s);    // DirectDraw.cpp
void UnregisterSurface(Surface* s);  // DirectDraw.cpp

namespace {

int BytesPerPixel(const DDPIXELFORMAT& f) {
  const DWORD bits = (f.dwFlags & DDPF_ZBUFFER) ? f.dwZBufferBitDepth : f.dwRGBBitCount;
  return bits == 32 ? 4 : 2;
}

// Spare bytes after the last row: the fast rasterizer's 16-byte accesses and
// 32-bit texel gathers may touch up to this much past a row's last pixel.
constexpr size_t kSpareBytes = 16;

bool Intersect(const RECT& a, const RECT& b, RECT* out) {
  out->left = std::max(a.left, b.left);
  out->top = std::max(a.top, b.top);
  out->right = std::min(a.right, b.right);
  out->bottom = std::min(a.bottom, b.bottom);
  return out->left < out->right && out->top < out->bottom;
}

bool Inside(const RECT& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height && r.left < r.right &&
         r.top < r.bottom;
}

uint32_t ReadPixel(const uint8_t* p, int bpp) {
  if (bpp == 2) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void WritePixel(uint8_t* p, int bpp, uint32_t v) {
  if (bpp == 2) {
    const uint16_t v16 = static_cast<uint16_t>(v);
    std::memcpy(p, &v16, 2);
  } else {
    std::memcpy(p, &v, 4);
  }
}

// A pixel from one RGB format to another: 565 to 8888 expands each channel
// by bit replication, 8888 to 565 truncates.
uint32_t ConvertPixel(uint32_t v, int fromBpp, int toBpp) {
  if (fromBpp == toBpp) return v;
  if (fromBpp == 2) {
    uint8_t rgb[3];
    standin::Rgb565ToRgb8(static_cast<uint16_t>(v), rgb);
    return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
  }
  return raster::ToRgb565(v);
}

}  // namespace

Surface::Surface(DirectDraw* owner, const DDSURFACEDESC2& desc, int width, int height,
                 const DDPIXELFORMAT& format, const DrawnSize* drawn)
    : owner_(owner), width_(width), height_(height), caps_(desc.ddsCaps), format_(format),
      memory_(new SurfaceMemory) {
  if (drawn != nullptr) {
    drawn_ = *drawn;
  } else {
    drawn_.x = AxisScale{width, width};
    drawn_.y = AxisScale{height, height};
  }
  if (!(caps_.dwCaps & DDSCAPS_VIDEOMEMORY)) caps_.dwCaps |= DDSCAPS_SYSTEMMEMORY;
  if (caps_.dwCaps & DDSCAPS_VIDEOMEMORY) caps_.dwCaps |= DDSCAPS_LOCALVIDMEM;
  if (caps_.dwCaps & DDSCAPS_PRIMARYSURFACE) caps_.dwCaps |= DDSCAPS_VISIBLE;
  const int bpp = BytesPerPixel(format_);
  memory_->pitch = (drawn_.x.drawn * bpp + 7) & ~7;
  memory_->bytes.assign(static_cast<size_t>(memory_->pitch) * drawn_.y.drawn + kSpareBytes, 0);
  if (owner_ != nullptr) owner_->Register(this);
  RegisterSurface(this);
}

Surface::~Surface() {
  if (dc_ != nullptr) DestroyDC(dc_);
  for (Surface* s : attached_) s->Release();
  for (Surface* s : chain_) {
    s->front_ = nullptr;
    s->Release();
  }
  if (front_ != nullptr) {
    auto& c = front_->chain_;
    c.erase(std::remove(c.begin(), c.end(), this), c.end());
  }
  if (clipper_ != nullptr) clipper_->Release();
  if (owner_ != nullptr) owner_->Unregister(this);
  UnregisterSurface(this);
}

void Surface::BuildFlipChain(int backBuffers, const DDSURFACEDESC2& desc) {
  caps_.dwCaps |= DDSCAPS_FRONTBUFFER;
  for (int i = 0; i < backBuffers; ++i) {
    DDSURFACEDESC2 d = desc;
    d.ddsCaps.dwCaps &= ~(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_VISIBLE);
    if (i == 0) d.ddsCaps.dwCaps |= DDSCAPS_BACKBUFFER;
    Surface* back = new Surface(owner_, d, width_, height_, format_, &drawn_);
    back->front_ = this;
    chain_.push_back(back);  // the chain's reference
  }
}

HRESULT Surface::QueryInterface(REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IDirectDrawSurface7) {
    AddRef();
    *object = static_cast<IDirectDrawSurface7*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG Surface::AddRef() { return ++refs_; }

void Surface::FinishDrawing() const {
  if (owner_ != nullptr) owner_->FinishDrawing();
}

ULONG Surface::Release() {
  const ULONG left = --refs_;
  if (left == 0) FinishDrawing();  // queued drawing may still read or write this memory
  if (left == 0) delete this;
  return left;
}

void Surface::SetLost(bool lost) {
  FinishDrawing();
  lost_ = lost;
  if (!lost) Touch();
}

Surface* Surface::AttachedZBuffer() const {
  for (Surface* s : attached_) {
    if (s->IsZBuffer()) return s;
  }
  return nullptr;
}

std::vector<Surface*> Surface::Attachments() const {
  std::vector<Surface*> list;
  if (!chain_.empty()) list.push_back(chain_.front());
  if (front_ != nullptr) {
    // The next buffer of the chain; the last back buffer leads back to the front.
    const auto& c = front_->chain_;
    const auto it = std::find(c.begin(), c.end(), this);
    if (it != c.end()) list.push_back(it + 1 != c.end() ? *(it + 1) : front_);
  }
  list.insert(list.end(), attached_.begin(), attached_.end());
  return list;
}

HRESULT Surface::AddAttachedSurface(LPDIRECTDRAWSURFACE7 surface) {
  STANDIN_FAULT("IDirectDrawSurface7::AddAttachedSurface");
  FinishDrawing();
  auto* s = static_cast<Surface*>(surface);
  if (s == nullptr) return DDERR_INVALIDPARAMS;
  if (std::find(attached_.begin(), attached_.end(), s) != attached_.end()) {
    return DDERR_SURFACEALREADYATTACHED;
  }
  // Only a z-buffer attaches, one per surface, at least as large as the surface.
  if (s == this || !s->IsZBuffer() || IsZBuffer() || AttachedZBuffer() != nullptr ||
      s->width_ < width_ || s->height_ < height_ || s->drawn_.x.drawn < drawn_.x.drawn ||
      s->drawn_.y.drawn < drawn_.y.drawn) {
    return DDERR_CANNOTATTACHSURFACE;
  }
  s->AddRef();
  attached_.push_back(s);
  return DD_OK;
}

HRESULT Surface::DeleteAttachedSurface(DWORD flags, LPDIRECTDRAWSURFACE7 surface) {
  STANDIN_FAULT("IDirectDrawSurface7::DeleteAttachedSurface");
  FinishDrawing();
  if (flags != 0) return DDERR_INVALIDPARAMS;
  auto* s = static_cast<Surface*>(surface);
  if (s == nullptr) {
    std::vector<Surface*> all;
    all.swap(attached_);
    for (Surface* a : all) a->Release();
    return DD_OK;
  }
  const auto it = std::find(attached_.begin(), attached_.end(), s);
  if (it == attached_.end()) {
    if (std::find(chain_.begin(), chain_.end(), s) != chain_.end()) return DDERR_CANNOTDETACHSURFACE;
    return DDERR_SURFACENOTATTACHED;
  }
  attached_.erase(it);
  s->Release();
  return DD_OK;
}

HRESULT Surface::GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) {
  STANDIN_FAULT("IDirectDrawSurface7::GetAttachedSurface");
  if (caps == nullptr || surface == nullptr) return DDERR_INVALIDPARAMS;
  for (Surface* s : Attachments()) {
    if ((s->caps_.dwCaps & caps->dwCaps) == caps->dwCaps &&
        (s->caps_.dwCaps2 & caps->dwCaps2) == caps->dwCaps2) {
      s->AddRef();
      *surface = s;
      return DD_OK;
    }
  }
  return DDERR_NOTFOUND;
}

HRESULT Surface::GetCaps(LPDDSCAPS2 caps) {
  if (caps == nullptr) return DDERR_INVALIDPARAMS;
  *caps = caps_;
  return DD_OK;
}

bool Surface::ClipperRect(RECT* rect) const {
  if (clipper_ == nullptr || clipper_->Window() == nullptr) return false;
  RECT client;
  if (!GetClientRect(clipper_->Window(), &client)) return false;
  POINT tl{client.left, client.top}, br{client.right, client.bottom};
  if (!ClientToScreen(clipper_->Window(), &tl) || !ClientToScreen(clipper_->Window(), &br)) {
    return false;
  }
  *rect = RECT{tl.x, tl.y, br.x, br.y};
  return true;
}

bool Surface::WindowArea(RECT* client) const {
  return IsPrimary() && !IsFront() && ClipperRect(client);
}

void Surface::Present(bool waitForVerticalBlank) {
  Picture picture;
  const int bpp = BytesPerPixel(format_);
  picture.format = bpp == 2 ? PixelFormat::RGB565 : PixelFormat::XRGB8888;
  RECT client;
  if (WindowArea(&client)) {
    // A windowed primary: what shows is the window's client area.
    picture.width = std::max<LONG>(client.right - client.left, 0);
    picture.height = std::max<LONG>(client.bottom - client.top, 0);
    windowPicture_.resize(static_cast<size_t>(picture.width) * picture.height * bpp);
    picture.pitch = picture.width * bpp;
    picture.pixels = windowPicture_.data();
    CurrentHost().Present(clipper_->Window(), picture, waitForVerticalBlank);
    return;
  }
  picture.width = drawn_.x.drawn;
  picture.height = drawn_.y.drawn;
  picture.pitch = Pitch();
  picture.pixels = Pixels();
  if (drawn_.ssaa > 1) {
    // Supersampled: the shown picture is each ssaa x ssaa block's mean.
    picture.width /= drawn_.ssaa;
    picture.height /= drawn_.ssaa;
    shown_.resize(static_cast<size_t>(picture.width) * picture.height);
    BoxFilter565(reinterpret_cast<const uint16_t*>(Pixels()), drawn_.x.drawn, drawn_.y.drawn, Pitch(),
                 drawn_.ssaa, shown_.data(), picture.width);
    picture.format = PixelFormat::XRGB8888;
    picture.pitch = picture.width * 4;
    picture.pixels = shown_.data();
  }
  CurrentHost().Present(nullptr, picture, waitForVerticalBlank);
}

HRESULT Surface::Blt(LPRECT destRect, LPDIRECTDRAWSURFACE7 source, LPRECT sourceRect, DWORD flags,
                     LPDDBLTFX fx) {
  STANDIN_FAULT("IDirectDrawSurface7::Blt");
  auto* src = static_cast<Surface*>(source);
  FinishDrawing();
  if (src != nullptr) src->FinishDrawing();
  if (flags & (DDBLT_KEYSRC | DDBLT_KEYDEST | DDBLT_ROP | DDBLT_DDFX)) return DDERR_UNSUPPORTED;
  if (lost_ || (src != nullptr && src->lost_)) return DDERR_SURFACELOST;
  if (Busy() || (src != nullptr && src->Busy())) return DDERR_SURFACEBUSY;
  const bool fill = (flags & (DDBLT_COLORFILL | DDBLT_DEPTHFILL)) != 0;
  if (fill && (fx == nullptr || fx->dwSize != sizeof(DDBLTFX))) return DDERR_INVALIDPARAMS;
  if ((flags & DDBLT_DEPTHFILL) && !IsZBuffer()) return DDERR_INVALIDPARAMS;
  if (!fill && src == nullptr) return DDERR_INVALIDPARAMS;

  const RECT full{0, 0, width_, height_};
  const RECT dest = destRect != nullptr ? *destRect : full;
  if (dest.left >= dest.right || dest.top >= dest.bottom) return DDERR_INVALIDRECT;
  RECT clip = full;
  RECT client;
  const bool clipped = ClipperRect(&client);
  if (clipped) {
    // Through a clipper the blit is cut to the window's client area.
    clip = client;
  } else if (!Inside(dest, width_, height_)) {
    return DDERR_INVALIDRECT;
  }
  RECT area;
  const bool any = Intersect(dest, clip, &area);
  const int bpp = BytesPerPixel(format_);
  // From here on in drawn pixels (the same unless the surface is forced).
  const RECT destDrawn = ToDrawn(dest), areaDrawn = ToDrawn(area);
  const int drawnWidth = drawn_.x.drawn, drawnHeight = drawn_.y.drawn;

  // A windowed primary also keeps the picture of the window's client area, so
  // the part of a window beyond the stand-in's desktop still shows.
  const bool windowed = clipped && WindowArea(&client);
  const int pictureWidth = windowed ? std::max<LONG>(client.right - client.left, 0) : 0;
  if (windowed) {
    const size_t bytes = static_cast<size_t>(pictureWidth) *
                         std::max<LONG>(client.bottom - client.top, 0) * bpp;
    if (windowPicture_.size() != bytes) windowPicture_.assign(bytes, 0);
  }
  auto put = [&](LONG x, LONG y, uint32_t value) {
    if (x >= 0 && y >= 0 && x < drawnWidth && y < drawnHeight) {
      WritePixel(Pixels() + static_cast<ptrdiff_t>(y) * Pitch() + x * bpp, bpp, value);
    }
    if (windowed) {
      const size_t at = (static_cast<size_t>(y - client.top) * pictureWidth + (x - client.left)) * bpp;
      WritePixel(windowPicture_.data() + at, bpp, value);
    }
  };

  if (fill) {
    const uint32_t value = bpp == 2 ? (fx->dwFillColor & 0xFFFF) : fx->dwFillColor;
    for (LONG y = areaDrawn.top; any && y < areaDrawn.bottom; ++y) {
      for (LONG x = areaDrawn.left; x < areaDrawn.right; ++x) put(x, y, value);
    }
  } else {
    const RECT srcFull{0, 0, src->width_, src->height_};
    const RECT fromMode = sourceRect != nullptr ? *sourceRect : srcFull;
    if (!Inside(fromMode, src->width_, src->height_)) return DDERR_INVALIDRECT;
    const RECT from = src->ToDrawn(fromMode);
    const int sbpp = BytesPerPixel(src->format_);
    // Colour converts between RGB formats; depth copies only between equal formats.
    if (src->IsZBuffer() != IsZBuffer() || (IsZBuffer() && sbpp != bpp)) return DDERR_INVALIDPIXELFORMAT;
    // A blit within one surface reads from a copy, so overlapping rectangles stay intact.
    std::vector<uint8_t> copy;
    const uint8_t* sp = src->Pixels();
    if (src == this) {
      copy = memory_->bytes;
      sp = copy.data();
    }
    const int64_t sw = from.right - from.left, sh = from.bottom - from.top;
    const int64_t dw = destDrawn.right - destDrawn.left, dh = destDrawn.bottom - destDrawn.top;
    for (LONG y = areaDrawn.top; any && dw > 0 && dh > 0 && y < areaDrawn.bottom; ++y) {
      // Nearest source pixel: source row from.top + floor((y - dest.top) * sh / dh).
      const int64_t sy = from.top + (y - destDrawn.top) * sh / dh;
      const uint8_t* srow = sp + sy * src->Pitch();
      for (LONG x = areaDrawn.left; x < areaDrawn.right; ++x) {
        const int64_t sx = from.left + (x - destDrawn.left) * sw / dw;
        put(x, y, ConvertPixel(ReadPixel(srow + sx * sbpp, sbpp), sbpp, bpp));
      }
    }
  }
  Touch();
  if (IsPrimary()) Present(false);
  return DD_OK;
}

HRESULT Surface::Flip(LPDIRECTDRAWSURFACE7 target, DWORD flags) {
  STANDIN_FAULT("IDirectDrawSurface7::Flip");
  FinishDrawing();
  if (!IsFront()) return DDERR_NOTFLIPPABLE;
  if (target != nullptr && target != chain_.front()) return DDERR_INVALIDPARAMS;
  if (lost_) return DDERR_SURFACELOST;
  if (Busy()) return DDERR_SURFACEBUSY;
  for (Surface* s : chain_) {
    if (s->lost_) return DDERR_SURFACELOST;
    if (s->Busy()) return DDERR_SURFACEBUSY;
  }
  // Memory rotates towards the front: front <- back 1 <- back 2 <- ... <- old front.
  std::unique_ptr<SurfaceMemory> oldFront = std::move(memory_);
  memory_ = std::move(chain_.front()->memory_);
  for (size_t i = 0; i + 1 < chain_.size(); ++i) chain_[i]->memory_ = std::move(chain_[i + 1]->memory_);
  chain_.back()->memory_ = std::move(oldFront);
  Touch();
  for (Surface* s : chain_) s->Touch();
  Present((flags & DDFLIP_NOVSYNC) == 0);
  return DD_OK;
}

HRESULT Surface::GetClipper(LPDIRECTDRAWCLIPPER* clipper) {
  if (clipper == nullptr) return DDERR_INVALIDPARAMS;
  if (clipper_ == nullptr) return DDERR_NOCLIPPERATTACHED;
  clipper_->AddRef();
  *clipper = clipper_;
  return DD_OK;
}

HRESULT Surface::SetClipper(LPDIRECTDRAWCLIPPER clipper) {
  STANDIN_FAULT("IDirectDrawSurface7::SetClipper");
  auto* c = static_cast<Clipper*>(clipper);
  if (c != nullptr) c->AddRef();
  if (clipper_ != nullptr) clipper_->Release();
  clipper_ = c;
  return DD_OK;
}

HRESULT Surface::GetDC(HDC* dc) {
  STANDIN_FAULT("IDirectDrawSurface7::GetDC");
  FinishDrawing();
  if (dc == nullptr) return DDERR_INVALIDPARAMS;
  if (lost_) return DDERR_SURFACELOST;
  if (dc_ != nullptr) return DDERR_DCALREADYCREATED;
  if (locked_) return DDERR_SURFACEBUSY;
  if (IsZBuffer()) return DDERR_CANTCREATEDC;
  dc_ = CreateDC(ColorTarget(), drawn_.x, drawn_.y,
                 [](void* owner) { static_cast<Surface*>(owner)->Touch(); }, this);
  *dc = dc_;
  return DD_OK;
}

HRESULT Surface::ReleaseDC(HDC dc) {
  STANDIN_FAULT("IDirectDrawSurface7::ReleaseDC");
  if (dc_ == nullptr) return DDERR_NODC;
  if (dc != dc_) return DDERR_INVALIDPARAMS;
  DestroyDC(dc);
  dc_ = nullptr;
  Touch();
  return DD_OK;
}

HRESULT Surface::GetPixelFormat(LPDDPIXELFORMAT format) {
  STANDIN_FAULT("IDirectDrawSurface7::GetPixelFormat");
  if (format == nullptr || format->dwSize != sizeof(DDPIXELFORMAT)) return DDERR_INVALIDPARAMS;
  *format = format_;
  return DD_OK;
}

HRESULT Surface::GetSurfaceDesc(LPDDSURFACEDESC2 desc) {
  STANDIN_FAULT("IDirectDrawSurface7::GetSurfaceDesc");
  if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
  Describe(desc);
  if (RecordingCalls()) RecordResult("IDirectDrawSurface7::GetSurfaceDesc", DescribeForRecord(*desc));
  return DD_OK;
}

void Surface::Describe(DDSURFACEDESC2* desc) const {
  std::memset(desc, 0, sizeof *desc);
  desc->dwSize = sizeof *desc;
  desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
  desc->dwWidth = static_cast<DWORD>(width_);
  desc->dwHeight = static_cast<DWORD>(height_);
  desc->lPitch = ModePitch();
  desc->ddpfPixelFormat = format_;
  desc->ddsCaps = caps_;
  if (IsFront()) {
    desc->dwFlags |= DDSD_BACKBUFFERCOUNT;
    desc->dwBackBufferCount = static_cast<DWORD>(chain_.size());
  }
}

HRESULT Surface::IsLost() {
  STANDIN_FAULT("IDirectDrawSurface7::IsLost");
  return lost_ ? DDERR_SURFACELOST : DD_OK;
}

HRESULT Surface::Restore() {
  STANDIN_FAULT("IDirectDrawSurface7::Restore");
  FinishDrawing();
  SetLost(false);
  for (Surface* s : chain_) s->SetLost(false);
  return DD_OK;
}

HRESULT Surface::Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) {
  STANDIN_FAULT("IDirectDrawSurface7::Lock");
  FinishDrawing();  // the caller reads or writes the pixels next
  (void)flags;  // memory is always ready: waiting changes nothing
  if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2) || event != nullptr) {
    return DDERR_INVALIDPARAMS;
  }
  if (lost_) return DDERR_SURFACELOST;
  if (locked_ || dc_ != nullptr) return DDERR_SURFACEBUSY;
  const RECT full{0, 0, width_, height_};
  const RECT r = rect != nullptr ? *rect : full;
  if (!Inside(r, width_, height_)) return DDERR_INVALIDPARAMS;
  Describe(desc);
  desc->dwFlags |= DDSD_LPSURFACE;
  const int bpp = BytesPerPixel(format_);
  uint8_t* view = Pixels();
  if (drawn_.Forced()) {
    // The program's view: the drawn sample nearest each of its pixel centres.
    lockView_.assign(static_cast<size_t>(ModePitch()) * height_, 0);
    for (int y = 0; y < height_; ++y) {
      const uint8_t* row = Pixels() + static_cast<ptrdiff_t>(drawn_.y.Nearest(y)) * Pitch();
      uint8_t* out = lockView_.data() + static_cast<ptrdiff_t>(y) * ModePitch();
      for (int x = 0; x < width_; ++x) std::memcpy(out + x * bpp, row + drawn_.x.Nearest(x) * bpp, bpp);
    }
    lockBefore_ = lockView_;
    view = lockView_.data();
  }
  desc->lpSurface = view + static_cast<ptrdiff_t>(r.top) * desc->lPitch + r.left * bpp;
  locked_ = true;
  if (RecordingCalls()) {
    RecordResult("IDirectDrawSurface7::Lock", DescribeForRecord(*desc) + " rect " + std::to_string(r.left) + "," +
                                                  std::to_string(r.top) + "," + std::to_string(r.right) + "," +
                                                  std::to_string(r.bottom));
  }
  return DD_OK;
}

RECT Surface::ToDrawn(const RECT& r) const {
  if (!drawn_.Forced()) return r;
  return RECT{drawn_.x.Edge(r.left), drawn_.y.Edge(r.top), drawn_.x.Edge(r.right), drawn_.y.Edge(r.bottom)};
}

int Surface::ModePitch() const { return (width_ * BytesPerPixel(format_) + 7) & ~7; }

void Surface::WriteBackLockView() {
  const int bpp = BytesPerPixel(format_);
  for (int y = 0; y < height_; ++y) {
    const size_t at = static_cast<size_t>(y) * ModePitch();
    if (std::memcmp(lockView_.data() + at, lockBefore_.data() + at, static_cast<size_t>(width_) * bpp) == 0) {
      continue;
    }
    for (int x = 0; x < width_; ++x) {
      const uint8_t* now = lockView_.data() + at + x * bpp;
      if (std::memcmp(now, lockBefore_.data() + at + x * bpp, bpp) == 0) continue;
      // A changed pixel fills every drawn pixel it covers.
      const uint32_t value = ReadPixel(now, bpp);
      for (int dy = drawn_.y.Edge(y); dy < drawn_.y.Edge(y + 1); ++dy) {
        uint8_t* row = Pixels() + static_cast<ptrdiff_t>(dy) * Pitch();
        for (int dx = drawn_.x.Edge(x); dx < drawn_.x.Edge(x + 1); ++dx) WritePixel(row + dx * bpp, bpp, value);
      }
    }
  }
  lockView_.clear();
  lockBefore_.clear();
}

HRESULT Surface::Unlock(LPRECT rect) {
  STANDIN_FAULT("IDirectDrawSurface7::Unlock");
  (void)rect;
  if (!locked_) return DDERR_NOTLOCKED;
  locked_ = false;
  if (drawn_.Forced()) WriteBackLockView();
  Touch();
  return DD_OK;
}

raster::Target Surface::ColorTarget() {
  raster::Target t;
  raster::ColorFormat cf = raster::ColorFormat::RGB565;
  ToRasterFormat(format_, &cf);
  t.color = Pixels();
  t.pitch = Pitch();
  t.format = cf;
  t.width = drawn_.x.drawn;
  t.height = drawn_.y.drawn;
  return t;
}

raster::Texture Surface::AsTexture() {
  raster::Texture t;
  raster::ColorFormat cf = raster::ColorFormat::RGB565;
  ToRasterFormat(format_, &cf);
  t.texels = Pixels();
  t.pitch = Pitch();
  t.format = cf;
  t.width = drawn_.x.drawn;
  t.height = drawn_.y.drawn;
  if (paddedVersion_ != version_) {
    FinishDrawing();  // queued drawing may still sample the old copy
    raster::BuildPaddedTexture(t, padded_);
    paddedVersion_ = version_;
  }
  t.padded = padded_.data();
  return t;
}

}  // namespace standin
