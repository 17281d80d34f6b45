// DirectDraw surfaces: flip chains, presentation, reference counts, surface
// loss, blits, clippers and GDI text.
#include <windows.h>

#include <cstring>
#include <vector>

#include "GraphicsTest.h"
#include "standin/graphics.h"
#include "standin/host.h"
#include "win32/desktop.h"

namespace graphics_test {
namespace {

// Records what reaches the host.
class RecordingHost : public standin::Host {
 public:
  struct Shown {
    HWND window;
    int width, height;
    uint16_t firstPixel;
    uint16_t lastPixelOfFirstRow;
    bool vsync;
  };
  void SetDisplayMode(int w, int h, int bits) override {
    w_ = w;
    h_ = h;
    bits_ = bits;
  }
  void GetDisplayMode(int* w, int* h, int* bits) const override {
    *w = w_;
    *h = h_;
    *bits = bits_;
  }
  void Present(HWND window, const standin::Picture& p, bool vsync) override {
    uint16_t first = 0, last = 0;
    if (p.width > 0 && p.height > 0) {
      first = static_cast<const uint16_t*>(p.pixels)[0];
      last = static_cast<const uint16_t*>(p.pixels)[p.width - 1];
    }
    shown.push_back(Shown{window, p.width, p.height, first, last, vsync});
  }
  std::vector<Shown> shown;
  int w_ = 0, h_ = 0, bits_ = 0;
};

class DirectDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::ResetFaults();
    standin::SetHost(&host_);
    ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr), DD_OK);
  }
  void TearDown() override {
    if (dd_ != nullptr) dd_->Release();
    standin::SetHost(nullptr);
    standin::ResetFaults();
  }

  // Fullscreen 320 x 200 x 16 with a primary surface and `backBuffers` back buffers.
  IDirectDrawSurface7* MakeChain(DWORD backBuffers) {
    EXPECT_EQ(dd_->SetCooperativeLevel(kWindow, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE | DDSCL_NOWINDOWCHANGES), DD_OK);
    EXPECT_EQ(dd_->SetDisplayMode(320, 200, 16, 0, 0), DD_OK);
    DDSURFACEDESC2 d = Desc();
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE | DDSCAPS_COMPLEX | DDSCAPS_FLIP;
    d.dwBackBufferCount = backBuffers;
    IDirectDrawSurface7* primary = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&d, &primary, nullptr), DD_OK);
    return primary;
  }

  IDirectDrawSurface7* MakeOffscreen(int w, int h, DWORD caps = DDSCAPS_OFFSCREENPLAIN) {
    DDSURFACEDESC2 d = Desc();
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddsCaps.dwCaps = caps;
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&d, &s, nullptr), DD_OK);
    return s;
  }

  IDirectDrawSurface7* MakeZBuffer(int w, int h) {
    DDSURFACEDESC2 d = surface_desc::ZBuffer16(w, h, DDSCAPS_VIDEOMEMORY);
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&d, &s, nullptr), DD_OK);
    return s;
  }

  static HRESULT Fill(IDirectDrawSurface7* s, DWORD color, RECT* r = nullptr) {
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof fx);
    fx.dwSize = sizeof fx;
    fx.dwFillColor = color;
    return s->Blt(r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  }

  static uint16_t PixelAt(IDirectDrawSurface7* s, int x, int y) {
    DDSURFACEDESC2 d = Desc();
    EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    const uint16_t v = *reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch + 2 * x);
    s->Unlock(nullptr);
    return v;
  }

  static ULONG Count(IUnknown* u) {
    u->AddRef();
    return u->Release();
  }

  const HWND kWindow = reinterpret_cast<HWND>(0x1000);
  RecordingHost host_;
  IDirectDraw7* dd_ = nullptr;
};

