// Forced resolution: the exclusive mode's screen drawn larger (and
// supersampled) while the program keeps seeing its own mode.
#include <d3d.h>
#include <ddraw.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "GraphicsTest.h"
#include "standin/host.h"
#include "standin/rgb565.h"
#include "standin/resolution.h"

namespace graphics_test {
namespace {

constexpr int kModeW = 320, kModeH = 240;

// An exclusive 320 x 240 x 16 mode drawn at `width` x `height` with `ssaa`:
// a flip chain with one back buffer, a z-buffer and a device on it.
class Forced : public ::testing::Test {
 protected:
  void Make(int width, int height, int ssaa) {
    standin::ResetFaults();
    standin::RenderSize size;
    size.width = width;
    size.height = height;
    size.ssaa = ssaa;
    standin::SetRenderSize(size);
    ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr), DD_OK);
    HWND window = reinterpret_cast<HWND>(uintptr_t{1});  // only kept: nothing is shown
    ASSERT_EQ(dd_->SetCooperativeLevel(window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN), DD_OK);
    ASSERT_EQ(dd_->SetDisplayMode(kModeW, kModeH, 16, 0, 0), DD_OK);
    DDSURFACEDESC2 d = Desc();
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    d.dwBackBufferCount = 1;
    ASSERT_EQ(dd_->CreateSurface(&d, &front_, nullptr), DD_OK);
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    ASSERT_EQ(front_->GetAttachedSurface(&caps, &back_), DD_OK);
    DDSURFACEDESC2 z = surface_desc::ZBuffer16(kModeW, kModeH, DDSCAPS_SYSTEMMEMORY);
    ASSERT_EQ(dd_->CreateSurface(&z, &zbuffer_, nullptr), DD_OK);
    ASSERT_EQ(back_->AddAttachedSurface(zbuffer_), DD_OK);
    ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)), DD_OK);
    ASSERT_EQ(d3d_->CreateDevice(IID_IDirect3DRGBDevice, back_, &device_), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  }

  void TearDown() override {
    for (IUnknown* u : std::initializer_list<IUnknown*>{device_, d3d_, zbuffer_, back_, front_, dd_})
      if (u != nullptr) u->Release();
    standin::SetRenderSize(standin::RenderSize());
    standin::ResetFaults();
  }

  // Flips and returns the shown picture as 0x00RRGGBB.
  std::vector<uint32_t> Show(int* width, int* height) {
    EXPECT_EQ(front_->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    const standin::HeadlessHost& host = standin::DefaultHeadlessHost();
    *width = host.LastWidth();
    *height = host.LastHeight();
    std::vector<uint32_t> out(size_t(*width) * size_t(*height));
    if (host.LastFormat() == standin::PixelFormat::XRGB8888) {
      std::memcpy(out.data(), host.LastPicture().data(), out.size() * 4);
    } else {
      standin::BoxFilter565(reinterpret_cast<const uint16_t*>(host.LastPicture().data()), *width, *height,
                            *width * 2, 1, out.data(), *width);
    }
    return out;
  }

  IDirectDraw7* dd_ = nullptr;
  IDirectDrawSurface7 *front_ = nullptr, *back_ = nullptr, *zbuffer_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  IDirect3DDevice7* device_ = nullptr;
};

// Each helper's sentence: Edge(i) = ceil(i * drawn / mode - 1/2),
// Position(x) = (x + 1/2) * drawn / mode - 1/2, Nearest(i) =
// floor((i + 1/2) * drawn / mode), for whole, fractional and shrinking scales.
TEST(AxisScale, EdgesPositionsAndNearestFollowThePixelCentres) {
  struct Case {
    int mode, drawn, i;
    int edge, nearest;
    float position;  // of x = i
  } cases[] = {
      {800, 800, 7, 7, 7, 7.0f},    {800, 1600, 1, 2, 3, 2.5f},   {800, 2400, 1, 3, 4, 4.0f},
      {3, 4, 1, 1, 2, 1.5f},        {3, 4, 2, 3, 3, 17.0f / 6.0f}, {3, 4, 3, 4, 4, 25.0f / 6.0f},
      {4, 3, 1, 1, 1, 0.625f},      {800, 1920, 0, 0, 1, 0.7f},   {600, 1440, 600, 1440, 1441, 1440.7f},
  };
  for (const Case& c : cases) {
    const standin::AxisScale s{c.mode, c.drawn};
    EXPECT_EQ(s.Edge(c.i), c.edge) << c.mode << " -> " << c.drawn << " at " << c.i;
    EXPECT_EQ(s.Nearest(c.i), c.nearest) << c.mode << " -> " << c.drawn << " at " << c.i;
    EXPECT_NEAR(s.Position(float(c.i)), c.position, 1e-3f) << c.mode << " -> " << c.drawn << " at " << c.i;
  }
}

