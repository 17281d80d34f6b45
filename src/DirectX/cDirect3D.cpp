#include "cDirect3D.h"

#include <stdlib.h>

#include "DebugPrint.h"

const char* const kDirect3DFile = "DirectX/cDirect3D.cpp";

cDirect3D::cDirect3D(HWND window, bool fullscreen, bool hardware, int width, int height,
                     int bitsPerPixel, int backBufferCount)
    : cDDraw(window, fullscreen, width, height, bitsPerPixel, backBufferCount) {
  Hardware = hardware;
  FlipPresent = fullscreen;
  Direct3D = NULL;
  Device = NULL;
  ZBuffer = NULL;
  memset(&ZBufferFormat, 0, sizeof ZBufferFormat);
  memset(&ZBufferDesc, 0, sizeof ZBufferDesc);
  if (DirectDraw)
    Check(DirectDraw->QueryInterface(IID_IDirect3D7, (LPVOID*)&Direct3D), kLineQueryDirect3D,
          kDirect3DFile);

  for (int i = 0; i < kMaxTextures; i++) {
    Textures[i].Surface = NULL;
    Textures[i].Width = 0;
    Textures[i].Height = 0;
  }
  TextureCount = 0;
  CurrentTexture = -1;

  // Textures take the primary surface's pixel format.
  memset(&TextureDesc, 0, sizeof TextureDesc);
  TextureDesc.dwSize = sizeof TextureDesc;
  if (PrimarySurface)
    Check(PrimarySurface->GetSurfaceDesc(&TextureDesc), kLineTextureDesc, kDirect3DFile);
  TextureDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  TextureDesc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
  TextureDesc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
  TextureDesc.ddsCaps.dwCaps3 = 0;
  TextureDesc.ddsCaps.dwCaps4 = 0;

  CreateDevice();
}

HRESULT CALLBACK cDirect3D::EnumZBufferCallback(LPDDPIXELFORMAT format, LPVOID context) {
  // A plain depth buffer only: a format with stencil bits is passed over.
  if (format && format->dwFlags == DDPF_ZBUFFER) {
    memcpy(context, format, sizeof(DDPIXELFORMAT));
    return D3DENUMRET_CANCEL;
  }
  return D3DENUMRET_OK;
}

void cDirect3D::CreateDevice() {
  const GUID& deviceType = Hardware ? IID_IDirect3DHALDevice : IID_IDirect3DRGBDevice;
  if (Direct3D)
    Check(Direct3D->EnumZBufferFormats(deviceType, EnumZBufferCallback, &ZBufferFormat),
          Hardware ? kLineEnumZBufferHardware : kLineEnumZBufferSoftware, kDirect3DFile);

  memset(&ZBufferDesc, 0, sizeof ZBufferDesc);
  ZBufferDesc.dwSize = sizeof ZBufferDesc;
  ZBufferDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  ZBufferDesc.dwWidth = Width;
  ZBufferDesc.dwHeight = Height;
  ZBufferDesc.ddpfPixelFormat = ZBufferFormat;
  ZBufferDesc.ddsCaps.dwCaps =
      DDSCAPS_ZBUFFER | (Hardware ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
  if (DirectDraw)
    Check(DirectDraw->CreateSurface(&ZBufferDesc, &ZBuffer, NULL), kLineCreateZBuffer,
          kDirect3DFile);
  if (BackSurface && ZBuffer)
    Check(BackSurface->AddAttachedSurface(ZBuffer), kLineAttachZBuffer, kDirect3DFile);

  if (Direct3D && BackSurface)
    Check(Direct3D->CreateDevice(deviceType, BackSurface, &Device),
          Hardware ? kLineCreateDeviceHardware : kLineCreateDeviceSoftware, kDirect3DFile);
  if (!Device) return;  // every step below talks to the device

  Check(Device->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE), kLineZEnable, kDirect3DFile);
  Check(Device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE), kLineZWriteEnable,
        kDirect3DFile);
  ClearZBuffer(1.0f);

  D3DVIEWPORT7 viewport;
  viewport.dwX = 0;
  viewport.dwY = 0;
  viewport.dwWidth = Width;
  viewport.dwHeight = Height;
  viewport.dvMinZ = 0.0f;
  viewport.dvMaxZ = 1.0f;
  Check(Device->SetViewport(&viewport), kLineSetViewport, kDirect3DFile);

  // Front faces run counter-clockwise on the screen.
  Check(Device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CW), kLineCullMode,
        kDirect3DFile);
  Check(Device->SetRenderState(D3DRENDERSTATE_CLIPPING, TRUE), kLineClipping, kDirect3DFile);
  if (Hardware) {
    Check(Device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR), kLineMagFilter,
          kDirect3DFile);
    Check(Device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR), kLineMinFilter,
          kDirect3DFile);
  }
  Clear(0, 1.0f);
}