TEST_F(DirectDrawTest, EnumerationReportsThePrimaryDriver) {
  std::vector<std::string> names;
  auto cb = [](GUID* guid, LPSTR, LPSTR name, LPVOID ctx, HMONITOR) -> BOOL {
    EXPECT_EQ(guid, nullptr);
    static_cast<std::vector<std::string>*>(ctx)->push_back(name);
    return TRUE;
  };
  ASSERT_EQ(DirectDrawEnumerateExA(cb, &names, DDENUM_ATTACHEDSECONDARYDEVICES | DDENUM_DETACHEDSECONDARYDEVICES |
                                                  DDENUM_NONDISPLAYDEVICES),
            DD_OK);
  EXPECT_EQ(names, std::vector<std::string>{"display"});
}

TEST_F(DirectDrawTest, DisplayModeGoesToTheHost) {
  IDirectDrawSurface7* primary = MakeChain(2);
  EXPECT_EQ(host_.w_, 320);
  EXPECT_EQ(host_.bits_, 16);
  DDPIXELFORMAT f;
  std::memset(&f, 0, sizeof f);
  f.dwSize = sizeof f;
  ASSERT_EQ(primary->GetPixelFormat(&f), DD_OK);
  EXPECT_EQ(f.dwFlags, static_cast<DWORD>(DDPF_RGB));
  EXPECT_EQ(f.dwRGBBitCount, 16u);
  EXPECT_EQ(f.dwRBitMask, 0xF800u);
  EXPECT_EQ(f.dwGBitMask, 0x07E0u);
  EXPECT_EQ(f.dwBBitMask, 0x001Fu);
  EXPECT_EQ(dd_->SetDisplayMode(320, 200, 24, 0, 0), DDERR_INVALIDMODE);
  primary->Release();
  EXPECT_EQ(dd_->RestoreDisplayMode(), DD_OK);
  EXPECT_EQ(host_.w_, 0);
}

// Three buffers rotate their memory; the back-buffer object stays the back buffer.
TEST_F(DirectDrawTest, FlipChainRotatesMemory) {
  IDirectDrawSurface7* primary = MakeChain(2);
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
  host_.shown.clear();

  const uint16_t colors[3] = {0xF800, 0x07E0, 0x001F};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Fill(back, colors[i]), DD_OK);
    ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    ASSERT_EQ(host_.shown.size(), static_cast<size_t>(i + 1));
    EXPECT_EQ(host_.shown[i].firstPixel, colors[i]) << "flip " << i;
    EXPECT_EQ(host_.shown[i].width, 320);
    EXPECT_TRUE(host_.shown[i].vsync);
    EXPECT_EQ(PixelAt(primary, 5, 5), colors[i]);
  }
  // After three flips the back buffer holds what was drawn into it two flips before the last.
  EXPECT_EQ(PixelAt(back, 0, 0), colors[0]);
  IDirectDrawSurface7* again = nullptr;
  ASSERT_EQ(primary->GetAttachedSurface(&caps, &again), DD_OK);
  EXPECT_EQ(again, back);
  again->Release();
  DDSCAPS2 got{};
  back->GetCaps(&got);
  EXPECT_TRUE(got.dwCaps & DDSCAPS_BACKBUFFER);
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_NOVSYNC), DD_OK);
  EXPECT_FALSE(host_.shown.back().vsync);
  EXPECT_EQ(back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
  back->Release();
  primary->Release();
}

