// The Direct3D device and DirectDraw surfaces: a small program of state
// changes, texture selections, viewports, draws with raw vertices (NaN,
// infinities, huge values, rhw 0 or negative, z outside 0..1 all reach the
// device as the input has them), clears and blits with arbitrary rectangles,
// on a 64 x 48 RGB565 target with a 16-bit z-buffer.
//
// Input: one byte of set-up (texture side 32 << (b & 3)), then operations,
// each an opcode byte followed by its operands, read until the input ends
// (missing operand bytes read as 0).
//
// Checks beyond the sanitizers: a clear never touches a pixel outside the
// viewport, and neither does a draw while clipping is on.
#include <d3d.h>
#include <string.h>

#include <vector>

#include "FuzzSupport.h"
#include "SurfaceDesc.h"
#include "standin/faults.h"

namespace {

constexpr int kWidth = 64, kHeight = 48;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return pos_ < size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    Bytes(&v, 4);
    return v;
  }
  float F32() {
    float f;
    Bytes(&f, 4);
    return f;
  }
  void Bytes(void* out, size_t n) {
    if (n == 0) return;
    const size_t take = pos_ < size_ ? std::min(n, size_ - pos_) : 0;
    memcpy(out, data_ + pos_, take);
    memset(static_cast<uint8_t*>(out) + take, 0, n - take);
    pos_ += take;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

using surface_desc::Desc;

// The render states a program may set; others are refused or not read.
const D3DRENDERSTATETYPE kStates[] = {
    D3DRENDERSTATE_ZENABLE,          D3DRENDERSTATE_ZWRITEENABLE, D3DRENDERSTATE_ZFUNC,
    D3DRENDERSTATE_CULLMODE,         D3DRENDERSTATE_SHADEMODE,    D3DRENDERSTATE_CLIPPING,
    D3DRENDERSTATE_ALPHABLENDENABLE, D3DRENDERSTATE_DITHERENABLE, D3DRENDERSTATE_TEXTUREPERSPECTIVE,
    D3DRENDERSTATE_FILLMODE,         D3DRENDERSTATE_LIGHTING,     static_cast<D3DRENDERSTATETYPE>(0),
    static_cast<D3DRENDERSTATETYPE>(255), static_cast<D3DRENDERSTATETYPE>(256)};

struct Device {
  IDirectDraw7* dd = nullptr;
  IDirectDrawSurface7* target = nullptr;
  IDirectDrawSurface7* zbuffer = nullptr;
  IDirectDrawSurface7* texture = nullptr;
  IDirect3D7* d3d = nullptr;
  IDirect3DDevice7* device = nullptr;

  bool Make(int textureSide) {
    if (DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr) != DD_OK)
      return false;
    if (dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK) return false;
    DDSURFACEDESC2 d = surface_desc::Rgb565Target(kWidth, kHeight);
    if (dd->CreateSurface(&d, &target, nullptr) != DD_OK) return false;
    DDSURFACEDESC2 z = surface_desc::ZBuffer16(kWidth, kHeight, DDSCAPS_SYSTEMMEMORY);
    if (dd->CreateSurface(&z, &zbuffer, nullptr) != DD_OK) return false;
    if (target->AddAttachedSurface(zbuffer) != DD_OK) return false;
    DDSURFACEDESC2 t = Desc();
    t.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    t.dwWidth = t.dwHeight = textureSide;
    t.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    t.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    if (dd->CreateSurface(&t, &texture, nullptr) != DD_OK) return false;
    if (dd->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d)) != DD_OK) return false;
    return d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &device) == D3D_OK;
  }
  ~Device() {
    if (device) device->Release();
    if (d3d) d3d->Release();
    if (texture) texture->Release();
    if (zbuffer) zbuffer->Release();
    if (target) target->Release();
    if (dd) dd->Release();
  }
};

std::vector<uint16_t> ReadPixels(IDirectDrawSurface7* s) {
  DDSURFACEDESC2 d = Desc();
  std::vector<uint16_t> out;
  if (s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr) != DD_OK) return out;
  out.resize(size_t(d.dwWidth) * d.dwHeight);
  for (DWORD y = 0; y < d.dwHeight; ++y)
    memcpy(&out[y * d.dwWidth], static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch, d.dwWidth * 2);
  s->Unlock(nullptr);
  return out;
}

