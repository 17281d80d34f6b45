// The device layer on the headless platform: what construction makes in both
// modes, the failure convention at every call site, texture table, window
// changes with their release tests, and tear-down.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "3d/D3DRenderer.h"
#include "3d/Scene.h"
#include "DeviceTestSupport.h"
#include "MainWindow.h"
#include "standin/host.h"
#include "win32/desktop.h"

namespace {

using devtest::CaptureLog;
using devtest::HookCalls;
using devtest::HookLines;

class DeviceLayer : public devtest::DeviceTest {
 protected:
  void TearDown() override {
    delete renderer;
    renderer = 0;
    if (window) DestroyWindow(window);
    window = 0;
    devtest::DeviceTest::TearDown();
  }
  // The demo's configuration: fullscreen, 800 x 600 x 16, two back buffers.
  D3DRenderer* MakeFullscreen(bool hardware = true) {
    window = CreateMainWindow(0, SW_SHOWNORMAL, true, 800, 600);
    renderer = new D3DRenderer(window, true, hardware, 800, 600, 16, 2);
    return renderer;
  }
  // Windowed: an overlapped window; the back surface gets the client size.
  D3DRenderer* MakeWindowed(bool hardware = true) {
    window = CreateMainWindow(0, SW_SHOWNORMAL, false, 640, 480);
    renderer = new D3DRenderer(window, false, hardware, 640, 480, 16, 2);
    return renderer;
  }
  HWND window = 0;
  D3DRenderer* renderer = 0;
};

DDSURFACEDESC2 DescOf(LPDIRECTDRAWSURFACE7 surface) {
  DDSURFACEDESC2 desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  EXPECT_EQ(surface->GetSurfaceDesc(&desc), DD_OK);
  return desc;
}

// Every 16-bit value of the surface (rows of dwWidth values).
std::vector<uint16_t> Pixels16(LPDIRECTDRAWSURFACE7 surface) {
  DDSURFACEDESC2 desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  std::vector<uint16_t> out;
  if (surface->Lock(NULL, &desc, DDLOCK_WAIT, NULL) != DD_OK) return out;
  for (DWORD y = 0; y < desc.dwHeight; y++) {
    const uint16_t* row = (const uint16_t*)((const BYTE*)desc.lpSurface + y * desc.lPitch);
    out.insert(out.end(), row, row + desc.dwWidth);
  }
  surface->Unlock(NULL);
  return out;
}

DWORD RenderState(LPDIRECT3DDEVICE7 device, D3DRENDERSTATETYPE state) {
  DWORD value = 0xDEAD;
  EXPECT_EQ(device->GetRenderState(state, &value), D3D_OK);
  return value;
}

DWORD StageState(LPDIRECT3DDEVICE7 device, D3DTEXTURESTAGESTATETYPE state) {
  DWORD value = 0xDEAD;
  EXPECT_EQ(device->GetTextureStageState(0, state, &value), D3D_OK);
  return value;
}

TEST_F(DeviceLayer, FullscreenMakesTheFlipChainDeviceStatesAndViewport) {
  std::string log = CaptureLog([&] { MakeFullscreen(); });
  D3DRenderer& r = *renderer;
  EXPECT_TRUE(HookCalls().empty());

  // Display: exclusive mode with its own 800 x 600 x 16 mode, no clipper.
  int w = 0, h = 0, bits = 0;
  standin::CurrentHost().GetDisplayMode(&w, &h, &bits);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  EXPECT_EQ(bits, 16);
  ASSERT_TRUE(r.DirectDraw && r.PrimarySurface && r.BackSurface && r.Direct3D && r.Device &&
              r.ZBuffer);
  EXPECT_EQ(r.Clipper, (LPDIRECTDRAWCLIPPER)NULL);
  EXPECT_EQ(r.BackBufferCount, 2u);
  EXPECT_EQ(r.GetWidth(), 800);
  EXPECT_EQ(r.GetHeight(), 600);
  EXPECT_TRUE(r.FlipPresent);

  DDSURFACEDESC2 primary = DescOf(r.PrimarySurface);
  EXPECT_EQ(primary.ddsCaps.dwCaps & 0x2218u, 0x2218u);  // primary, 3D, complex, flip
  EXPECT_EQ(primary.dwBackBufferCount, 2u);
  DDSURFACEDESC2 back = DescOf(r.BackSurface);
  EXPECT_TRUE(back.ddsCaps.dwCaps & DDSCAPS_BACKBUFFER);
  EXPECT_EQ(back.dwWidth, 800u);
  EXPECT_EQ(back.dwHeight, 600u);

  // The z-buffer: the first plain depth format, in video memory for the HAL.
  EXPECT_EQ(r.ZBufferFormat.dwFlags, (DWORD)DDPF_ZBUFFER);
  EXPECT_EQ(r.ZBufferDesc.ddsCaps.dwCaps, 0x24000u);
  EXPECT_EQ(r.ZBufferDesc.dwFlags, 0x1007u);
  EXPECT_EQ(r.ZBufferDesc.dwWidth, 800u);
  EXPECT_EQ(r.ZBufferDesc.dwHeight, 600u);

  // Texture template: the primary's pixel format, managed textures.
  EXPECT_EQ(r.TextureDesc.dwFlags, 0x1007u);
  EXPECT_EQ(r.TextureDesc.ddsCaps.dwCaps, 0x1000u);
  EXPECT_EQ(r.TextureDesc.ddsCaps.dwCaps2, 0x10u);
  EXPECT_EQ(r.TextureDesc.ddpfPixelFormat.dwRGBBitCount, 16u);
  EXPECT_EQ(r.TextureDesc.ddpfPixelFormat.dwRBitMask, 0xF800u);
  EXPECT_EQ(r.TextureCount, 0);
  EXPECT_EQ(r.CurrentTexture, -1);

  EXPECT_EQ(RenderState(r.Device, D3DRENDERSTATE_ZENABLE), (DWORD)D3DZB_TRUE);
  EXPECT_EQ(RenderState(r.Device, D3DRENDERSTATE_ZWRITEENABLE), (DWORD)TRUE);
  EXPECT_EQ(RenderState(r.Device, D3DRENDERSTATE_CULLMODE), (DWORD)D3DCULL_CW);
  EXPECT_EQ(RenderState(r.Device, D3DRENDERSTATE_CLIPPING), (DWORD)TRUE);
  EXPECT_EQ(StageState(r.Device, D3DTSS_MAGFILTER), (DWORD)D3DTFG_LINEAR);
  EXPECT_EQ(StageState(r.Device, D3DTSS_MINFILTER), (DWORD)D3DTFN_LINEAR);
  D3DVIEWPORT7 vp;
  ASSERT_EQ(r.Device->GetViewport(&vp), D3D_OK);
  EXPECT_EQ(vp.dwX, 0u);
  EXPECT_EQ(vp.dwY, 0u);
  EXPECT_EQ(vp.dwWidth, 800u);
  EXPECT_EQ(vp.dwHeight, 600u);
  EXPECT_EQ(vp.dvMinZ, 0.0f);
  EXPECT_EQ(vp.dvMaxZ, 1.0f);

  // The first clear: colour 0 in the back buffer, depth 1.0 in the z-buffer;
  // the visible picture is black.
  for (uint16_t p : Pixels16(r.BackSurface)) ASSERT_EQ(p, 0);
  for (uint16_t p : Pixels16(r.ZBuffer)) ASSERT_EQ(p, 0xFFFF);
  for (uint16_t p : Pixels16(r.PrimarySurface)) ASSERT_EQ(p, 0);

  EXPECT_EQ(log.rfind("\ncDDraw constructor", 0), 0u) << log;
  EXPECT_NE(log.find("\nDDEnumCallbackEx: "), std::string::npos) << log;
  EXPECT_NE(log.find("\nPixelformat: Flags:00000040  dwRGBBitCount:00000010  "
                     "dwRBitMask:0000f800  dwGBitMask:000007e0   dwBBitMask:0000001f"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("\nwidth:"), std::string::npos) << log;
}

TEST_F(DeviceLayer, SoftwareDeviceKeepsItsZBufferInSystemMemoryAndSetsNoFilter) {
  MakeFullscreen(false);
  D3DRenderer& r = *renderer;
  ASSERT_TRUE(r.Device);
  EXPECT_EQ(r.ZBufferDesc.ddsCaps.dwCaps, 0x20800u);
  EXPECT_EQ(StageState(r.Device, D3DTSS_MAGFILTER), (DWORD)D3DTFG_POINT);
  EXPECT_EQ(StageState(r.Device, D3DTSS_MINFILTER), (DWORD)D3DTFN_POINT);
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::SetTextureStageState"), 0);
}

TEST_F(DeviceLayer, WindowedTakesTheClientSizeAndAClipper) {
  std::string log = CaptureLog([&] { MakeWindowed(); });
  D3DRenderer& r = *renderer;
  EXPECT_TRUE(HookCalls().empty());
  RECT client;
  GetClientRect(window, &client);
  ASSERT_GT(client.right, 0);
  EXPECT_EQ(r.Width, client.right);
  EXPECT_EQ(r.Height, client.bottom);
  EXPECT_EQ(r.BackBufferCount, 0u);
  EXPECT_FALSE(r.FlipPresent);
  ASSERT_TRUE(r.Clipper && r.BackSurface && r.Device);
  LPDIRECTDRAWCLIPPER attached = NULL;
  ASSERT_EQ(r.PrimarySurface->GetClipper(&attached), DD_OK);
  EXPECT_EQ(attached, r.Clipper);
  attached->Release();
  DDSURFACEDESC2 primary = DescOf(r.PrimarySurface);
  EXPECT_EQ(primary.ddsCaps.dwCaps & (DDSCAPS_3DDEVICE | DDSCAPS_FLIP), 0u);
  DDSURFACEDESC2 back = DescOf(r.BackSurface);
  EXPECT_EQ((LONG)back.dwWidth, r.Width);
  EXPECT_EQ((LONG)back.dwHeight, r.Height);
  EXPECT_EQ(back.ddsCaps.dwCaps & 0x2040u, 0x2040u);
  EXPECT_EQ((LONG)r.ZBufferDesc.dwWidth, r.Width);
  char expected[64];
  snprintf(expected, sizeof expected, "\nwidth:%d, height:%d", r.Width, r.Height);
  EXPECT_NE(log.find(expected), std::string::npos) << log;
}

TEST_F(DeviceLayer, ZBufferChoiceSkipsFormatsWithStencil) {
  DDPIXELFORMAT chosen;
  memset(&chosen, 0xAB, sizeof chosen);
  DDPIXELFORMAT withStencil;
  memset(&withStencil, 0, sizeof withStencil);
  withStencil.dwSize = sizeof withStencil;
  withStencil.dwFlags = DDPF_ZBUFFER | DDPF_STENCILBUFFER;
  withStencil.dwZBufferBitDepth = 16;
  EXPECT_EQ(cDirect3D::EnumZBufferCallback(&withStencil, &chosen), D3DENUMRET_OK);
  EXPECT_EQ(chosen.dwSize, 0xABABABABu);  // untouched
  DDPIXELFORMAT plain = withStencil;
  plain.dwFlags = DDPF_ZBUFFER;
  plain.dwZBufferBitDepth = 24;
  EXPECT_EQ(cDirect3D::EnumZBufferCallback(&plain, &chosen), D3DENUMRET_CANCEL);
  EXPECT_EQ(memcmp(&chosen, &plain, sizeof plain), 0);
}

// ---------------------------------------------------------------------------
// The failure convention at every call site.

enum class Scenario {
  kFullscreenHal,    // construct fullscreen with the hardware device
  kFullscreenRgb,    // construct fullscreen with the software device
  kWindowed,         // construct windowed
  kLoadTexture,      // fullscreen, then upload one 4 x 4 texture
  kSetTexture,       // fullscreen, upload, SetTexture(0, 0)
  kSetNoTexture,     // fullscreen, upload, SetTexture(0, 0), SetTexture(-1, 0)
  kClear,            // fullscreen, ClearFrame
  kFlush,            // fullscreen, one triangle, Flush
  kPrint,            // fullscreen, Print
  kFlip,             // fullscreen, Present
  kLostWindow,       // windowed, Present with the blit reporting surface loss
  kResize,           // windowed, the client size changes
};

struct Site {
  const char* operation;  // platform operation made to fail
  int nth;                // which call of it, counted from the scenario's arming point
  Scenario scenario;
  int line;
  const char* file;
};

const char* const kDD = "DirectX/cDDraw.cpp";
const char* const kDDH = "DirectX/cDDraw.h";
const char* const kD3D = "DirectX/cDirect3D.cpp";
const char* const kRen = "3d/D3DRenderer.cpp";

const Site kSites[] = {
    {"DirectDrawCreateEx", 1, Scenario::kFullscreenHal, 56, kDD},
    {"IDirectDraw7::SetCooperativeLevel", 1, Scenario::kFullscreenHal, 59, kDD},
    {"IDirectDraw7::SetDisplayMode", 1, Scenario::kFullscreenHal, 60, kDD},
    {"IDirectDraw7::SetCooperativeLevel", 1, Scenario::kWindowed, 62, kDD},
    {"IDirectDraw7::CreateSurface", 1, Scenario::kFullscreenHal, 123, kDD},
    {"IDirectDrawSurface7::GetAttachedSurface", 1, Scenario::kFullscreenHal, 129, kDD},
    {"IDirectDraw7::CreateSurface", 2, Scenario::kWindowed, 140, kDD},
    {"IDirectDraw7::CreateClipper", 1, Scenario::kWindowed, 143, kDD},
    {"IDirectDrawClipper::SetHWnd", 1, Scenario::kWindowed, 144, kDD},
    {"IDirectDrawSurface7::SetClipper", 1, Scenario::kWindowed, 145, kDD},
    {"IDirectDrawSurface7::Blt", 1, Scenario::kFullscreenHal, 153, kDD},
    {"IDirectDrawSurface7::Blt", 1, Scenario::kWindowed, 155, kDD},
    {"IDirectDrawSurface7::GetPixelFormat", 1, Scenario::kFullscreenHal, 160, kDD},
    {"IDirectDrawSurface7::Lock", 1, Scenario::kLoadTexture, 174, kDD},
    {"IDirectDrawSurface7::Unlock", 1, Scenario::kLoadTexture, 192, kDD},
    {"IDirectDraw7::RestoreAllSurfaces", 1, Scenario::kLostWindow, 199, kDD},
    {"IDirectDrawSurface7::GetSurfaceDesc", 1, Scenario::kResize, 226, kDD},
    {"IDirectDraw7::CreateSurface", 1, Scenario::kResize, 240, kDD},
    {"IDirectDrawSurface7::GetDC", 1, Scenario::kPrint, 257, kDD},
    {"IDirectDrawSurface7::ReleaseDC", 1, Scenario::kPrint, 268, kDD},
    {"IDirectDrawSurface7::Flip", 1, Scenario::kFlip, 25, kDDH},
    {"IDirectDraw7::QueryInterface", 1, Scenario::kFullscreenHal, 23, kD3D},
    {"IDirectDrawSurface7::GetSurfaceDesc", 1, Scenario::kFullscreenHal, 33, kD3D},
    {"IDirect3D7::EnumZBufferFormats", 1, Scenario::kFullscreenHal, 76, kD3D},
    {"IDirect3D7::EnumZBufferFormats", 1, Scenario::kFullscreenRgb, 78, kD3D},
    {"IDirectDraw7::CreateSurface", 2, Scenario::kFullscreenHal, 96, kD3D},
    {"IDirectDrawSurface7::AddAttachedSurface", 1, Scenario::kFullscreenHal, 97, kD3D},
    {"IDirect3D7::CreateDevice", 1, Scenario::kFullscreenHal, 101, kD3D},
    {"IDirect3D7::CreateDevice", 1, Scenario::kFullscreenRgb, 103, kD3D},
    {"IDirect3DDevice7::SetRenderState", 1, Scenario::kFullscreenHal, 108, kD3D},
    {"IDirect3DDevice7::SetRenderState", 2, Scenario::kFullscreenHal, 109, kD3D},
    {"IDirect3DDevice7::SetViewport", 1, Scenario::kFullscreenHal, 123, kD3D},
    {"IDirect3DDevice7::SetRenderState", 3, Scenario::kFullscreenHal, 132, kD3D},
    {"IDirect3DDevice7::SetRenderState", 4, Scenario::kFullscreenHal, 133, kD3D},
    {"IDirect3DDevice7::SetTextureStageState", 1, Scenario::kFullscreenHal, 136, kD3D},
    {"IDirect3DDevice7::SetTextureStageState", 2, Scenario::kFullscreenHal, 137, kD3D},
    {"IDirect3DDevice7::Clear", 1, Scenario::kFullscreenHal, 151, kD3D},
    {"IDirect3DDevice7::Clear", 2, Scenario::kFullscreenHal, 155, kD3D},
    {"IDirect3DDevice7::Clear", 1, Scenario::kClear, 155, kD3D},
    {"IDirectDraw7::CreateSurface", 1, Scenario::kLoadTexture, 165, kD3D},
    {"IDirect3DDevice7::SetTexture", 1, Scenario::kSetTexture, 221, kD3D},
    {"IDirect3DDevice7::SetTexture", 2, Scenario::kSetNoTexture, 211, kD3D},
    {"IDirect3DDevice7::BeginScene", 1, Scenario::kFlush, 25, kRen},
    {"IDirect3DDevice7::DrawPrimitive", 1, Scenario::kFlush, 32, kRen},
    {"IDirect3DDevice7::EndScene", 1, Scenario::kFlush, 46, kRen},
};

const HRESULT kInjected = (HRESULT)0x88760000 | 0x1234;

ClipVertex Corner(float x, float y) {
  ClipVertex v;
  memset(&v, 0, sizeof v);
  v.tl.x = x;
  v.tl.y = y;
  v.tl.z = 0.5f;
  v.tl.rhw = 1.0f;
  v.tl.diffuse = 0xFFFFFF;
  return v;
}

class CallSites : public DeviceLayer, public testing::WithParamInterface<Site> {
 protected:
  // Runs the scenario, arming the fault at its point; returns false when the
  // scenario itself could not be set up.
  void Run(const Site& site) {
    auto arm = [&] { standin::InjectFault(site.operation, site.nth, kInjected); };
    BYTE image[4 * 4 * 3];
    memset(image, 0x80, sizeof image);
    switch (site.scenario) {
      case Scenario::kFullscreenHal:
        arm();
        MakeFullscreen(true);
        break;
      case Scenario::kFullscreenRgb:
        arm();
        MakeFullscreen(false);
        break;
      case Scenario::kWindowed:
        arm();
        MakeWindowed();
        break;
      case Scenario::kLoadTexture:
        MakeFullscreen();
        arm();
        renderer->LoadTexture(4, 4, image);
        break;
      case Scenario::kSetTexture:
      case Scenario::kSetNoTexture:
        MakeFullscreen();
        renderer->LoadTexture(4, 4, image);
        arm();
        renderer->SelectTexture(0, 0);
        if (site.scenario == Scenario::kSetNoTexture) renderer->SelectTexture(-1, 0);
        break;
      case Scenario::kClear:
        MakeFullscreen();
        arm();
        renderer->ClearFrame(0x20, 1.0f);
        break;
      case Scenario::kFlush: {
        MakeFullscreen();
        ClipVertex v[3] = {Corner(10, 10), Corner(100, 10), Corner(10, 100)};
        renderer->AddTriangle(v);
        arm();
        renderer->Flush();
        EXPECT_EQ(renderer->TriangleCount, 0);
        // The scene went on: begun, drawn and ended once each.
        EXPECT_EQ(standin::CallCount("IDirect3DDevice7::BeginScene"), 1);
        EXPECT_EQ(standin::CallCount("IDirect3DDevice7::DrawPrimitive"), 1);
        EXPECT_EQ(standin::CallCount("IDirect3DDevice7::EndScene"), 1);
        break;
      }
      case Scenario::kPrint:
        MakeFullscreen();
        arm();
        renderer->Print(0, 0, 0, "%d", 1234);
        break;
      case Scenario::kFlip:
        MakeFullscreen();
        arm();
        renderer->Present();
        break;
      case Scenario::kLostWindow:
        MakeWindowed();
        standin::InjectFault("IDirectDrawSurface7::Blt", 1, DDERR_SURFACELOST);
        arm();
        renderer->Present();
        break;
      case Scenario::kResize:
        MakeWindowed();
        arm();
        standin::DesktopResized(window, 320, 200);  // RendererReady is 0: no rebuild yet
        EXPECT_TRUE(renderer->OnWindowChanged());
        break;
    }
  }
};

TEST_P(CallSites, AFailingCallReportsItsLineAndFileOnceAndTheOperationGoesOn) {
  const Site& site = GetParam();
  Run(site);
  ASSERT_FALSE(HookCalls().empty()) << site.operation << " #" << site.nth;
  // The first report is this call's; consequences of it (a missing z-buffer
  // makes the depth clears fail, for instance) may follow, but this call
  // reports only once.
  EXPECT_EQ(HookCalls()[0].line, site.line);
  EXPECT_EQ(HookCalls()[0].file, site.file);
  EXPECT_EQ(HookCalls()[0].object, static_cast<cDirect3D*>(renderer));
  int same = 0;
  for (const devtest::HookCall& c : HookCalls())
    if (c.line == site.line && c.file == site.file) same++;
  EXPECT_EQ(same, 1);
  if (HookCalls().size() == 1) {
    EXPECT_EQ(renderer->LastResult, kInjected);
  }
  // The object is still usable: drawing a frame reaches no missing interface.
  renderer->ClearFrame(0x20, 1.0f);
  renderer->Print(0, 0, 0, "%d", 1);
  renderer->Present();
}

std::string SiteName(const testing::TestParamInfo<Site>& info) {
  std::string file = info.param.file;
  std::string stem = file.substr(file.find('/') + 1);
  for (char& c : stem)
    if (c == '.') c = '_';
  return stem + "_" + std::to_string(info.param.line) + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(EverySite, CallSites, testing::ValuesIn(kSites), SiteName);

TEST_F(DeviceLayer, TwoFailuresCallTheHookTwiceInOrderAndASuccessKeepsTheCode) {
  standin::InjectFault("IDirect3DDevice7::SetRenderState", 1, (HRESULT)0x88760001);
  standin::InjectFault("IDirect3DDevice7::SetRenderState", 3, (HRESULT)0x88760003);
  MakeFullscreen();
  EXPECT_EQ(HookLines(), (std::vector<int>{108, 132}));
  EXPECT_EQ(renderer->LastResult, (HRESULT)0x88760003);
  // Calls that succeed afterwards (the other states, the clears) left it so.
  renderer->ClearFrame(0x20, 1.0f);
  EXPECT_EQ(renderer->LastResult, (HRESULT)0x88760003);
}

TEST_F(DeviceLayer, AWindowedBlitFailingForAnotherReasonIsIgnored) {
  MakeWindowed();
  standin::InjectFault("IDirectDrawSurface7::Blt", 1, DDERR_GENERIC);
  renderer->Present();
  EXPECT_TRUE(HookCalls().empty());
  EXPECT_EQ(standin::CallCount("IDirectDraw7::RestoreAllSurfaces"), 0);
  standin::InjectFault("IDirectDrawSurface7::Blt", 1, DDERR_SURFACELOST);
  renderer->Present();
  EXPECT_EQ(standin::CallCount("IDirectDraw7::RestoreAllSurfaces"), 1);
  EXPECT_TRUE(HookCalls().empty());
}

// ---------------------------------------------------------------------------
// Textures.

TEST_F(DeviceLayer, ConversionIsRgb565ColumnByColumnAndStaysInsideTheSurface) {
  MakeFullscreen();
  // One row of five texels, then a second row of other values.
  const BYTE image[] = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 8, 4, 8,
                        7,   3,   7,   0,   0, 0, 1, 2,   3, 248, 252, 248, 16, 32, 16};
  int index = renderer->LoadTexture(5, 2, image);
  ASSERT_EQ(index, 0);
  LPDIRECTDRAWSURFACE7 surface = renderer->Textures[0].Surface;
  ASSERT_TRUE(surface);
  DDSURFACEDESC2 desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  ASSERT_EQ(surface->Lock(NULL, &desc, DDLOCK_WAIT, NULL), DD_OK);
  const BYTE* row0 = (const BYTE*)desc.lpSurface;
  const BYTE* row1 = row0 + desc.lPitch;
  // Little-endian: 0x0821 is stored as 21 08.
  const BYTE expect0[] = {0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x21, 0x08};
  const BYTE expect1[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x02, 0x11};
  EXPECT_EQ(memcmp(row0, expect0, sizeof expect0), 0);
  EXPECT_EQ(memcmp(row1, expect1, sizeof expect1), 0);
  surface->Unlock(NULL);
  EXPECT_EQ(renderer->Textures[0].Width, 5);
  EXPECT_EQ(renderer->Textures[0].Height, 2);

  // An image larger than the surface it is given: only the surface is written
  // (the sanitizers watch the memory around it).
  std::vector<BYTE> big(64 * 64 * 3, 0xFF);
  renderer->CopyRGBToSurface(64, 64, big.data(), surface);
  std::vector<uint16_t> all = Pixels16(surface);
  ASSERT_EQ(all.size(), 10u);
  for (uint16_t p : all) EXPECT_EQ(p, 0xFFFF);
  EXPECT_TRUE(HookCalls().empty());
}

TEST_F(DeviceLayer, TheTableHoldsAHundredTexturesAndRefusesTheNext) {
  MakeFullscreen();
  std::vector<BYTE> red(8 * 8 * 3, 0);
  for (size_t i = 0; i < red.size(); i += 3) red[i] = 255;
  for (int i = 0; i < 100; i++) ASSERT_EQ(renderer->LoadTexture(8, 8, red.data()), i);
  EXPECT_EQ(renderer->TextureCount, 100);
  int created = standin::CallCount("IDirectDraw7::CreateSurface");

  // A 101st: CreateTexture answers 0 without creating; the upload is refused
  // and entry 0 keeps its image.
  std::vector<BYTE> blue(16 * 16 * 3, 0);
  for (size_t i = 2; i < blue.size(); i += 3) blue[i] = 255;
  EXPECT_EQ(renderer->CreateTexture(16, 16), 0);
  EXPECT_EQ(renderer->LoadTexture(16, 16, blue.data()), -1);
  Texture record;
  memset(&record, 0, sizeof record);
  record.pixels = blue.data();
  record.width = record.height = 16;
  EXPECT_EQ(renderer->UploadTexture(record), -1);
  EXPECT_EQ(standin::CallCount("IDirectDraw7::CreateSurface"), created);
  EXPECT_EQ(renderer->TextureCount, 100);
  for (uint16_t p : Pixels16(renderer->Textures[0].Surface)) ASSERT_EQ(p, 0xF800);
  EXPECT_EQ(renderer->Textures[0].Width, 8);
}

TEST_F(DeviceLayer, AnUploadWithoutASurfaceIsRefusedAndItsIndexNotReused) {
  MakeFullscreen();
  BYTE image[4 * 4 * 3] = {};
  standin::InjectFault("IDirectDraw7::CreateSurface", 1, DDERR_OUTOFMEMORY);
  EXPECT_EQ(renderer->LoadTexture(4, 4, image), -1);
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Lock"), 0);
  EXPECT_EQ(HookLines(), (std::vector<int>{165}));
  EXPECT_EQ(renderer->LoadTexture(4, 4, image), 1);
}

TEST_F(DeviceLayer, SetTextureRemembersOneIndexForAllStages) {
  MakeFullscreen();
  BYTE image[4 * 4 * 3] = {};
  for (int i = 0; i < 6; i++) renderer->LoadTexture(4, 4, image);
  const char* op = "IDirect3DDevice7::SetTexture";
  renderer->SetTexture(-1, 0);
  EXPECT_EQ(standin::CallCount(op), 0);
  renderer->SetTexture(5, 0);
  renderer->SetTexture(5, 0);
  EXPECT_EQ(standin::CallCount(op), 1);
  renderer->SetTexture(3, 0);
  renderer->SetTexture(3, 1);
  EXPECT_EQ(standin::CallCount(op), 2);
  LPDIRECTDRAWSURFACE7 bound = NULL;
  ASSERT_EQ(renderer->Device->GetTexture(0, &bound), D3D_OK);
  EXPECT_EQ(bound, renderer->Textures[3].Surface);
  if (bound) bound->Release();
  renderer->SetTexture(-1, 0);
  EXPECT_EQ(standin::CallCount(op), 3);
  EXPECT_EQ(renderer->CurrentTexture, -1);
  // An index outside the table is no texture of ours: nothing is read or set.
  renderer->SetTexture(100, 0);
  renderer->SetTexture(-7, 0);
  EXPECT_EQ(standin::CallCount(op), 3);
}

TEST_F(DeviceLayer, AReleasedTextureIsNeverReleasedOrSetAgain) {
  MakeFullscreen();
  BYTE image[4 * 4 * 3] = {};
  ASSERT_EQ(renderer->LoadTexture(4, 4, image), 0);
  renderer->FreeTexture(0);
  EXPECT_EQ(renderer->Textures[0].Surface, (LPDIRECTDRAWSURFACE7)NULL);
  renderer->FreeTexture(0);
  renderer->FreeAllTextures();
  renderer->SetTexture(0, 0);
  LPDIRECTDRAWSURFACE7 bound = (LPDIRECTDRAWSURFACE7)1;
  ASSERT_EQ(renderer->Device->GetTexture(0, &bound), D3D_OK);
  EXPECT_EQ(bound, (LPDIRECTDRAWSURFACE7)NULL);
  // The destructor (in TearDown) finds nothing left to release.
}

// ---------------------------------------------------------------------------
// Drawing.

TEST_F(DeviceLayer, FlushDrawsOneSceneAndAnEmptyBatchNothing) {
  MakeFullscreen();
  renderer->Flush();
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::BeginScene"), 0);
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::DrawPrimitive"), 0);
  renderer->ClearFrame(0x20, 1.0f);
  ClipVertex v[3] = {Corner(100, 100), Corner(300, 100), Corner(100, 300)};
  ClipVertex w[3] = {Corner(100, 100), Corner(100, 300), Corner(300, 100)};
  renderer->AddTriangle(v);
  renderer->AddTriangle(w);
  renderer->Flush();
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::BeginScene"), 1);
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::DrawPrimitive"), 1);
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::EndScene"), 1);
  EXPECT_EQ(renderer->TriangleCount, 0);
  // One of the two windings is culled, the other drawn white over dark blue.
  std::vector<uint16_t> pixels = Pixels16(renderer->BackSurface);
  EXPECT_EQ(pixels[150 * 800 + 150], 0xFFFF);
  EXPECT_EQ(pixels[500 * 800 + 500], 0x0004);  // ARGB 0x20 in RGB565
}

TEST_F(DeviceLayer, PrintIgnoresTheColourAndUsesTheContextDefaults) {
  MakeFullscreen();
  renderer->ClearFrame(0x20, 1.0f);
  renderer->Print(0, 0, 0, "%d", 1234);
  std::vector<uint16_t> black = Pixels16(renderer->BackSurface);
  renderer->ClearFrame(0x20, 1.0f);
  renderer->Print(0xFF0000, 0, 0, "%d", 1234);
  EXPECT_EQ(Pixels16(renderer->BackSurface), black);
  // Black glyphs on a white box at the top left, nothing far from it.
  int white = 0, dark = 0;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 30; x++) {
      if (black[y * 800 + x] == 0xFFFF) white++;
      if (black[y * 800 + x] == 0x0000) dark++;
    }
  EXPECT_GT(white, 0);
  EXPECT_GT(dark, 0);
  EXPECT_EQ(black[100 * 800 + 100], 0x0004);
  // Text longer than the buffer is cut, not overrun.
  std::string longText(2000, 'x');
  renderer->Print(0, 0, 20, "%s", longText.c_str());
  EXPECT_TRUE(HookCalls().empty());
}

TEST_F(DeviceLayer, PresentFlipsTheChainInFullscreen) {
  MakeFullscreen();
  int before = standin::CallCount("IDirectDrawSurface7::Flip");
  renderer->Present();
  renderer->Present();
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Flip"), before + 2);
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Blt"), 1);  // the black-out only
}

// ---------------------------------------------------------------------------
// Window changes.

TEST_F(DeviceLayer, AMoveKeepsEverythingAndAResizeRebuildsWithTheNewSize) {
  MakeWindowed();
  BYTE image[4 * 4 * 3] = {};
  renderer->LoadTexture(4, 4, image);
  renderer->LoadTexture(4, 4, image);
  renderer->SelectTexture(1, 0);
  int devices = standin::CallCount("IDirect3D7::CreateDevice");
  LONG width = renderer->Width;

  standin::DesktopMoved(window, 40, 30);
  EXPECT_FALSE(renderer->OnWindowChanged());
  EXPECT_EQ(renderer->Width, width);
  EXPECT_EQ(renderer->ClientRect.left, 40);
  EXPECT_EQ(renderer->ClientRect.top, 30);
  EXPECT_EQ(renderer->ClientRect.right, 40 + width);
  EXPECT_EQ(standin::CallCount("IDirect3D7::CreateDevice"), devices);

  standin::DesktopResized(window, 320, 200);
  EXPECT_TRUE(renderer->OnWindowChanged());
  EXPECT_EQ(renderer->GetWidth(), 320);
  EXPECT_EQ(renderer->GetHeight(), 200);
  EXPECT_EQ(standin::CallCount("IDirect3D7::CreateDevice"), devices + 1);
  ASSERT_TRUE(renderer->Device && renderer->ZBuffer && renderer->BackSurface);
  EXPECT_EQ(DescOf(renderer->BackSurface).dwWidth, 320u);
  EXPECT_EQ(DescOf(renderer->ZBuffer).dwHeight, 200u);
  D3DVIEWPORT7 vp;
  ASSERT_EQ(renderer->Device->GetViewport(&vp), D3D_OK);
  EXPECT_EQ(vp.dwWidth, 320u);
  EXPECT_EQ(vp.dwHeight, 200u);
  EXPECT_EQ(RenderState(renderer->Device, D3DRENDERSTATE_CULLMODE), (DWORD)D3DCULL_CW);
  // The texture indices stay: the same index again makes no device call.
  EXPECT_EQ(renderer->TextureCount, 2);
  EXPECT_EQ(renderer->CurrentTexture, 1);
  int sets = standin::CallCount("IDirect3DDevice7::SetTexture");
  renderer->SetTexture(1, 0);
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::SetTexture"), sets);
  EXPECT_TRUE(HookCalls().empty());
}

TEST_F(DeviceLayer, WindowMessagesReachTheRendererOnlyWhileReady) {
  MakeWindowed();
  ActiveRenderer = renderer;
  RendererReady = 0;
  standin::DesktopResized(window, 300, 200);
  EXPECT_NE(renderer->Width, 300);
  RendererReady = 1;
  standin::DesktopResized(window, 310, 210);
  EXPECT_EQ(renderer->Width, 310);
  EXPECT_EQ(renderer->Height, 210);
  int blits = standin::CallCount("IDirectDrawSurface7::Blt");
  standin::DesktopExposed(window);
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Blt"), blits + 1);
  RendererReady = 0;
}

using DeviceLayerDeathTest = DeviceLayer;

TEST_F(DeviceLayerDeathTest, ReleaseTestsEndTheProcessWithCodeOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MakeWindowed();
        renderer->Device->AddRef();  // still referenced elsewhere
        standin::DesktopResized(window, 320, 200);
        renderer->OnWindowChanged();
      },
      testing::ExitedWithCode(1), "Error releasing Direct3DDevice7: 1");
  EXPECT_EXIT(
      {
        MakeWindowed();
        renderer->BackSurface->AddRef();
        standin::DesktopResized(window, 320, 200);
        renderer->OnWindowChanged();
      },
      testing::ExitedWithCode(1), "error releasing BackSurface : 1");
  EXPECT_EXIT(
      {
        MakeWindowed();
        renderer->ZBuffer->AddRef();
        standin::DesktopResized(window, 320, 200);
        renderer->OnWindowChanged();
      },
      testing::ExitedWithCode(1), "Error releasing ZBuffer: 1");
}

