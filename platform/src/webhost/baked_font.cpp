// The System font compiled in (fontbake's output): the glyphs the desktop
// build reads from the font file, for a build without FreeType.
#include "gdi/SystemFont.h"

namespace standin {
namespace {
#include "system_font.inc"
}  // namespace

const SystemFont* GetSystemFont() {
  static const SystemFont* font = [] {
    auto* f = new SystemFont;
    f->cellHeight = kBakedCellHeight;
    f->ascent = kBakedAscent;
    for (int c = 0; c < 256; ++c) {
      const int* g = kBakedGlyphs[c];
      f->glyphs[c] = FontGlyph{g[0] != 0, g[1], g[2], g[3], g[4], g[5], g[6]};
    }
    f->pixels.assign(kBakedPixels, kBakedPixels + sizeof kBakedPixels - 1);
    return f;
  }();
  return font;
}

}  // namespace standin