// Every pixel outside the viewport is as it was.
void CheckOutsideViewport(const D3DVIEWPORT7& vp, const std::vector<uint16_t>& before,
                          const std::vector<uint16_t>& after, const char* what) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool inside = x >= int(vp.dwX) && x < int(vp.dwX + vp.dwWidth) && y >= int(vp.dwY) &&
                          y < int(vp.dwY + vp.dwHeight);
      if (!inside && before[y * kWidth + x] != after[y * kWidth + x]) fuzz::Fail(what);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  standin::ResetFaults();
  Input in(data, size);
  Device dev;
  const int side = 32 << (in.Byte() & 3);
  if (!dev.Make(side)) fuzz::Fail("device set-up failed");
  IDirect3DDevice7* device = dev.device;

  // The texture: a pattern seeded by the input's first bytes.
  {
    DDSURFACEDESC2 l = Desc();
    fuzz::Check(dev.texture->Lock(nullptr, &l, DDLOCK_WAIT, nullptr) == DD_OK, "texture lock failed");
    const uint8_t seed = size > 1 ? data[1] : 0;
    for (int y = 0; y < side; ++y) {
      auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(l.lpSurface) + y * l.lPitch);
      for (int x = 0; x < side; ++x) row[x] = uint16_t((x * 2654435761u + y * 40503u) ^ seed);
    }
    dev.texture->Unlock(nullptr);
  }

  std::vector<uint8_t> vertices;
  for (int ops = 0; in.More() && ops < 64; ++ops) {
    switch (in.Byte() % 7) {
      case 0: {
        const D3DRENDERSTATETYPE state = kStates[in.Byte() % (sizeof kStates / sizeof kStates[0])];
        device->SetRenderState(state, in.U32() % 4);
        break;
      }
      case 1: {
        const DWORD stage = in.Byte() % 3;
        const DWORD state = in.Byte() % 34;
        device->SetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(state), in.U32() % 12);
        break;
      }
      case 2:
        device->SetTexture(in.Byte() % 2, (in.Byte() & 1) ? dev.texture : nullptr);
        break;
      case 3: {
        D3DVIEWPORT7 vp;
        vp.dwX = in.Byte();
        vp.dwY = in.Byte();
        vp.dwWidth = in.Byte();
        vp.dwHeight = in.Byte();
        vp.dvMinZ = in.F32();
        vp.dvMaxZ = in.F32();
        device->SetViewport(&vp);
        break;
      }
      case 4: {
        const uint8_t kind = in.Byte();
        const D3DPRIMITIVETYPE type = static_cast<D3DPRIMITIVETYPE>(kind % 7);
        const DWORD fvf = (kind & 0x80) ? D3DFVF_TLVERTEX : (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        const size_t stride = (kind & 0x80) ? 32 : 28;
        const DWORD count = in.Byte() % 25;
        vertices.assign(count * stride, 0);
        in.Bytes(vertices.data(), vertices.size());
        DWORD clipping = 0;
        device->GetRenderState(D3DRENDERSTATE_CLIPPING, &clipping);
        D3DVIEWPORT7 vp;
        device->GetViewport(&vp);
        const std::vector<uint16_t> before = ReadPixels(dev.target);
        device->BeginScene();
        device->DrawPrimitive(type, fvf, vertices.data(), count, 0);
        device->EndScene();
        if (clipping) CheckOutsideViewport(vp, before, ReadPixels(dev.target), "a draw wrote outside the viewport");
        break;
      }
      case 5: {
        const DWORD count = in.Byte() % 4;
        D3DRECT rects[3];
        in.Bytes(rects, sizeof rects);
        const DWORD flags = in.Byte() % 8;
        const D3DCOLOR color = in.U32();
        const float z = in.F32();
        D3DVIEWPORT7 vp;
        device->GetViewport(&vp);
        const std::vector<uint16_t> before = ReadPixels(dev.target);
        device->Clear(count, count ? rects : nullptr, flags, color, z, 0);
        CheckOutsideViewport(vp, before, ReadPixels(dev.target), "a clear wrote outside the viewport");
        break;
      }
      case 6: {
        const uint8_t which = in.Byte();
        IDirectDrawSurface7* surfaces[4] = {dev.target, dev.zbuffer, dev.texture, nullptr};
        IDirectDrawSurface7* dest = surfaces[which % 3];
        IDirectDrawSurface7* source = surfaces[(which >> 2) % 4];
        RECT destRect, sourceRect;
        in.Bytes(&destRect, sizeof destRect);
        in.Bytes(&sourceRect, sizeof sourceRect);
        static const DWORD kFlags[] = {DDBLT_WAIT, DDBLT_COLORFILL | DDBLT_WAIT, DDBLT_DEPTHFILL,
                                       DDBLT_COLORFILL | DDBLT_DEPTHFILL, DDBLT_ASYNC, 0};
        const DWORD flags = kFlags[(which >> 4) % 6];
        DDBLTFX fx;
        memset(&fx, 0, sizeof fx);
        fx.dwSize = sizeof fx;
        fx.dwFillColor = in.U32();
        dest->Blt((which & 0x40) ? nullptr : &destRect, source, (which & 0x80) ? nullptr : &sourceRect,
                  flags, &fx);
        break;
      }
    }
  }
  // Whatever the program did, the target still locks and reads whole.
  fuzz::Check(ReadPixels(dev.target).size() == size_t(kWidth) * kHeight, "target cannot be read back");
  return 0;
}