TEST_F(DirectDrawTest, ReferenceCountsOfChainsAttachmentsAndDevices) {
  const int before = standin::LiveSurfaceCount();
  IDirectDrawSurface7* primary = MakeChain(2);
  EXPECT_EQ(standin::LiveSurfaceCount(), before + 3);
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
  EXPECT_EQ(Count(primary), 1u);
  EXPECT_EQ(Count(back), 2u);  // the chain's and ours

  IDirectDrawSurface7* z = MakeZBuffer(320, 200);
  ASSERT_EQ(back->AddAttachedSurface(z), DD_OK);
  EXPECT_EQ(Count(z), 2u);
  EXPECT_EQ(back->AddAttachedSurface(z), DDERR_SURFACEALREADYATTACHED);
  IDirect3D7* d3d = nullptr;
  ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d)), DD_OK);
  IDirect3DDevice7* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DHALDevice, back, &device), D3D_OK);
  EXPECT_EQ(Count(back), 3u);  // the device holds its render target
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(Count(back), 2u);

  // Detach and attach again; the surface's own release then leaves the z-buffer alone.
  EXPECT_EQ(z->Release(), 1u);
  ASSERT_EQ(back->DeleteAttachedSurface(0, z), DD_OK);
  EXPECT_EQ(standin::LiveSurfaceCount(), before + 3);  // the z-buffer is gone
  EXPECT_EQ(back->DeleteAttachedSurface(0, primary), DDERR_SURFACENOTATTACHED);

  // Releasing the front releases the chain's references: our back-buffer reference remains.
  EXPECT_EQ(back->Release(), 1u);
  EXPECT_EQ(primary->Release(), 0u);
  EXPECT_EQ(standin::LiveSurfaceCount(), before);
  d3d->Release();
}

// The windowed rebuild: device, back surface and z-buffer each release to 0 in that order.
TEST_F(DirectDrawTest, WindowedBackSurfaceReleasesToZero) {
  ASSERT_EQ(dd_->SetCooperativeLevel(kWindow, DDSCL_NORMAL), DD_OK);
  IDirectDrawSurface7* back = MakeOffscreen(64, 48, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
  IDirectDrawSurface7* z = MakeZBuffer(64, 48);
  ASSERT_EQ(back->AddAttachedSurface(z), DD_OK);
  IDirect3D7* d3d = nullptr;
  ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d)), DD_OK);
  IDirect3DDevice7* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, back, &device), D3D_OK);
  EXPECT_EQ(back->Release(), 1u);  // still the device's render target
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(z->Release(), 0u);
  // Direct3D is an interface of the DirectDraw object and counts on it.
  EXPECT_EQ(Count(dd_), 2u);
  EXPECT_EQ(d3d->Release(), 1u);
}

TEST_F(DirectDrawTest, LostSurfacesRefuseWorkUntilRestored) {
  IDirectDrawSurface7* primary = MakeChain(1);
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
  standin::LoseAllSurfaces();
  EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
  EXPECT_EQ(Fill(back, 0), DDERR_SURFACELOST);
  DDSURFACEDESC2 d = Desc();
  EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
  HDC dc = nullptr;
  EXPECT_EQ(back->GetDC(&dc), DDERR_SURFACELOST);
  ASSERT_EQ(dd_->RestoreAllSurfaces(), DD_OK);
  EXPECT_EQ(primary->IsLost(), DD_OK);
  EXPECT_EQ(Fill(back, 0xFFFF), DD_OK);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  back->Release();
  primary->Release();
}