// The box filter averages in linear light: a block of one colour keeps it
// exactly (every RGB565 value, every factor); half white and half black is
// sRGB 188 rather than the stored mean 128, one white sample in nine is 94.
TEST(BoxFilter565, AveragesInLinearLight) {
  std::vector<uint16_t> all(65536);
  for (size_t i = 0; i < all.size(); ++i) all[i] = uint16_t(i);
  std::vector<uint32_t> plain(65536);
  standin::BoxFilter565(all.data(), 256, 256, 512, 1, plain.data(), 256);
  EXPECT_EQ(plain[0xFFFF], 0xFFFFFFu);
  EXPECT_EQ(plain[0x0841], 0x080808u);  // 1, 2, 1 widened: 8, 8, 8
  for (int n = 2; n <= 4; ++n) {
    std::vector<uint16_t> blocks(all.size() * size_t(n * n));
    for (int y = 0; y < 256 * n; ++y)
      for (int x = 0; x < 256 * n; ++x) blocks[size_t(y) * size_t(256 * n) + size_t(x)] = all[size_t(y / n) * 256 + size_t(x / n)];
    for (const char* kernel : {"avx512", "avx2", "sse41"}) {  // each filter (see below)
      std::vector<uint32_t> out(65536);
      setenv("DEMO_KERNEL", kernel, 1);
      standin::BoxFilter565(blocks.data(), 256 * n, 256 * n, 512 * n, n, out.data(), 256);
      unsetenv("DEMO_KERNEL");
      EXPECT_EQ(out, plain) << "n = " << n << ", DEMO_KERNEL=" << kernel;
    }
  }
  const uint16_t checker[4] = {0xFFFF, 0x0000, 0x0000, 0xFFFF};
  uint16_t one[9] = {0};
  one[4] = 0xFFFF;
  uint32_t got[2] = {7, 7};
  standin::BoxFilter565(checker, 2, 2, 4, 2, &got[0], 1);
  standin::BoxFilter565(one, 3, 3, 6, 3, &got[1], 1);
  EXPECT_EQ(got[0], 0xBCBCBCu);  // 188
  EXPECT_EQ(got[1], 0x5E5E5Eu);  // 94
}

