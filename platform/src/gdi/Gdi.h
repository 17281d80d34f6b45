// Device contexts over DirectDraw surfaces (IDirectDrawSurface7::GetDC).
#ifndef STANDIN_GDI_GDI_H
#define STANDIN_GDI_GDI_H

#include <windows.h>

namespace standin {

class Surface;

// GDI's defaults for a new device context: black text on an opaque white
// background, the System font, alignment left/top.
struct DeviceContext {
  Surface* surface = nullptr;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF backgroundColor = RGB(255, 255, 255);
  int backgroundMode = OPAQUE;
};

// A new device context drawing into `surface`'s memory, and its release.
HDC CreateSurfaceDC(Surface* surface);
void DestroySurfaceDC(HDC dc);
// The context behind a handle, or null when the handle is not a live context.
DeviceContext* LookupDC(HDC dc);

}  // namespace standin

#endif
