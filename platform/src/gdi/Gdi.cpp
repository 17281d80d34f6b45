// GDI text on DirectDraw surfaces: TextOutA with the System font.
//
// The font is the System-metrics bitmap font of Debian's fonts-wine package
// (a Windows FNT font: proportional, 16-pixel cell, ascent 13), read through
// FreeType. Its character codes are code page 1252 bytes, so text bytes index
// it directly; bytes the font lacks draw its default character, as on Windows.
#include "gdi/Gdi.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_WINFONTS_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ddraw/DirectDraw.h"
#include "standin/graphics.h"

#ifndef STANDIN_SYSTEM_FONT
#error "STANDIN_SYSTEM_FONT must name the System font file"
#endif

namespace standin {

namespace {

std::vector<DeviceContext*>& LiveContexts() {
  static std::vector<DeviceContext*> contexts;
  return contexts;
}

struct SystemFont {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  int cellHeight = 0;  // pixels
  int ascent = 0;      // pixels from the cell top to the baseline
};

// Loads the font once; null (after a message naming the file) when it cannot.
const SystemFont* GetSystemFont() {
  static SystemFont font;
  static bool tried = false;
  if (tried) return font.face != nullptr ? &font : nullptr;
  tried = true;
  const char* path = STANDIN_SYSTEM_FONT;
  FT_Error error = FT_Init_FreeType(&font.library);
  if (error == 0) error = FT_New_Face(font.library, path, 0, &font.face);
  if (error == 0 && font.face->num_charmaps > 0) error = FT_Set_Charmap(font.face, font.face->charmaps[0]);
  FT_WinFNT_HeaderRec header;
  if (error == 0) error = FT_Get_WinFNT_Header(font.face, &header);
  // A bitmap font: select its one strike.
  if (error == 0) error = font.face->num_fixed_sizes > 0 ? FT_Select_Size(font.face, 0) : FT_Err_Invalid_File_Format;
  if (error != 0 || font.face == nullptr) {
    std::fprintf(stderr, "TextOutA: cannot load the System font %s (FreeType error %d)\n", path,
                 static_cast<int>(error));
    if (font.face != nullptr) FT_Done_Face(font.face);
    font.face = nullptr;
    return nullptr;
  }
  font.cellHeight = header.pixel_height;
  font.ascent = header.ascent;
  return &font;
}

// Device pixels per pixel of text, per axis (SetTextScale); 1 on Windows.
double g_textScaleX = 1.0, g_textScaleY = 1.0;
bool g_textShown = true;

// The device pixels of text pixel i at `scale`: those whose centre falls in it,
// [ceil(i * scale - 0.5), ceil((i + 1) * scale - 0.5)). Neighbouring text
// pixels tile the row; at scale 1 this is [i, i + 1).
int ScaledEdge(int i, double scale) { return static_cast<int>(std::ceil(i * scale - 0.5)); }

// 0x00BBGGRR to the surface's pixel value.
uint32_t ToPixel(COLORREF c, raster::ColorFormat format) {
  const uint32_t rgb = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  return format == raster::ColorFormat::RGB565 ? raster::ToRgb565(rgb) : rgb;
}

}  // namespace

void SetTextScale(double scaleX, double scaleY) {
  g_textScaleX = scaleX > 0 ? scaleX : 1.0;
  g_textScaleY = scaleY > 0 ? scaleY : 1.0;
}

void SetTextShown(bool shown) { g_textShown = shown; }

HDC CreateSurfaceDC(Surface* surface) {
  auto* dc = new DeviceContext;
  dc->surface = surface;
  LiveContexts().push_back(dc);
  return reinterpret_cast<HDC>(dc);
}

void DestroySurfaceDC(HDC handle) {
  DeviceContext* dc = LookupDC(handle);
  if (dc == nullptr) return;
  auto& live = LiveContexts();
  live.erase(std::remove(live.begin(), live.end(), dc), live.end());
  delete dc;
}

DeviceContext* LookupDC(HDC handle) {
  auto* dc = reinterpret_cast<DeviceContext*>(handle);
  const auto& live = LiveContexts();
  return std::find(live.begin(), live.end(), dc) != live.end() ? dc : nullptr;
}

}  // namespace standin

using standin::DeviceContext;
using standin::LookupDC;