TEST_F(DeviceLayer, TearDownWritesTheFourLinesInOrder) {
  MakeFullscreen();
  // Every reference the layer took is returned: ours is the last one left.
  LPDIRECTDRAWSURFACE7 back = renderer->BackSurface;
  LPDIRECTDRAWSURFACE7 texture = NULL;
  BYTE image[4 * 4 * 3] = {};
  renderer->LoadTexture(4, 4, image);
  texture = renderer->Textures[0].Surface;
  back->AddRef();
  texture->AddRef();
  Renderer* base = renderer;
  renderer = 0;
  std::string log = CaptureLog([&] { delete base; });
  EXPECT_EQ(back->Release(), 0u);
  EXPECT_EQ(texture->Release(), 0u);
  EXPECT_EQ(log,
            "\nD3DRenderer destruktor\nRenderer destruktor\ncDirect3D destruktor\ncDDraw "
            "destructor");
  int w = -1, h = -1, bits = -1;
  standin::CurrentHost().GetDisplayMode(&w, &h, &bits);
  EXPECT_EQ(w, 0);  // display mode restored
}

TEST_F(DeviceLayer, AFailedCreationLeavesNothingToCallThrough) {
  standin::InjectFault("DirectDrawCreateEx", 1, DDERR_GENERIC);
  MakeFullscreen();
  EXPECT_EQ(HookLines(), (std::vector<int>{56}));
  EXPECT_FALSE(renderer->Device);
  BYTE image[4 * 4 * 3] = {};
  Texture texture;
  memset(&texture, 0, sizeof texture);
  texture.pixels = image;
  texture.width = texture.height = 4;
  EXPECT_EQ(renderer->UploadTexture(texture), -1);
  ClipVertex v[3] = {Corner(1, 1), Corner(5, 1), Corner(1, 5)};
  renderer->AddTriangle(v);
  renderer->Flush();
  renderer->SelectTexture(0, 0);
  renderer->ClearFrame(0, 1.0f);
  renderer->Print(0, 0, 0, "x");
  renderer->Present();
  renderer->OnWindowChanged();
  EXPECT_EQ(HookLines(), (std::vector<int>{56}));
}

}  // namespace
