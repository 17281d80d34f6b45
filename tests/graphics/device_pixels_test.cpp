// Triangles in, pixels out: the Direct3D device's picture rules.
#include <cmath>
#include <limits>

#include "GraphicsTest.h"

namespace graphics_test {
namespace {

constexpr D3DCOLOR kWhite = 0xFFFFFFFF;
constexpr uint16_t kRed565 = 0xF800, kGreen565 = 0x07E0;

class DevicePixels : public DeviceTest {};

TEST_F(DevicePixels, DefaultsAfterCreation) {
  Make(8, 8);
  DWORD v = 0;
  ASSERT_EQ(device_->GetRenderState(D3DRENDERSTATE_ZENABLE, &v), D3D_OK);
  EXPECT_EQ(v, static_cast<DWORD>(D3DZB_TRUE));  // a z-buffer was attached
  device_->GetRenderState(D3DRENDERSTATE_ZFUNC, &v);
  EXPECT_EQ(v, static_cast<DWORD>(D3DCMP_LESSEQUAL));
  device_->GetRenderState(D3DRENDERSTATE_CLIPPING, &v);
  EXPECT_EQ(v, static_cast<DWORD>(TRUE));
  device_->GetRenderState(D3DRENDERSTATE_SHADEMODE, &v);
  EXPECT_EQ(v, static_cast<DWORD>(D3DSHADE_GOURAUD));
  device_->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_MODULATE));
  device_->GetTextureStageState(1, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_DISABLE));
  device_->GetTextureStageState(0, D3DTSS_MAGFILTER, &v);
  EXPECT_EQ(v, static_cast<DWORD>(D3DTFG_POINT));
  D3DVIEWPORT7 vp;
  ASSERT_EQ(device_->GetViewport(&vp), D3D_OK);
  EXPECT_EQ(vp.dwWidth, 8u);
  EXPECT_EQ(vp.dwHeight, 8u);
  EXPECT_EQ(vp.dvMaxZ, 1.0f);
}

// Clear fills the current viewport only; 0x00000020 is RGB565 0x0004; depth 1.0 is 0xFFFF.
TEST_F(DevicePixels, ClearFillsTheViewport) {
  Make(8, 8);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000020, 1.0f, 0), D3D_OK);
  for (uint16_t p : Pixels()) ASSERT_EQ(p, 0x0004);
  for (uint16_t z : Read(zbuffer_)) ASSERT_EQ(z, 0xFFFF);

  D3DVIEWPORT7 vp{2, 3, 4, 2, 0.0f, 1.0f};
  ASSERT_EQ(device_->SetViewport(&vp), D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00FF0000, 0.5f, 0), D3D_OK);
  const auto p = Pixels();
  const auto z = Read(zbuffer_);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool in = x >= 2 && x < 6 && y >= 3 && y < 5;
      EXPECT_EQ(At(p, x, y), in ? kRed565 : 0x0004) << x << "," << y;
      EXPECT_EQ(z[y * 8 + x], in ? 32768 : 0xFFFF) << x << "," << y;  // round(0.5 * 65535)
    }
  }
  // A rectangle is clipped to the viewport.
  D3DRECT r{{0}, {0}, {3}, {4}};
  ASSERT_EQ(device_->Clear(1, &r, D3DCLEAR_TARGET, 0x0000FF00, 1.0f, 0), D3D_OK);
  const auto q = Pixels();
  EXPECT_EQ(At(q, 2, 3), kGreen565);
  EXPECT_EQ(At(q, 1, 3), 0x0004);
  EXPECT_EQ(At(q, 3, 3), kRed565);
}

TEST_F(DevicePixels, ClearOfAMissingZBufferFails) {
  Make(4, 4);
  ASSERT_EQ(target_->DeleteAttachedSurface(0, zbuffer_), DD_OK);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_ZBUFFER_NOTPRESENT);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
}

