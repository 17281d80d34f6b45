// The System font read from its file through FreeType (FreeType reads Windows
// FNT/FON bitmap fonts).
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_WINFONTS_H

#include <cstdio>

#include "gdi/SystemFont.h"

#ifndef STANDIN_SYSTEM_FONT
#error "STANDIN_SYSTEM_FONT must name the System font file"
#endif

namespace standin {

bool LoadSystemFont(const char* path, SystemFont* font, std::string* error) {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  FT_Error status = FT_Init_FreeType(&library);
  if (status == 0) status = FT_New_Face(library, path, 0, &face);
  if (status == 0 && face->num_charmaps > 0) status = FT_Set_Charmap(face, face->charmaps[0]);
  FT_WinFNT_HeaderRec header;
  if (status == 0) status = FT_Get_WinFNT_Header(face, &header);
  // A bitmap font: select its one strike.
  if (status == 0) status = face->num_fixed_sizes > 0 ? FT_Select_Size(face, 0) : FT_Err_Invalid_File_Format;
  if (status == 0) {
    font->cellHeight = header.pixel_height;
    font->ascent = header.ascent;
    font->pixels.clear();
    for (int code = 0; code < 256; ++code) {
      FontGlyph& glyph = font->glyphs[code];
      glyph = FontGlyph{};
      if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) continue;
      const FT_GlyphSlot g = face->glyph;
      const FT_Bitmap& bm = g->bitmap;
      glyph.present = true;
      glyph.advance = static_cast<int>(g->advance.x >> 6);
      glyph.left = g->bitmap_left;
      glyph.top = g->bitmap_top;
      glyph.width = static_cast<int>(bm.width);
      glyph.rows = static_cast<int>(bm.rows);
      glyph.offset = static_cast<int>(font->pixels.size());
      for (unsigned row = 0; row < bm.rows; ++row) {
        const unsigned char* bits = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
        for (unsigned col = 0; col < bm.width; ++col) {
          const bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((bits[col >> 3] >> (7 - (col & 7))) & 1) != 0
                                                              : bits[col] >= 128;
          font->pixels.push_back(on ? 1 : 0);
        }
      }
    }
  }
  if (face != nullptr) FT_Done_Face(face);
  if (library != nullptr) FT_Done_FreeType(library);
  if (status != 0) {
    *error = std::string("cannot load the System font ") + path + " (FreeType error " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

const SystemFont* GetSystemFont() {
  static SystemFont font;
  static const bool loaded = [] {
    std::string error;
    if (LoadSystemFont(STANDIN_SYSTEM_FONT, &font, &error)) return true;
    std::fprintf(stderr, "TextOutA: %s\n", error.c_str());
    return false;
  }();
  return loaded ? &font : nullptr;
}

}  // namespace standin
