#include "cDDraw.h"

#include <stdio.h>
#include <stdlib.h>

#include "DebugPrint.h"

const char* const kDDrawFile = "DirectX/cDDraw.cpp";
const char* const kDDrawHeaderFile = "DirectX/cDDraw.h";

BOOL WINAPI cDDraw::DDEnumCallbackEx(GUID*, LPSTR, LPSTR name, LPVOID, HMONITOR) {
  DebugPrint("\nDDEnumCallbackEx: %s", name ? name : "");
  return TRUE;
}

cDDraw::cDDraw(HWND window, bool fullscreen, int width, int height, int bitsPerPixel,
               int backBufferCount) {
  DebugPrint("\ncDDraw constructor");
  Fullscreen = fullscreen;
  BackBufferCount = fullscreen ? (DWORD)backBufferCount : 0;
  Window = window;
  Width = width;
  Height = height;
  BitsPerPixel = bitsPerPixel;
  DirectDraw = NULL;
  Clipper = NULL;
  PrimarySurface = NULL;
  BackSurface = NULL;
  ClientRect.left = ClientRect.top = ClientRect.right = ClientRect.bottom = 0;

  // The enumeration only logs; the device used is always the active driver.
  DirectDrawEnumerateExA(DDEnumCallbackEx, this,
                         DDENUM_ATTACHEDSECONDARYDEVICES | DDENUM_DETACHEDSECONDARYDEVICES |
                             DDENUM_NONDISPLAYDEVICES);

  Check(DirectDrawCreateEx(NULL, (LPVOID*)&DirectDraw, IID_IDirectDraw7, NULL),
        kLineDirectDrawCreateEx, kDDrawFile);
  if (!DirectDraw) return;  // nothing below can work without the DirectDraw object

  if (Fullscreen) {
    Check(DirectDraw->SetCooperativeLevel(Window,
                                          DDSCL_FULLSCREEN | DDSCL_NOWINDOWCHANGES | DDSCL_EXCLUSIVE),
          kLineSetCooperativeFullscreen, kDDrawFile);
    Check(DirectDraw->SetDisplayMode(Width, Height, BitsPerPixel, 0, 0), kLineSetDisplayMode,
          kDDrawFile);
  } else {
    Check(DirectDraw->SetCooperativeLevel(Window, DDSCL_NORMAL), kLineSetCooperativeNormal,
          kDDrawFile);
  }
  CreateSurfaces();
}

void cDDraw::CreateSurfaces() {
  DDSURFACEDESC2 desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (Fullscreen) desc.ddsCaps.dwCaps |= DDSCAPS_3DDEVICE;
  desc.dwBackBufferCount = BackBufferCount;
  if (BackBufferCount != 0) {
    desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps |= DDSCAPS_COMPLEX | DDSCAPS_FLIP;
  }
  Check(DirectDraw->CreateSurface(&desc, &PrimarySurface, NULL), kLineCreatePrimary, kDDrawFile);

  if (BackBufferCount != 0) {
    DDSCAPS2 caps;
    memset(&caps, 0, sizeof caps);
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    if (PrimarySurface)
      Check(PrimarySurface->GetAttachedSurface(&caps, &BackSurface), kLineGetBackBuffer,
            kDDrawFile);
  } else {
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
    if (!Fullscreen) UpdateClientRect();
    DebugPrint("\nwidth:%d, height:%d", Width, Height);
    desc.dwWidth = Width;
    desc.dwHeight = Height;
    Check(DirectDraw->CreateSurface(&desc, &BackSurface, NULL), kLineCreateBackSurface,
          kDDrawFile);
    Check(DirectDraw->CreateClipper(0, &Clipper, NULL), kLineCreateClipper, kDDrawFile);
    if (Clipper) Check(Clipper->SetHWnd(0, Window), kLineClipperSetHWnd, kDDrawFile);
    if (PrimarySurface && Clipper)
      Check(PrimarySurface->SetClipper(Clipper), kLineSetClipper, kDDrawFile);
  }

  if (!PrimarySurface) return;
  // Black out the visible picture.
  DDBLTFX fx;
  memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  fx.dwFillColor = 0;
  if (Fullscreen)
    Check(PrimarySurface->Blt(NULL, NULL, NULL, DDBLT_COLORFILL | DDBLT_WAIT, &fx),
          kLineBlackOutFullscreen, kDDrawFile);
  else
    Check(PrimarySurface->Blt(&ClientRect, NULL, NULL, DDBLT_COLORFILL | DDBLT_WAIT, &fx),
          kLineBlackOutWindow, kDDrawFile);

  DDPIXELFORMAT format;
  memset(&format, 0, sizeof format);
  format.dwSize = sizeof format;
  Check(PrimarySurface->GetPixelFormat(&format), kLineGetPixelFormat, kDDrawFile);
  DebugPrint(
      "\nPixelformat: Flags:%08x  dwRGBBitCount:%08x  dwRBitMask:%08x  dwGBitMask:%08x   "
      "dwBBitMask:%08x",
      (unsigned)format.dwFlags, (unsigned)format.dwRGBBitCount, (unsigned)format.dwRBitMask,
      (unsigned)format.dwGBitMask, (unsigned)format.dwBBitMask);
}