// Two triangles sharing the diagonal of (0,0)-(5,5) cover its 25 pixels exactly once.
TEST_F(DevicePixels, SharedEdgeCoversSquareOnce) {
  Make(8, 8);
  ASSERT_EQ(device_->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE), D3D_OK);
  ASSERT_EQ(Draw({P(0, 0, 0.5f, 1, 0xFF0000), P(5, 0, 0.5f, 1, 0xFF0000), P(5, 5, 0.5f, 1, 0xFF0000)}), D3D_OK);
  const auto a = Pixels();
  device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw({P(0, 0, 0.5f, 1, 0x00FF00), P(5, 5, 0.5f, 1, 0x00FF00), P(0, 5, 0.5f, 1, 0x00FF00)}), D3D_OK);
  const auto b = Pixels();
  int covered = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool inA = At(a, x, y) != 0, inB = At(b, x, y) != 0;
      EXPECT_FALSE(inA && inB) << "pixel " << x << "," << y << " drawn twice";
      EXPECT_EQ(inA || inB, x < 5 && y < 5) << x << "," << y;
      covered += inA || inB;
    }
  }
  EXPECT_EQ(covered, 25);
}

// Culling by screen winding (y down): a clockwise triangle vanishes with D3DCULL_CW only.
TEST_F(DevicePixels, ClockwiseCulling) {
  Make(8, 8);
  const std::vector<Vertex144> cw{P(1, 1, 0.5f, 1, kWhite), P(6, 1, 0.5f, 1, kWhite), P(1, 6, 0.5f, 1, kWhite)};
  const std::vector<Vertex144> ccw{cw[0], cw[2], cw[1]};
  auto drawn = [&](const std::vector<Vertex144>& t) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    EXPECT_EQ(Draw(t), D3D_OK);
    int n = 0;
    for (uint16_t p : Pixels()) n += p != 0;
    return n;
  };
  device_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CW);
  EXPECT_EQ(drawn(cw), 0);
  EXPECT_GT(drawn(ccw), 0);
  device_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  EXPECT_GT(drawn(cw), 0);
  EXPECT_EQ(drawn(ccw), 0);
  device_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  EXPECT_EQ(drawn(cw), drawn(ccw));
}

// A vertex behind the viewer (rhw < 0): only the part in front is drawn. Here
// the visible part lies above y = 10 and spreads upward; the vertex's mirrored
// screen position (below) must stay empty.
TEST_F(DevicePixels, VertexBehindViewerDrawsOnlyVisiblePart) {
  Make(40, 40);
  ASSERT_EQ(Draw({P(10, 10, 0.5f, 1, kWhite), P(30, 10, 0.5f, 1, kWhite), P(20, 30, 0.5f, -1, kWhite)}), D3D_OK);
  const auto p = Pixels();
  int above = 0, below = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) (y <= 10 ? above : below) += At(p, x, y) != 0;
  }
  EXPECT_EQ(below, 0);
  EXPECT_GT(above, 100);
  // The region widens going up: row 0 holds more pixels than row 9.
  int row0 = 0, row9 = 0;
  for (int x = 0; x < 40; ++x) {
    row0 += At(p, x, 0) != 0;
    row9 += At(p, x, 9) != 0;
  }
  EXPECT_GT(row0, row9);
}

TEST_F(DevicePixels, ZeroAndNonFiniteRhw) {
  Make(16, 16);
  device_->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
  // rhw = 0 is drawn as if w were 1.
  ASSERT_EQ(Draw({P(1, 1, 0.5f, 1, 0xFF0000), P(14, 2, 0.5f, 1, 0x00FF00), P(3, 14, 0.5f, 1, 0x0000FF)}), D3D_OK);
  const auto one = Pixels();
  device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw({P(1, 1, 0.5f, 1, 0xFF0000), P(14, 2, 0.5f, 0, 0x00FF00), P(3, 14, 0.5f, 1, 0x0000FF)}), D3D_OK);
  EXPECT_EQ(Pixels(), one);
  // A non-finite coordinate drops the triangle and nothing else.
  device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  ASSERT_EQ(Draw({P(1, 1, 0.5f, nan, kWhite), P(14, 2, 0.5f, 1, kWhite), P(3, 14, 0.5f, 1, kWhite),
                  P(inf, 1, 0.5f, 1, kWhite), P(14, 2, 0.5f, 1, kWhite), P(3, 14, 0.5f, 1, kWhite),
                  P(1, 1, 0.5f, 1, 0xFF0000), P(14, 2, 0.5f, 1, 0x00FF00), P(3, 14, 0.5f, 1, 0x0000FF)}),
            D3D_OK);
  EXPECT_EQ(Pixels(), one);
}

