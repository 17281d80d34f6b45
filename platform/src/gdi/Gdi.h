// Device contexts that draw into a raster target (IDirectDrawSurface7::GetDC
// hands one out over its memory). GDI knows nothing of surfaces: it draws
// into the target and calls the owner back after each drawing call.
#ifndef STANDIN_GDI_GDI_H
#define STANDIN_GDI_GDI_H

#include <windows.h>

#include "raster/Raster.h"
#include "standin/resolution.h"

namespace standin {

// Called after a drawing call changed the target's pixels.
using DrawnCallback = void (*)(void* owner);

// A new device context over `target`'s colour memory, which must stay in place
// until DestroyDC; `drawn` (may be null) is called with `owner`. Positions and
// text are in the program's pixels; `scaleX` and `scaleY` map them to the
// target's (a forced resolution): each text pixel fills the target pixels
// [Edge(i), Edge(i + 1)), so the bitmap font is enlarged pixel by pixel.
HDC CreateDC(const raster::Target& target, AxisScale scaleX, AxisScale scaleY, DrawnCallback drawn,
             void* owner);
// Releases a context; a handle that is not a live context is ignored.
void DestroyDC(HDC dc);
// Whether `dc` is a live context.
bool IsLiveDC(HDC dc);

}  // namespace standin

#endif
