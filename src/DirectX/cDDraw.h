// The DirectDraw display: the DirectDraw 7 object, the primary surface with
// its flip chain (fullscreen) or a back surface with a clipper (windowed),
// presenting, the client rectangle, the RGB565 texture conversion and text
// through GDI.
//
// Constructed only as the base part of cDirect3D. Every tested call follows
// the failure convention of cDXObject with its line below and kDDrawFile (or
// kDDrawHeaderFile for Flip, defined inline here).
#ifndef CDDRAW_H
#define CDDRAW_H

#include <stdarg.h>
#include <stdint.h>
#include <windows.h>
#include <ddraw.h>

#include "cDXObject.h"

extern const char* const kDDrawFile;        // "DirectX/cDDraw.cpp"
extern const char* const kDDrawHeaderFile;  // "DirectX/cDDraw.h"

// Call-site lines of cDDraw.
enum {
  kLineFlip = 25,                  // header: PrimarySurface Flip
  kLineDirectDrawCreateEx = 56,
  kLineSetCooperativeFullscreen = 59,
  kLineSetDisplayMode = 60,
  kLineSetCooperativeNormal = 62,
  kLineCreatePrimary = 123,
  kLineGetBackBuffer = 129,
  kLineCreateBackSurface = 140,
  kLineCreateClipper = 143,
  kLineClipperSetHWnd = 144,
  kLineSetClipper = 145,
  kLineBlackOutFullscreen = 153,
  kLineBlackOutWindow = 155,
  kLineGetPixelFormat = 160,
  kLineCopyLock = 174,
  kLineCopyUnlock = 192,
  kLineRestoreAllSurfaces = 199,
  kLineRecreateGetDesc = 226,
  kLineRecreateCreate = 240,
  kLinePrintGetDC = 257,
  kLinePrintReleaseDC = 268,
};

// Text longer than this is cut.
const int kPrintBufferSize = 512;

class cDDraw : public cDXObject {
 public:
  LPDIRECTDRAW7 DirectDraw;            // owned
  LPDIRECTDRAWSURFACE7 PrimarySurface; // owned; fullscreen: root of the flip chain
  LPDIRECTDRAWSURFACE7 BackSurface;    // drawn into; fullscreen: first back buffer of the
                                       // chain (not owned), windowed: owned, client size
  int32_t Width;                       // pixels: display width, or the client width windowed
  int32_t Height;                      // pixels: as Width
  int32_t BitsPerPixel;                // fullscreen display mode depth
  DWORD BackBufferCount;               // back buffers of the chain; 0 windowed
  LPDIRECTDRAWCLIPPER Clipper;         // owned; only without a flip chain
  HWND Window;
  RECT ClientRect;                     // client area in screen coordinates, pixels
  bool Fullscreen;                     // exclusive mode with a display mode of our own

  // Logs "\ncDDraw constructor", takes the display, makes the surfaces.
  cDDraw(HWND window, bool fullscreen, int width, int height, int bitsPerPixel,
         int backBufferCount);
  // Logs "\ncDDraw destructor", restores the display mode, releases everything.
  ~cDDraw();

  void CreateSurfaces();
  // Presents: flips when the object is a fullscreen cDirect3D, else BltToWindow.
  // Defined below once cDirect3D is known.
  inline void Flip();
  // Copies BackSurface to ClientRect of the primary; restores lost surfaces.
  void BltToWindow();
  // Reads the client rectangle in screen coordinates into ClientRect, stores
  // its size in Width and Height; true when the size differs from before.
  bool UpdateClientRect();
  // A new back surface of Width x Height; ends the process with exit code 1
  // when the old one is still referenced elsewhere.
  void RecreateBackSurface();
  // Writes w x h pixels of 3 bytes (red, green, blue; rows of 3*w bytes) into
  // `surface` as RGB565 ((r >> 3) << 11 | (g >> 2) << 5 | b >> 3), column by
  // column. Only the part that lies inside the surface is written.
  void CopyRGBToSurface(int width, int height, const BYTE* pixels,
                        LPDIRECTDRAWSURFACE7 surface);
  // Formats into 512 bytes and draws it on BackSurface at (x, y) with the
  // device context's default font and colours; `ignored` is not used.
  void PrintText(DWORD ignored, int x, int y, const char* format, va_list args);

  // Logs each DirectDraw device's driver name; always continues.
  static BOOL WINAPI DDEnumCallbackEx(GUID* guid, LPSTR description, LPSTR name,
                                      LPVOID context, HMONITOR monitor);
};

#endif  // CDDRAW_H

// Flip needs cDirect3D's FlipPresent, so it is defined once both classes are.
#if defined(CDIRECT3D_CLASS_DEFINED) && !defined(CDDRAW_FLIP_DEFINED)
#define CDDRAW_FLIP_DEFINED
inline void cDDraw::Flip() {
  cDirect3D* device = static_cast<cDirect3D*>(this);
  if (device->FlipPresent) {
    if (PrimarySurface) Check(PrimarySurface->Flip(NULL, DDFLIP_WAIT), kLineFlip, kDDrawHeaderFile);
  } else {
    BltToWindow();
  }
}
#endif