// The nearer triangle wins whatever the order, and depth lands as round(z * 65535).
TEST_F(DevicePixels, DepthTestKeepsNearest) {
  Make(8, 8);
  const std::vector<Vertex144> nearRed{P(0, 0, 0.25f, 1, 0xFF0000), P(8, 0, 0.25f, 1, 0xFF0000), P(0, 8, 0.25f, 1, 0xFF0000)};
  const std::vector<Vertex144> farGreen{P(0, 0, 0.75f, 1, 0x00FF00), P(8, 0, 0.75f, 1, 0x00FF00), P(0, 8, 0.75f, 1, 0x00FF00)};
  Draw(nearRed);
  Draw(farGreen);
  const auto a = Pixels();
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  Draw(farGreen);
  Draw(nearRed);
  EXPECT_EQ(Pixels(), a);
  EXPECT_EQ(At(a, 1, 1), kRed565);
  EXPECT_EQ(Read(zbuffer_)[1 * 8 + 1], 16384);  // round(0.25 * 65535) = round(16383.75)
  // Equal depth passes (LESSEQUAL): a later triangle at the same depth draws.
  Draw({P(0, 0, 0.25f, 1, 0x0000FF), P(8, 0, 0.25f, 1, 0x0000FF), P(0, 8, 0.25f, 1, 0x0000FF)});
  EXPECT_EQ(At(Pixels(), 1, 1), 0x001F);
}

// Depth outside 0..1 is clipped away when the z-buffer is on.
TEST_F(DevicePixels, DepthClipping) {
  Make(8, 8);
  Draw({P(0, 0, 1.5f, 1, kWhite), P(8, 0, 1.5f, 1, kWhite), P(0, 8, 1.5f, 1, kWhite)});
  for (uint16_t p : Pixels()) ASSERT_EQ(p, 0);
  device_->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
  Draw({P(0, 0, 1.5f, 1, kWhite), P(8, 0, 1.5f, 1, kWhite), P(0, 8, 1.5f, 1, kWhite)});
  EXPECT_EQ(At(Pixels(), 1, 1), 0xFFFF);
}

class Textured : public DeviceTest {
 protected:
  // A quad over the whole 4 x 4 target with u = x / 4, v = y / 4.
  void DrawQuad(D3DCOLOR c = kWhite) {
    Draw({P(0, 0, 0.5f, 1, c, 0, 0), P(4, 0, 0.5f, 1, c, 1, 0), P(4, 4, 0.5f, 1, c, 1, 1),
          P(0, 0, 0.5f, 1, c, 0, 0), P(4, 4, 0.5f, 1, c, 1, 1), P(0, 4, 0.5f, 1, c, 0, 1)});
  }
};

TEST_F(Textured, PointSamplingTakesExactTexels) {
  Make(4, 4);
  IDirectDrawSurface7* tex = Texture(2, 2, {0xF800, 0x07E0, 0x001F, 0xFFFF});
  ASSERT_EQ(device_->SetTexture(0, tex), D3D_OK);
  DrawQuad();
  const auto p = Pixels();
  const uint16_t expected[4][4] = {{0xF800, 0xF800, 0x07E0, 0x07E0},
                                   {0xF800, 0xF800, 0x07E0, 0x07E0},
                                   {0x001F, 0x001F, 0xFFFF, 0xFFFF},
                                   {0x001F, 0x001F, 0xFFFF, 0xFFFF}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(p, x, y), expected[y][x]) << x << "," << y;
  }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

// Bilinear: texel centres at (i + 0.5) / 2; u = 0.5 sits halfway between the
// two columns, and u = 0 halfway between column 1 (wrapped) and column 0.
TEST_F(Textured, BilinearMidpointAndWrap) {
  Make(4, 4);
  IDirectDrawSurface7* tex = Texture(2, 2, {0x0000, 0xFFFF, 0x0000, 0xFFFF});
  device_->SetTexture(0, tex);
  device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
  device_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
  DrawQuad();
  const auto p = Pixels();
  // Halfway: each channel (0 * 128 + 255 * 128 + 128) >> 8 = 128, rounded, not
  // floored to 127 -> RGB565 (16, 32, 16) = 0x8410.
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(At(p, 0, y), 0x8410) << "wrapped midpoint, row " << y;
    EXPECT_EQ(At(p, 1, y), 0x0000) << "texel 0 centre, row " << y;
    EXPECT_EQ(At(p, 2, y), 0x8410) << "midpoint, row " << y;
    EXPECT_EQ(At(p, 3, y), 0xFFFF) << "texel 1 centre, row " << y;
  }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