void cDirect3D::ClearZBuffer(float depth) {
  if (!Device) return;
  Check(Device->Clear(0, NULL, D3DCLEAR_ZBUFFER, 0, depth, 0), kLineClearZBuffer, kDirect3DFile);
}

void cDirect3D::Clear(DWORD color, float depth) {
  if (!Device) return;
  Check(Device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, depth, 0), kLineClear,
        kDirect3DFile);
}

int cDirect3D::CreateTexture(int width, int height) {
  if (TextureCount >= kMaxTextures) return 0;
  TextureDesc.dwWidth = width;
  TextureDesc.dwHeight = height;
  TextureEntry& entry = Textures[TextureCount];
  if (DirectDraw)
    Check(DirectDraw->CreateSurface(&TextureDesc, &entry.Surface, NULL), kLineCreateTexture,
          kDirect3DFile);
  entry.Width = width;
  entry.Height = height;
  return TextureCount++;
}

int cDirect3D::LoadTexture(int width, int height, const BYTE* pixels) {
  // A full table would hand back entry 0, which holds another image: refused.
  if (TextureCount >= kMaxTextures) return -1;
  int index = CreateTexture(width, height);
  if (!Textures[index].Surface) return -1;  // no surface to convert into
  CopyRGBToSurface(width, height, pixels, Textures[index].Surface);
  return index;
}

void cDirect3D::ReleaseTexture(int index) {
  if (index < 0 || index >= kMaxTextures) return;
  if (Textures[index].Surface) {
    Textures[index].Surface->Release();
    Textures[index].Surface = NULL;  // never released twice, never set again
  }
}

void cDirect3D::ReleaseTextures() {
  for (int i = 0; i < kMaxTextures; i++) ReleaseTexture(i);
}

void cDirect3D::SetTexture(int index, int stage) {
  if (index == CurrentTexture) return;
  if (index != -1 && (index < 0 || index >= kMaxTextures)) return;  // not a table index
  if (!Device) return;
  if (index == -1) {
    Check(Device->SetTexture(stage, NULL), kLineSetNoTexture, kDirect3DFile);
    CurrentTexture = -1;
  } else {
    Check(Device->SetTexture(stage, Textures[index].Surface), kLineSetTexture, kDirect3DFile);
    CurrentTexture = index;
  }
}

bool cDirect3D::OnWindowChanged() {
  if (!UpdateClientRect()) return false;
  if (!Device) return true;

  ULONG count = Device->Release();
  if (count != 0) {
    DebugPrint("\nError releasing Direct3DDevice7: %d", (int)count);
    exit(1);
  }
  Device = NULL;

  RecreateBackSurface();

  if (ZBuffer) {
    count = ZBuffer->Release();
    if (count != 0) {
      DebugPrint("\nError releasing ZBuffer: %d", (int)count);
      exit(1);
    }
    ZBuffer = NULL;
  }

  CreateDevice();
  return true;
}

cDirect3D::~cDirect3D() {
  DebugPrint("\ncDirect3D destruktor");
  if (Device) Device->Release();
  if (ZBuffer) ZBuffer->Release();
  if (Direct3D) Direct3D->Release();
  ReleaseTextures();
}
