// The System font as TextOutA draws it: the System-metrics bitmap font of
// Debian's fonts-wine package (a Windows FNT font: proportional, 16-pixel
// cell, ascent 13). Character codes are code page 1252 bytes, so text bytes
// index the glyphs directly; a byte the font lacks has its default character's
// glyph, as on Windows.
//
// The desktop build reads the font file through FreeType when text is first
// drawn; the web build compiles in the same glyphs, baked at build time by the
// same loader (FontBake).
#ifndef STANDIN_GDI_SYSTEMFONT_H
#define STANDIN_GDI_SYSTEMFONT_H

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct FontGlyph {
  bool present = false;  // false: the glyph could not be loaded and is skipped
  int advance = 0;       // pixels from this pen position to the next
  int left = 0;          // pixels from the pen to the bitmap's left column
  int top = 0;           // pixels from the baseline up to the bitmap's top row
  int width = 0;         // bitmap columns
  int rows = 0;          // bitmap rows
  int offset = 0;        // index of the bitmap's first pixel in SystemFont::pixels
};

struct SystemFont {
  int cellHeight = 0;  // pixels
  int ascent = 0;      // pixels from the cell top to the baseline
  FontGlyph glyphs[256];
  std::vector<uint8_t> pixels;  // rows of each bitmap, one byte a pixel: 1 ink, 0 none
};

// Reads the bitmap font at `path` through FreeType. False, with `error` naming
// the file and FreeType's error code, when it cannot.
bool LoadSystemFont(const char* path, SystemFont* font, std::string* error);

// The System font, loaded once; null (after a message on stderr) when it cannot be.
const SystemFont* GetSystemFont();

}  // namespace standin

#endif