void cDDraw::BltToWindow() {
  if (!PrimarySurface) return;
  HRESULT result = PrimarySurface->Blt(&ClientRect, BackSurface, NULL, DDBLT_WAIT, NULL);
  // Only surface loss is handled; the frame is not blitted again.
  if (result == DDERR_SURFACELOST)
    Check(DirectDraw->RestoreAllSurfaces(), kLineRestoreAllSurfaces, kDDrawFile);
}

bool cDDraw::UpdateClientRect() {
  GetClientRect(Window, &ClientRect);
  ClientToScreen(Window, (LPPOINT)&ClientRect.left);
  ClientToScreen(Window, (LPPOINT)&ClientRect.right);
  int32_t width = ClientRect.right - ClientRect.left;
  int32_t height = ClientRect.bottom - ClientRect.top;
  bool changed = width != Width || height != Height;
  Width = width;
  Height = height;
  return changed;
}

void cDDraw::RecreateBackSurface() {
  DDSURFACEDESC2 desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  if (BackSurface)
    Check(BackSurface->GetSurfaceDesc(&desc), kLineRecreateGetDesc, kDDrawFile);
  if (BackSurface) {
    ULONG count = BackSurface->Release();
    if (count != 0) {
      DebugPrint("error releasing BackSurface : %d", (int)count);
      exit(1);
    }
    BackSurface = NULL;
  }
  desc.dwWidth = Width;
  desc.dwHeight = Height;
  if (DirectDraw)
    Check(DirectDraw->CreateSurface(&desc, &BackSurface, NULL), kLineRecreateCreate,
          kDDrawFile);
}

void cDDraw::CopyRGBToSurface(int width, int height, const BYTE* pixels,
                              LPDIRECTDRAWSURFACE7 surface) {
  if (!surface) return;
  DDSURFACEDESC2 desc;
  memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  if (!Check(surface->Lock(NULL, &desc, DDLOCK_WAIT, NULL), kLineCopyLock, kDDrawFile))
    return;  // no surface memory to write to, and nothing to unlock
  BYTE* memory = (BYTE*)desc.lpSurface;
  LONG pitch = desc.lPitch;
  // Never past the locked surface, whatever size the image claims.
  int columns = width < (int)desc.dwWidth ? width : (int)desc.dwWidth;
  int rows = height < (int)desc.dwHeight ? height : (int)desc.dwHeight;
  if (memory && pixels) {
    for (int x = 0; x < columns; x++) {
      for (int y = 0; y < rows; y++) {
        const BYTE* texel = pixels + 3 * ((size_t)y * width + x);
        WORD value = (WORD)(((texel[0] >> 3) << 11) | ((texel[1] >> 2) << 5) | (texel[2] >> 3));
        BYTE* out = memory + (ptrdiff_t)y * pitch + 2 * x;
        out[0] = (BYTE)(value & 0xFF);  // little-endian
        out[1] = (BYTE)(value >> 8);
      }
    }
  }
  Check(surface->Unlock(NULL), kLineCopyUnlock, kDDrawFile);
}

void cDDraw::PrintText(DWORD, int x, int y, const char* format, va_list args) {
  if (!BackSurface) return;
  HDC dc = NULL;
  if (!Check(BackSurface->GetDC(&dc), kLinePrintGetDC, kDDrawFile)) return;
  char text[kPrintBufferSize];
  int length = _vsnprintf(text, sizeof text, format, args);
  // Text that does not fit is cut to the buffer.
  if (length < 0 || length > (int)sizeof text) length = (int)sizeof text;
  TextOutA(dc, x, y, text, length);
  Check(BackSurface->ReleaseDC(dc), kLinePrintReleaseDC, kDDrawFile);
}

cDDraw::~cDDraw() {
  DebugPrint("\ncDDraw destructor");
  if (DirectDraw) DirectDraw->RestoreDisplayMode();
  if (Clipper) {
    Clipper->Release();
    Clipper = NULL;
  }
  // Windowed it is our own surface. In a flip chain it is the chain's, but
  // GetAttachedSurface gave us a reference of our own, which must be returned
  // too or the back buffer outlives the display; and returned before the
  // primary, whose last release destroys the whole chain.
  if (BackSurface) BackSurface->Release();
  BackSurface = NULL;
  if (PrimarySurface) {
    PrimarySurface->Release();
    PrimarySurface = NULL;
  }
  if (DirectDraw) {
    DirectDraw->Release();
    DirectDraw = NULL;
  }
}