extern "C" BOOL WINAPI TextOutA(HDC handle, int x, int y, LPCSTR text, int length) {
  DeviceContext* dc = LookupDC(handle);
  if (dc == nullptr || length < 0 || (text == nullptr && length > 0)) return FALSE;
  if (length == 0 || !standin::g_textShown) return TRUE;
  const standin::SystemFont* font = standin::GetSystemFont();
  if (font == nullptr) return FALSE;

  standin::Surface* surface = dc->surface;
  const standin::raster::Target target = surface->ColorTarget();
  const int bpp = target.format == standin::raster::ColorFormat::RGB565 ? 2 : 4;
  // Positions and glyphs are in text pixels; each becomes the block of device
  // pixels ScaledEdge gives (one pixel unless a capture scaled the text).
  const double scaleX = standin::g_textScaleX, scaleY = standin::g_textScaleY;
  const bool unscaled = scaleX == 1.0 && scaleY == 1.0;
  auto put = [&](int px, int py, uint32_t value) {
    const int x0 = std::max(0, unscaled ? px : standin::ScaledEdge(px, scaleX));
    const int x1 = std::min(target.width, unscaled ? px + 1 : standin::ScaledEdge(px + 1, scaleX));
    const int y0 = std::max(0, unscaled ? py : standin::ScaledEdge(py, scaleY));
    const int y1 = std::min(target.height, unscaled ? py + 1 : standin::ScaledEdge(py + 1, scaleY));
    for (int dy = y0; dy < y1; ++dy) {
      uint8_t* p = target.color + static_cast<ptrdiff_t>(dy) * target.pitch + static_cast<ptrdiff_t>(x0) * bpp;
      for (int dx = x0; dx < x1; ++dx, p += bpp) {
        if (bpp == 2) {
          const uint16_t v = static_cast<uint16_t>(value);
          std::memcpy(p, &v, 2);
        } else {
          std::memcpy(p, &value, 4);
        }
      }
    }
  };

  FT_Face face = font->face;
  // Pass 1: the width of the text cell.
  int width = 0;
  for (int i = 0; i < length; ++i) {
    const auto code = static_cast<unsigned char>(text[i]);
    if (FT_Load_Char(face, code, FT_LOAD_DEFAULT) != 0) continue;
    width += static_cast<int>(face->glyph->advance.x >> 6);
  }
  if (dc->backgroundMode == OPAQUE) {
    const uint32_t bk = standin::ToPixel(dc->backgroundColor, target.format);
    for (int py = y; py < y + font->cellHeight; ++py) {
      for (int px = x; px < x + width; ++px) put(px, py, bk);
    }
  }
  // Pass 2: the glyphs, top of the cell at y.
  const uint32_t fg = standin::ToPixel(dc->textColor, target.format);
  int pen = x;
  for (int i = 0; i < length; ++i) {
    const auto code = static_cast<unsigned char>(text[i]);
    if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    const int top = y + font->ascent - g->bitmap_top;
    for (unsigned row = 0; row < bm.rows; ++row) {
      const unsigned char* bits = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
      for (unsigned col = 0; col < bm.width; ++col) {
        const bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((bits[col >> 3] >> (7 - (col & 7))) & 1) != 0
                                                            : bits[col] >= 128;
        if (on) put(pen + g->bitmap_left + static_cast<int>(col), top + static_cast<int>(row), fg);
      }
    }
    pen += static_cast<int>(g->advance.x >> 6);
  }
  surface->Touch();
  return TRUE;
}

extern "C" COLORREF WINAPI SetTextColor(HDC handle, COLORREF color) {
  DeviceContext* dc = LookupDC(handle);
  if (dc == nullptr) return 0xFFFFFFFF;  // CLR_INVALID
  const COLORREF old = dc->textColor;
  dc->textColor = color & 0x00FFFFFF;
  return old;
}

extern "C" COLORREF WINAPI SetBkColor(HDC handle, COLORREF color) {
  DeviceContext* dc = LookupDC(handle);
  if (dc == nullptr) return 0xFFFFFFFF;  // CLR_INVALID
  const COLORREF old = dc->backgroundColor;
  dc->backgroundColor = color & 0x00FFFFFF;
  return old;
}

extern "C" int WINAPI SetBkMode(HDC handle, int mode) {
  DeviceContext* dc = LookupDC(handle);
  if (dc == nullptr || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  const int old = dc->backgroundMode;
  dc->backgroundMode = mode;
  return old;
}
