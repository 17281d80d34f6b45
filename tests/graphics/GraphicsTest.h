// Helpers for the graphics tests: a small render target with a 16-bit
// z-buffer and a Direct3D device on it, and pixel read-back.
#ifndef TESTS_GRAPHICS_GRAPHICSTEST_H
#define TESTS_GRAPHICS_GRAPHICSTEST_H

#include <d3d.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "SurfaceDesc.h"
#include "standin/faults.h"

namespace graphics_test {

using surface_desc::D16;
using surface_desc::Desc;

inline D3DTLVERTEX V(float x, float y, float z, float rhw, D3DCOLOR c, float u = 0, float v = 0) {
  return D3DTLVERTEX{x, y, z, rhw, c, 0, u, v};
}

// The demo's vertex layout (FVF 0x144): no specular.
struct Vertex144 {
  float x, y, z, rhw;
  D3DCOLOR diffuse;
  float u, v;
};

inline Vertex144 P(float x, float y, float z, float rhw, D3DCOLOR c, float u = 0, float v = 0) {
  return Vertex144{x, y, z, rhw, c, u, v};
}

// A DirectDraw object in normal mode, a width x height RGB565 render target
// with an attached 16-bit z-buffer, and a device with culling off.
class DeviceTest : public ::testing::Test {
 protected:
  void Make(int width, int height) {
    standin::ResetFaults();
    ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr), DD_OK);
    ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    DDSURFACEDESC2 d = surface_desc::Rgb565Target(width, height);
    ASSERT_EQ(dd_->CreateSurface(&d, &target_, nullptr), DD_OK);
    DDSURFACEDESC2 z = surface_desc::ZBuffer16(width, height, DDSCAPS_SYSTEMMEMORY);
    ASSERT_EQ(dd_->CreateSurface(&z, &zbuffer_, nullptr), DD_OK);
    ASSERT_EQ(target_->AddAttachedSurface(zbuffer_), DD_OK);
    ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)), DD_OK);
    ASSERT_EQ(d3d_->CreateDevice(IID_IDirect3DRGBDevice, target_, &device_), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    width_ = width;
    height_ = height;
  }

  void TearDown() override {
    if (device_ != nullptr) device_->Release();
    if (d3d_ != nullptr) d3d_->Release();
    if (zbuffer_ != nullptr) zbuffer_->Release();
    if (target_ != nullptr) target_->Release();
    if (dd_ != nullptr) dd_->Release();
    standin::ResetFaults();
  }

  // The surface's pixels, row after row, 16 bits each.
  static std::vector<uint16_t> Read(IDirectDrawSurface7* s) {
    DDSURFACEDESC2 d = Desc();
    EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    std::vector<uint16_t> out(static_cast<size_t>(d.dwWidth) * d.dwHeight);
    for (DWORD y = 0; y < d.dwHeight; ++y) {
      std::memcpy(&out[y * d.dwWidth], static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch, d.dwWidth * 2);
    }
    EXPECT_EQ(s->Unlock(nullptr), DD_OK);
    return out;
  }

  std::vector<uint16_t> Pixels() { return Read(target_); }
  uint16_t At(const std::vector<uint16_t>& p, int x, int y) const { return p[y * width_ + x]; }

  HRESULT Draw(const std::vector<Vertex144>& v) {
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    const HRESULT hr = device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0x144,
                                              const_cast<Vertex144*>(v.data()),
                                              static_cast<DWORD>(v.size()), 0);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    return hr;
  }

  // A width x height RGB565 texture with the given texels, row 0 first.
  IDirectDrawSurface7* Texture(int width, int height, const std::vector<uint16_t>& texels) {
    DDSURFACEDESC2 d = Desc();
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.dwWidth = width;
    d.dwHeight = height;
    d.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    d.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    IDirectDrawSurface7* t = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&d, &t, nullptr), DD_OK);
    DDSURFACEDESC2 l = Desc();
    EXPECT_EQ(t->Lock(nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
    for (int y = 0; y < height; ++y) {
      std::memcpy(static_cast<uint8_t*>(l.lpSurface) + y * l.lPitch, &texels[y * width], width * 2);
    }
    EXPECT_EQ(t->Unlock(nullptr), DD_OK);
    return t;
  }

  IDirectDraw7* dd_ = nullptr;
  IDirectDrawSurface7* target_ = nullptr;
  IDirectDrawSurface7* zbuffer_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  IDirect3DDevice7* device_ = nullptr;
  int width_ = 0, height_ = 0;
};

}  // namespace graphics_test

#endif
