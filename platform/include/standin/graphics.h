// Test hooks of the graphics stand-in (DirectDraw, Direct3D, GDI).
//
// Not part of the Windows API: only the stand-in, tests and tools include this.
#ifndef STANDIN_GRAPHICS_H
#define STANDIN_GRAPHICS_H

namespace standin {

// Marks every live DirectDraw surface lost, as when another program takes the
// display: Blt, Flip, Lock and GetDC answer DDERR_SURFACELOST until the
// surface is restored (IDirectDrawSurface7::Restore or
// IDirectDraw7::RestoreAllSurfaces).
void LoseAllSurfaces();

// Whether TextOutA draws (default: yes). Hidden, every call still succeeds
// and draws nothing: a host option for showing the picture without the
// program's own text.
void SetTextShown(bool shown);

// Number of live DirectDraw surfaces in the process (leak checks in tests).
int LiveSurfaceCount();

}  // namespace standin

#endif