// MODULATE: each 8-bit channel is round(texel * diffuse / 255); no texture gives the diffuse colour.
TEST_F(Textured, ModulationByDiffuse) {
  Make(4, 4);
  IDirectDrawSurface7* tex = Texture(2, 2, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
  device_->SetTexture(0, tex);
  DrawQuad(0x00808080);
  EXPECT_EQ(At(Pixels(), 1, 1), 0x8410);  // 128 -> (16, 32, 16)
  DrawQuad(0x00FF0000);
  EXPECT_EQ(At(Pixels(), 1, 1), kRed565);
  device_->SetTexture(0, nullptr);
  DrawQuad(0x0000FF00);
  EXPECT_EQ(At(Pixels(), 1, 1), kGreen565);
  // Without a texture the texture argument is white: selecting it gives white.
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  DrawQuad(0x0000FF00);
  EXPECT_EQ(At(Pixels(), 1, 1), 0xFFFF);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  DrawQuad(0x0000FF00);
  EXPECT_EQ(At(Pixels(), 1, 1), kGreen565);
  tex->Release();
}

// Perspective: with rhw differing across a triangle the texture follows w, not the screen.
TEST_F(Textured, PerspectiveCorrectCoordinates) {
  Make(16, 4);
  std::vector<uint16_t> stripes(16);
  for (int i = 0; i < 16; ++i) stripes[i] = i < 8 ? 0xF800 : 0x001F;  // 16 x 1: red half, blue half
  IDirectDrawSurface7* tex = Texture(16, 1, stripes);
  device_->SetTexture(0, tex);
  // Left edge near (rhw 1), right edge far (rhw 0.25): at screen fraction s,
  // u = 0.25 s / (1 - 0.75 s), which reaches 0.5 at s = 0.8 (x = 12.8), not
  // at the middle as an affine mapping would.
  Draw({P(0, 0, 0.5f, 1, kWhite, 0, 0), P(16, 0, 0.5f, 0.25f, kWhite, 1, 0), P(16, 4, 0.5f, 0.25f, kWhite, 1, 1),
        P(0, 0, 0.5f, 1, kWhite, 0, 0), P(16, 4, 0.5f, 0.25f, kWhite, 1, 1), P(0, 4, 0.5f, 1, kWhite, 0, 1)});
  const auto p = Pixels();
  EXPECT_EQ(At(p, 8, 1), 0xF800);
  EXPECT_EQ(At(p, 12, 1), 0xF800);
  EXPECT_EQ(At(p, 13, 1), 0x001F);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(DevicePixels, BadCallsFailCleanly) {
  Make(4, 4);
  Vertex144 v[3] = {P(0, 0, 0, 1, 0), P(1, 0, 0, 1, 0), P(0, 1, 0, 1, 0)};
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_XYZ, v, 3, 0), D3DERR_INVALIDVERTEXTYPE);
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_LINELIST, 0x144, v, 3, 0), D3DERR_INVALIDPRIMITIVETYPE);
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0x144, nullptr, 3, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device_->EndScene(), D3DERR_SCENE_NOT_IN_SCENE);
  EXPECT_EQ(device_->BeginScene(), D3D_OK);
  EXPECT_EQ(device_->BeginScene(), D3DERR_SCENE_IN_SCENE);
  EXPECT_EQ(device_->EndScene(), D3D_OK);
  D3DVIEWPORT7 big{0, 0, 5, 4, 0, 1};
  EXPECT_EQ(device_->SetViewport(&big), DDERR_INVALIDPARAMS);
  // An injected fault returns its code and leaves the picture alone.
  standin::InjectFault("IDirect3DDevice7::DrawPrimitive", 1, DDERR_SURFACELOST);
  Vertex144 w[3] = {P(0, 0, 0.5f, 1, kWhite), P(4, 0, 0.5f, 1, kWhite), P(0, 4, 0.5f, 1, kWhite)};
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0x144, w, 3, 0), DDERR_SURFACELOST);
  EXPECT_EQ(At(Pixels(), 0, 0), 0);
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0x144, w, 3, 0), D3D_OK);
  EXPECT_EQ(At(Pixels(), 0, 0), 0xFFFF);
}