TEST_F(DirectDrawTest, LockGivesAddressAndPitch) {
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  IDirectDrawSurface7* s = MakeOffscreen(10, 3);
  DDSURFACEDESC2 d = Desc();
  ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_NE(d.lpSurface, nullptr);
  EXPECT_GE(d.lPitch, 20);
  EXPECT_EQ(d.dwWidth, 10u);
  DDSURFACEDESC2 again = Desc();
  EXPECT_EQ(s->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(Fill(s, 0), DDERR_SURFACEBUSY);
  EXPECT_EQ(s->Unlock(nullptr), DD_OK);
  EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED);
  RECT outside{0, 0, 11, 3};
  EXPECT_EQ(s->Lock(&outside, &d, DDLOCK_WAIT, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(Fill(s, 0, &outside), DDERR_INVALIDRECT);
  DDSURFACEDESC2 small = Desc();
  small.dwSize = 100;
  EXPECT_EQ(s->GetSurfaceDesc(&small), DDERR_INVALIDPARAMS);
  s->Release();
}

// Blt stretches with the nearest source pixel: a 2 x 1 source doubled to 4 x 2.
TEST_F(DirectDrawTest, StretchBlit) {
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  IDirectDrawSurface7* src = MakeOffscreen(2, 1);
  IDirectDrawSurface7* dst = MakeOffscreen(6, 3);
  RECT left{0, 0, 1, 1}, right{1, 0, 2, 1};
  Fill(src, 0xF800, &left);
  Fill(src, 0x001F, &right);
  Fill(dst, 0x07E0);
  RECT to{1, 1, 5, 3};
  ASSERT_EQ(dst->Blt(&to, src, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(PixelAt(dst, 0, 1), 0x07E0);
  EXPECT_EQ(PixelAt(dst, 1, 1), 0xF800);
  EXPECT_EQ(PixelAt(dst, 2, 2), 0xF800);
  EXPECT_EQ(PixelAt(dst, 3, 1), 0x001F);
  EXPECT_EQ(PixelAt(dst, 4, 2), 0x001F);
  EXPECT_EQ(PixelAt(dst, 5, 2), 0x07E0);
  EXPECT_EQ(PixelAt(dst, 2, 0), 0x07E0);
  src->Release();
  dst->Release();
}

LRESULT CALLBACK TestWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// Windowed: a blit to the primary through a clipper lands in the window's
// client area in screen coordinates and is handed to the host with the window.
TEST_F(DirectDrawTest, WindowedBlitIsClippedToTheClientArea) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = TestWndProc;
  wc.lpszClassName = "graphics_test_window";
  RegisterClassExA(&wc);
  HWND window = CreateWindowExA(0, "graphics_test_window", "test", WS_OVERLAPPEDWINDOW, 100, 50, 200, 150,
                                nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  RECT client;
  ASSERT_TRUE(GetClientRect(window, &client));
  POINT tl{0, 0}, br{client.right, client.bottom};
  ClientToScreen(window, &tl);
  ClientToScreen(window, &br);

  ASSERT_EQ(dd_->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
  DDSURFACEDESC2 d = Desc();
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* primary = nullptr;
  ASSERT_EQ(dd_->CreateSurface(&d, &primary, nullptr), DD_OK);
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(dd_->CreateClipper(0, &clipper, nullptr), DD_OK);
  ASSERT_EQ(clipper->SetHWnd(0, window), DD_OK);
  ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
  EXPECT_EQ(clipper->Release(), 1u);  // the surface holds it

  IDirectDrawSurface7* back = MakeOffscreen(br.x - tl.x, br.y - tl.y);
  Fill(back, 0xFFFF);
  host_.shown.clear();
  // A destination larger than the client area is cut to it.
  RECT dest{tl.x - 10, tl.y - 10, br.x + 10, br.y + 10};
  ASSERT_EQ(primary->Blt(&dest, back, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  ASSERT_EQ(host_.shown.size(), 1u);
  EXPECT_EQ(host_.shown[0].window, window);
  EXPECT_EQ(host_.shown[0].width, br.x - tl.x);
  EXPECT_EQ(host_.shown[0].height, br.y - tl.y);
  EXPECT_EQ(host_.shown[0].firstPixel, 0xFFFF);
  EXPECT_EQ(PixelAt(primary, tl.x, tl.y), 0xFFFF);
  EXPECT_EQ(PixelAt(primary, tl.x - 1, tl.y), 0x0000);
  EXPECT_EQ(PixelAt(primary, br.x, br.y - 1), 0x0000);

  // A window reaching beyond the primary surface still shows its whole client area.
  DDSURFACEDESC2 pd = Desc();
  ASSERT_EQ(primary->GetSurfaceDesc(&pd), DD_OK);
  standin::DesktopMoved(window, static_cast<int>(pd.dwWidth) - 50, 50);
  ASSERT_TRUE(GetClientRect(window, &client));
  POINT at{0, 0};
  ClientToScreen(window, &at);
  RECT moved{at.x, at.y, at.x + client.right, at.y + client.bottom};
  host_.shown.clear();
  ASSERT_EQ(primary->Blt(&moved, back, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  ASSERT_EQ(host_.shown.size(), 1u);
  EXPECT_EQ(at.x, static_cast<LONG>(pd.dwWidth) - 50);
  EXPECT_EQ(host_.shown[0].width, client.right);
  EXPECT_EQ(host_.shown[0].firstPixel, 0xFFFF);
  EXPECT_EQ(host_.shown[0].lastPixelOfFirstRow, 0xFFFF);
  back->Release();
  primary->Release();
  DestroyWindow(window);
}

TEST_F(DirectDrawTest, FaultInjectionLeavesTheChainAlone) {
  IDirectDrawSurface7* primary = MakeChain(1);
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
  Fill(back, 0x1234);
  standin::InjectFault("IDirectDrawSurface7::Flip", 1, DDERR_SURFACELOST);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
  EXPECT_EQ(PixelAt(back, 0, 0), 0x1234);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(PixelAt(primary, 0, 0), 0x1234);
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Flip"), 2);
  back->Release();
  primary->Release();
}

TEST_F(DirectDrawTest, CreateSurfaceRefusesBadDescriptions) {
  IDirectDrawSurface7* s = nullptr;
  DDSURFACEDESC2 d = Desc();
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.dwWidth = 8;
  d.dwHeight = 8;
  d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  EXPECT_EQ(dd_->CreateSurface(&d, &s, nullptr), DDERR_NOCOOPERATIVELEVELSET);
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  d.dwWidth = 0;
  EXPECT_EQ(dd_->CreateSurface(&d, &s, nullptr), DDERR_INVALIDPARAMS);
  d.dwWidth = 8;
  d.dwSize = sizeof d - 4;
  EXPECT_EQ(dd_->CreateSurface(&d, &s, nullptr), DDERR_INVALIDPARAMS);
  d.dwSize = sizeof d;
  d.dwFlags |= DDSD_PIXELFORMAT;
  d.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
  d.ddpfPixelFormat.dwFlags = DDPF_RGB;
  d.ddpfPixelFormat.dwRGBBitCount = 24;
  EXPECT_EQ(dd_->CreateSurface(&d, &s, nullptr), DDERR_INVALIDPIXELFORMAT);
  // A flip chain needs exclusive mode.
  DDSURFACEDESC2 p = Desc();
  p.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  p.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_COMPLEX | DDSCAPS_FLIP;
  p.dwBackBufferCount = 2;
  EXPECT_EQ(dd_->CreateSurface(&p, &s, nullptr), DDERR_NOEXCLUSIVEMODE);
  EXPECT_EQ(s, nullptr);
}

// GDI defaults: "1234" at (0, 0) is black on a white box of the text cell, 16 pixels tall.
TEST_F(DirectDrawTest, TextOutDrawsBlackOnWhiteCell) {
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  IDirectDrawSurface7* s = MakeOffscreen(64, 24);
  Fill(s, 0x001F);
  HDC dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  HDC second = nullptr;
  EXPECT_EQ(s->GetDC(&second), DDERR_DCALREADYCREATED);
  ASSERT_TRUE(TextOutA(dc, 0, 0, "1234", 4));
  ASSERT_EQ(s->ReleaseDC(dc), DD_OK);
  EXPECT_FALSE(TextOutA(dc, 0, 0, "1234", 4));  // a released context draws nothing

  DDSURFACEDESC2 d = Desc();
  ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  auto px = [&](int x, int y) {
    return *reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch + 2 * x);
  };
  int boxRight = 0;
  while (boxRight < 64 && px(boxRight, 0) != 0x001F) ++boxRight;
  int black = 0, other = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < boxRight; ++x) {
      const uint16_t p = px(x, y);
      black += p == 0x0000;
      other += p != 0x0000 && p != 0xFFFF;
    }
  }
  const uint16_t below = px(0, 16), right = px(boxRight, 5);
  s->Unlock(nullptr);
  EXPECT_GT(boxRight, 16);  // four digits of a proportional font about 7 pixels wide
  EXPECT_LT(boxRight, 48);
  EXPECT_GT(black, 20);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(below, 0x001F);  // the cell is 16 pixels tall
  EXPECT_EQ(right, 0x001F);
  s->Release();
}

}  // namespace
}  // namespace graphics_test