// The filter's sentence, computed plainly: on fixed-seed pictures with few
// colours (so that some blocks are of one colour and some are not), every
// output pixel is the rounded linear mean the header describes.
TEST(BoxFilter565, MatchesItsSentenceOnRandomPictures) {
  auto decode = [](int stored) {
    const double v = stored / 255.0;
    return std::lround((v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)) * 65535.0);
  };
  auto encode = [](long l) {
    const double v = l / 65535.0;
    return std::lround((v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055) * 255.0);
  };
  const uint16_t palette[4] = {0x0000, 0xFFFF, 0x8410, 0x07E0};
  uint32_t seed = 12345;
  const int side = 48;  // a multiple of 2, 3 and 4
  std::vector<uint16_t> picture(side * side);
  for (uint16_t& v : picture) {
    seed = seed * 1664525u + 1013904223u;
    v = (seed >> 31) ? palette[(seed >> 24) & 3] : uint16_t(seed >> 8);
  }
  // Every filter: the 512-bit and 256-bit ones where they run (they take the
  // first 32 samples of each row here, 16 of a 2 x 2 filter in 256 bits) and
  // the plain one that DEMO_KERNEL=sse41 forces.
  for (const char* kernel : {"avx512", "avx2", "sse41"})
  for (int n = 2; n <= 4; ++n) {
    std::vector<uint32_t> out(size_t(side / n) * size_t(side / n));
    setenv("DEMO_KERNEL", kernel, 1);
    standin::BoxFilter565(picture.data(), side, side, side * 2, n, out.data(), side / n);
    unsetenv("DEMO_KERNEL");
    int wrong = 0;
    for (int by = 0; by < side / n; ++by)
      for (int bx = 0; bx < side / n; ++bx) {
        long sums[3] = {0, 0, 0};
        for (int y = by * n; y < by * n + n; ++y)
          for (int x = bx * n; x < bx * n + n; ++x) {
            uint8_t rgb[3];
            standin::Rgb565ToRgb8(picture[size_t(y) * side + size_t(x)], rgb);
            for (int c = 0; c < 3; ++c) sums[c] += decode(rgb[c]);
          }
        uint32_t expected = 0;
        for (int c = 0; c < 3; ++c) expected = expected << 8 | uint32_t(encode((sums[c] + n * n / 2) / (n * n)));
        wrong += out[size_t(by) * size_t(side / n) + size_t(bx)] != expected;
      }
    EXPECT_EQ(wrong, 0) << "n = " << n << ", DEMO_KERNEL=" << kernel;
  }
}