// Other formats take the general path: a 32-bit XRGB target keeps 8 bits per
// channel, and a D24S8 z-buffer gets round(z * 0xFFFFFF) in its depth bits
// with the stencil bits left alone.
TEST_F(DevicePixels, OtherTargetAndDepthFormats) {
  ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr), DD_OK);
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  DDSURFACEDESC2 d = surface_desc::RgbTarget(4, 4, 32, 0xFF0000, 0x00FF00, 0x0000FF);
  ASSERT_EQ(dd_->CreateSurface(&d, &target_, nullptr), DD_OK);
  std::vector<DDPIXELFORMAT> formats;
  ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)), DD_OK);
  d3d_->EnumZBufferFormats(IID_IDirect3DRGBDevice, [](LPDDPIXELFORMAT f, LPVOID ctx) -> HRESULT {
    static_cast<std::vector<DDPIXELFORMAT>*>(ctx)->push_back(*f);
    return D3DENUMRET_OK;
  }, &formats);
  const DDPIXELFORMAT* d24s8 = nullptr;
  for (const auto& f : formats) {
    if (f.dwZBufferBitDepth == 32 && f.dwStencilBitDepth == 8) d24s8 = &f;
  }
  ASSERT_NE(d24s8, nullptr);
  DDSURFACEDESC2 z = d;
  z.ddsCaps.dwCaps = DDSCAPS_ZBUFFER;
  z.ddpfPixelFormat = *d24s8;
  ASSERT_EQ(dd_->CreateSurface(&z, &zbuffer_, nullptr), DD_OK);
  ASSERT_EQ(target_->AddAttachedSurface(zbuffer_), DD_OK);
  ASSERT_EQ(d3d_->CreateDevice(IID_IDirect3DRGBDevice, target_, &device_), D3D_OK);
  width_ = height_ = 4;

  DDSURFACEDESC2 l = Desc();
  ASSERT_EQ(zbuffer_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(l.lpSurface) + y * l.lPitch)[x] = 0xAB000000;
  }
  zbuffer_->Unlock(nullptr);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.5f, 0), D3D_OK);
  device_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  Draw({P(0, 0, 0.25f, 1, 0x123456), P(4, 0, 0.25f, 1, 0x123456), P(0, 4, 0.25f, 1, 0x123456)});
  ASSERT_EQ(target_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
  const uint32_t color = *static_cast<uint32_t*>(l.lpSurface);
  target_->Unlock(nullptr);
  ASSERT_EQ(zbuffer_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
  const uint32_t drawn = static_cast<uint32_t*>(l.lpSurface)[0];
  const uint32_t cleared = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(l.lpSurface) + 3 * l.lPitch)[3];
  zbuffer_->Unlock(nullptr);
  EXPECT_EQ(color, 0x00123456u);
  EXPECT_EQ(drawn, 0xAB400000u);    // round(0.25 * 0xFFFFFF) = 0x400000
  EXPECT_EQ(cleared, 0xAB800000u);  // round(0.5 * 0xFFFFFF) = 0x800000
}

TEST_F(DevicePixels, ZBufferFormatsListDepthStencilBeforePlainDepth) {
  Make(4, 4);
  std::vector<DDPIXELFORMAT> formats;
  auto collect = [](LPDDPIXELFORMAT f, LPVOID ctx) -> HRESULT {
    static_cast<std::vector<DDPIXELFORMAT>*>(ctx)->push_back(*f);
    return D3DENUMRET_OK;
  };
  ASSERT_EQ(d3d_->EnumZBufferFormats(IID_IDirect3DHALDevice, collect, &formats), D3D_OK);
  ASSERT_GE(formats.size(), 2u);
  EXPECT_EQ(formats[0].dwFlags, static_cast<DWORD>(DDPF_ZBUFFER | DDPF_STENCILBUFFER));
  EXPECT_EQ(formats[1].dwFlags, static_cast<DWORD>(DDPF_ZBUFFER));
  EXPECT_EQ(formats[1].dwZBufferBitDepth, 16u);
  EXPECT_EQ(formats[1].dwZBitMask, 0xFFFFu);
  // The callback's cancel stops the listing.
  int calls = 0;
  auto first = [](LPDDPIXELFORMAT, LPVOID ctx) -> HRESULT {
    ++*static_cast<int*>(ctx);
    return D3DENUMRET_CANCEL;
  };
  ASSERT_EQ(d3d_->EnumZBufferFormats(IID_IDirect3DRGBDevice, first, &calls), D3D_OK);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace graphics_test
