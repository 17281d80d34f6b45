// GDI: stock objects and text output on a device context.
//
// A device context from IDirectDrawSurface7::GetDC starts with GDI's defaults:
// the System font, black text on an opaque white background, alignment
// left/top. Only those defaults are built.
#ifndef STANDIN_WIN32_GDI_H
#define STANDIN_WIN32_GDI_H

#include "types.h"

// Stock objects.
#define WHITE_BRUSH 0
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define SYSTEM_FONT 13

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))

#ifdef __cplusplus
extern "C" {
#endif

HGDIOBJ WINAPI GetStockObject(int object);
// Draws `length` characters of code page 1252 text with its top-left corner at (x, y).
BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int length);

#ifdef __cplusplus
}
#endif

#endif