// Every description, viewport and lock the program gets is its mode's, and
// the screen surfaces hold the forced size: what a flip shows.
TEST_F(Forced, TheProgramSeesItsModeAndTheScreenIsDrawnLarger) {
  Make(800, 600, 2);
  for (IDirectDrawSurface7* s : {front_, back_, zbuffer_}) {
    DDSURFACEDESC2 d = Desc();
    ASSERT_EQ(s->GetSurfaceDesc(&d), DD_OK);
    EXPECT_EQ(d.dwWidth, DWORD(kModeW));
    EXPECT_EQ(d.dwHeight, DWORD(kModeH));
    EXPECT_EQ(d.lPitch, kModeW * 2);
    DDSURFACEDESC2 l = Desc();
    RECT r{10, 20, 30, 40};
    ASSERT_EQ(s->Lock(&r, &l, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(l.dwWidth, DWORD(kModeW));
    EXPECT_EQ(l.lPitch, kModeW * 2);
    ASSERT_EQ(s->Unlock(nullptr), DD_OK);
  }
  D3DVIEWPORT7 vp{};
  ASSERT_EQ(device_->GetViewport(&vp), D3D_OK);
  EXPECT_EQ(vp.dwWidth, DWORD(kModeW));
  EXPECT_EQ(vp.dwHeight, DWORD(kModeH));
  DDSURFACEDESC2 mode = Desc();
  ASSERT_EQ(dd_->GetDisplayMode(&mode), DD_OK);
  EXPECT_EQ(mode.dwWidth, DWORD(kModeW));
  int w = 0, h = 0;
  Show(&w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
}

// A Lock shows the mode-sized picture and writes back only what the program
// changed, each changed pixel filling the drawn block it covers; Blt
// rectangles and the viewport's Clear scale to the drawn pixels.
TEST_F(Forced, LockShowsTheModeAndWritesBackChanges) {
  Make(640, 480, 1);  // twice the mode on each axis
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  fx.dwFillColor = 0xF800;
  RECT red{10, 10, 20, 20};
  ASSERT_EQ(back_->Blt(&red, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  DDSURFACEDESC2 l = Desc();
  ASSERT_EQ(back_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
  auto at = [&](int x, int y) { return reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(l.lpSurface) + y * l.lPitch) + x; };
  EXPECT_EQ(*at(15, 15), 0xF800);
  EXPECT_EQ(*at(9, 15), 0);
  *at(0, 0) = 0x001F;
  ASSERT_EQ(back_->Unlock(nullptr), DD_OK);
  int w = 0, h = 0;
  const std::vector<uint32_t> shown = Show(&w, &h);
  ASSERT_EQ(w, 640);
  auto px = [&](int x, int y) { return shown[size_t(y) * size_t(w) + size_t(x)]; };
  EXPECT_EQ(px(0, 0), 0x0000FFu);
  EXPECT_EQ(px(1, 1), 0x0000FFu);
  EXPECT_EQ(px(2, 0), 0u);
  EXPECT_EQ(px(20, 20), 0xFF0000u);
  EXPECT_EQ(px(39, 39), 0xFF0000u);
  EXPECT_EQ(px(40, 39), 0u);
  EXPECT_EQ(px(19, 20), 0u);
}

// One white triangle: drawn at 2 x 2 samples and averaged, its sloped edges
// show the partial coverages 1/4, 2/4 and 3/4 of white (sRGB 137, 188, 225);
// without supersampling every pixel is white or black.
TEST_F(Forced, SupersamplingGivesPartialCoverageAtEdges) {
  for (int ssaa : {1, 2}) {
    Make(kModeW, kModeH, ssaa);
    std::vector<Vertex144> tri = {P(40.3f, 30.1f, 0.5f, 1, 0xFFFFFFFF), P(290.7f, 60.2f, 0.5f, 1, 0xFFFFFFFF),
                                  P(120.2f, 220.9f, 0.5f, 1, 0xFFFFFFFF)};
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0x144, tri.data(), 3, 0), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    int w = 0, h = 0;
    const std::vector<uint32_t> shown = Show(&w, &h);
    ASSERT_EQ(w, kModeW);
    int counts[5] = {0}, other = 0;
    const uint32_t levels[5] = {0x000000, 0x898989, 0xBCBCBC, 0xE1E1E1, 0xFFFFFF};
    for (uint32_t v : shown) {
      const uint32_t* k = std::find(levels, levels + 5, v);
      if (k == levels + 5) ++other;
      else ++counts[k - levels];
    }
    EXPECT_EQ(other, 0) << "ssaa " << ssaa;
    EXPECT_GT(counts[4], 10000) << "ssaa " << ssaa;
    for (int k = 1; k <= 3; ++k) {
      if (ssaa == 1) EXPECT_EQ(counts[k], 0) << k << "/4";
      else EXPECT_GT(counts[k], 20) << k << "/4";
    }
    TearDown();
    dd_ = nullptr, front_ = back_ = zbuffer_ = nullptr, d3d_ = nullptr, device_ = nullptr;
  }
}

// Text on a forced back buffer is the mode's text enlarged pixel by pixel:
// drawn pixel (X, Y) shows text pixel (floor((X + 0.5) / scale), ...), for
// whole and fractional scales.
TEST_F(Forced, TextIsEnlargedPixelByPixel) {
  auto draw = [&](int w, int h, std::vector<uint32_t>* shown) {
    Make(w, h, 1);
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0x001F;
    ASSERT_EQ(back_->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
    HDC dc = nullptr;
    ASSERT_EQ(back_->GetDC(&dc), DD_OK);
    ASSERT_TRUE(TextOutA(dc, 3, 2, "1234", 4));
    ASSERT_EQ(back_->ReleaseDC(dc), DD_OK);
    int sw = 0, sh = 0;
    *shown = Show(&sw, &sh);
    ASSERT_EQ(sw, w);
    TearDown();
    dd_ = nullptr, front_ = back_ = zbuffer_ = nullptr, d3d_ = nullptr, device_ = nullptr;
  };
  std::vector<uint32_t> plain;
  draw(kModeW, kModeH, &plain);
  for (double scale : {2.0, 3.0, 1.8}) {
    const int sw = int(kModeW * scale), sh = int(kModeH * scale);
    std::vector<uint32_t> scaled;
    draw(sw, sh, &scaled);
    int wrong = 0;
    for (int y = 0; y < int(20 * scale); ++y)
      for (int x = 0; x < int(48 * scale); ++x) {
        const int tx = int((x + 0.5) / scale), ty = int((y + 0.5) / scale);
        wrong += scaled[size_t(y) * size_t(sw) + size_t(x)] != plain[size_t(ty) * size_t(kModeW) + size_t(tx)];
      }
    EXPECT_EQ(wrong, 0) << "scale " << scale;
  }
}

}  // namespace
}  // namespace graphics_test
